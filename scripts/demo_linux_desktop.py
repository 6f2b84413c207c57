#!/usr/bin/env python3
"""The Linux demo's desktop part, on a private Xvfb: the sample application
with a splash screen while it starts (screen saved), a second launch handing
its arguments to the running first one, and a copy without a fitting runtime
showing the "JRE Not Found" dialog (screen saved, then cancelled).

    demo_linux_desktop.py <the Linux demo folder> <JDK home>
"""
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "linux"))
import screen  # noqa: E402

SPLASH = (40, 110, 200)


def write_splash(path):
    screen.write_png(path, 360, 200, bytes(SPLASH) * 360 * 200)


def main(demo, jdk):
    display = screen.Display()
    status = 0
    try:
        env = dict(os.environ, DISPLAY=display.name, JAVA_HOME=jdk, TEMP=os.path.join(demo, "tmp"), NO_AT_BRIDGE="1",
                   XDG_CONFIG_HOME=os.path.join(demo, "config"), XDG_DATA_HOME=os.path.join(demo, "data"))
        env.pop("VEDA_LAUNCHER_TRACE", None)
        app = os.path.join(demo, "SingleApp")
        shutil.rmtree(app, ignore_errors=True)
        shutil.copytree(os.path.join(demo, "HelloApp"), app)
        write_splash(os.path.join(app, "splash.png"))
        ini = os.path.join(app, "HelloApp.ini")
        with open(ini, encoding="utf-8", newline="") as f:  # keeps its CRLF line ends
            text = f.read()
        with open(ini, "w", encoding="utf-8", newline="") as f:
            f.write(text.replace("[Application]\r\n", "[Application]\r\nSingle Instance=yes\r\n") +
                    "[Display]\r\nSplash Screen=splash.png\r\n")

        print("== first launch (splash screen, then the sample's window): build/demo/linux/SingleApp/HelloApp")
        first = subprocess.Popen([os.path.join(app, "HelloApp"), "first"], env=env, cwd=app,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        seen = None
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and seen is None:
            path, shot = display.screenshot("demo-linux-splash")
            if screen.pixel(shot, 640, 512) == SPLASH:
                seen = shutil.copy(path, os.path.join(os.path.dirname(demo), "linux-splash-screen.png"))
        print("   splash screen seen: %s" % (seen or "no"))
        status |= seen is None
        out_log = os.path.join(demo, "tmp", "HelloApp", "out.log")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not (os.path.exists(out_log) and "Greeting" in open(out_log).read()):
            time.sleep(0.05)

        print("== second launch: HelloApp \"report.txt\" \"notes 2.txt\"")
        second = subprocess.run([os.path.join(app, "HelloApp"), "report.txt", "notes 2.txt"], env=env, cwd=app,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        time.sleep(0.2)
        handed = [line for line in open(out_log, encoding="utf-8") if line.startswith("Handed over")]
        print("   the first instance printed: %s" % (handed[-1].strip() if handed else "(nothing)"))
        print("   the second launch's exit code (secondaryMain's answer): %d" % second.returncode)
        status |= second.returncode != 2 or not handed
        first.terminate()
        print("   first instance ended by SIGTERM: exit code %d" % first.wait(30))

        print("== a copy that needs a runtime the machine lacks (Minimum Version=99), started from the desktop")
        bare = os.path.join(demo, "NoRuntimeApp")
        dump = os.path.join(demo, "dialog.txt")
        if os.path.exists(dump):
            os.remove(dump)
        env_bare = dict(env, VEDA_LAUNCHER_DIALOG_DUMP=dump)
        env_bare.pop("JAVA_HOME")
        p = subprocess.Popen([os.path.join(bare, "HelloApp")], env=env_bare, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        title, widgets = screen.read_dump(dump)
        path, _ = display.screenshot("demo-linux-no-runtime-dialog")
        saved = shutil.copy(path, os.path.join(os.path.dirname(demo), "linux-no-runtime-dialog.png"))
        message = [w["text"] for w in widgets if w["type"] == "GtkLabel" and "not found" in w["text"]]
        print("   dialog \"%s\": %s" % (title, message[0] if message else "?"))
        print("   screen saved: %s" % saved)
        display.click(*screen.centre(screen.button(widgets, "Cancel")))
        code = p.wait(30)
        print("   Cancel pressed: exit code %d" % code)
        status |= code != 255 or title != "JRE Not Found"
    finally:
        display.close()
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
