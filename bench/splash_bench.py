"""The measurements of bench/splash.sh (run it, not this file)."""

import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

import harness  # noqa: E402
import images  # noqa: E402
from harness import AppFolder, launcher_settings  # noqa: E402

COLOUR = (40, 120, 200)
WIDTH, HEIGHT = 320, 200
SCREEN = (1280, 1024)


def app_folder(splash, create_sleep_ms=0, launcher=None):
    app = AppFolder("app")
    if launcher:
        app.install_program(launcher, "App.exe")
    else:
        app.install_launcher()
    app.write_file("app.jar", b"")
    # With a splash, main runs a moment, so that the splash is up long enough
    # to be seen even when the virtual machine is created at once.
    app.add_runtime("jre", cfg={"create_sleep_ms": create_sleep_ms, "sleep_ms": 300 if splash else 0})
    display = []
    if splash:
        app.write_file("splash.bmp", images.bmp(images.solid(WIDTH, HEIGHT, COLOUR)))
        display = [("Display", {"Splash Screen": harness.to_windows_path(app.file("splash.bmp"))})]
    app.write_ini(launcher_settings(main_class="standin.Sleeps" if splash else "standin.Records", more=display))
    return app


def one_run(app, watch):
    request = []
    if watch:
        request.append(("watch_pixel", "%d,%d,%02X%02X%02X" % ((SCREEN[0] // 2, SCREEN[1] // 2) + COLOUR)))
    r = app.run(request=request, timeout=60)
    if r.exit_code != 0 or r.timed_out:
        sys.exit("splash bench: a run failed: %r" % r)
    times = {e["event"]: e["t_us"] / 1000.0 for e in r.records if "t_us" in e}
    if watch:
        if r.watch_pixel_us is None:
            sys.exit("splash bench: the splash never showed its colour: %r" % r)
        times["paint"] = r.watch_pixel_us / 1000.0
    times["elapsed"] = r.raw["elapsed_ms"]
    return times


def medians(samples, keys):
    return {k: statistics.median(s[k] for s in samples) for k in keys}


def main():
    runs = int(sys.argv[1])
    base_launcher = sys.argv[2]
    fast, slow = app_folder(True), app_folder(True, create_sleep_ms=2000)
    plain_new, plain_old = app_folder(False), app_folder(False, launcher=base_launcher)
    for app, watch in ((fast, True), (slow, True), (plain_new, False), (plain_old, False)):
        one_run(app, watch)  # warm-up: Wine, file cache
    results = {"fast": [], "slow": [], "new": [], "old": []}
    print("timing %d runs of each..." % runs)
    for i in range(runs):
        results["fast"].append(one_run(fast, True))
        results["slow"].append(one_run(slow, True))
        # Alternate which no-splash launcher goes first.
        order = (("new", plain_new), ("old", plain_old)) if i % 2 == 0 else (("old", plain_old), ("new", plain_new))
        for name, app in order:
            results[name].append(one_run(app, False))

    print()
    print("medians over %d runs, milliseconds from process start (Wine, stand-in runtime)" % runs)
    print("%-44s %10s %12s %10s" % ("", "1st paint", "jvm.dll in", "main"))
    for key, label in (("fast", "splash, VM created at once"), ("slow", "splash, VM creation takes 2 s")):
        m = medians(results[key], ("paint", "loaded", "main"))
        print("%-44s %10.1f %12.1f %10.1f" % (label, m["paint"], m["loaded"], m["main"]))
    print()
    print("%-44s %12s %10s %10s" % ("no splash", "jvm.dll in", "main", "whole run"))
    for key, label in (("new", "this build"), ("old", "before the splash screen")):
        m = medians(results[key], ("loaded", "main", "elapsed"))
        print("%-44s %12.1f %10.1f %10.1f" % (label, m["loaded"], m["main"], m["elapsed"]))
    print()
    for label, path in (("this build", harness.launcher_path()), ("before", base_launcher)):
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True, text=True).stdout
        dlls = [line.split("DLL Name:")[1].strip() for line in dump.splitlines() if "DLL Name:" in line]
        print("%-12s %7d bytes, imports %s" % (label, os.path.getsize(path), ", ".join(dlls)))


if __name__ == "__main__":
    main()
