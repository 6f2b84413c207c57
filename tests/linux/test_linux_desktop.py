"""The Linux launcher on a desktop (a private Xvfb): its dialogs found on the
screen, read back through GTK, answered with the mouse and keyboard, and
photographed; the runtime's splash screen; and the cases where no dialog may
appear (a terminal, no display, no GTK)."""
import os
import pty
import socket
import subprocess
import time
import unittest

import screen
from linux_harness import JDK17, LinuxCase, settings_text

NOT_FOUND = "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE (%s) from:"


class DesktopCase(LinuxCase):
    @classmethod
    def setUpClass(cls):
        cls.display = screen.Display()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def setUp(self):
        super().setUp()
        self.dump = os.path.join(self.dir, "dialog.txt")

    def desktop_env(self, **overrides):
        overrides.setdefault("DISPLAY", self.display.name)
        overrides.setdefault("VEDA_LAUNCHER_DIALOG_DUMP", self.dump)
        # Its own GTK settings and caches, and no accessibility bus to wait for.
        overrides.setdefault("NO_AT_BRIDGE", "1")
        overrides.setdefault("XDG_CONFIG_HOME", os.path.join(self.dir, "config"))
        overrides.setdefault("XDG_DATA_HOME", os.path.join(self.dir, "data"))
        return self.env(**overrides)

    def start(self, exe, args=(), env=None):
        return subprocess.Popen([exe] + list(args), env=env or self.desktop_env(), cwd=self.dir,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def dialog_process(self, launcher):
        """The process id of the launcher's child (the dialog process)."""
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except (OSError, IndexError):
                continue
            if int(fields[1]) == launcher.pid:
                return int(entry)
        self.fail("no dialog process")

    def descriptors(self, pid, skip=()):
        """What the process's descriptors lead to (files, sockets, pipes)."""
        found = set()
        for fd in os.listdir("/proc/%d/fd" % pid):
            if int(fd) not in skip:
                try:
                    found.add(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
                except OSError:
                    pass
        return found

    def finish(self, process, timeout=60):
        out, err = process.communicate(timeout=timeout)
        return process.returncode, out.decode(), err.decode()

    def texts(self, widgets, kind):
        return [w["text"] for w in widgets if w["type"] == kind]

    def click(self, widgets, text):
        self.display.click(*screen.centre(screen.button(widgets, text)))


class MessageBoxTest(DesktopCase):
    def test_message_box_has_the_windows_text_and_title(self):
        exe = self.app(settings="[Java Runtime Environment]\n[Class Path]\nClass Path=\\lib\\probe-app.jar\n")
        p = self.start(exe)
        title, widgets = screen.read_dump(self.dump)
        self.assertEqual(title, "Error")
        self.assertIn("Main class was not specified in INI file.", self.texts(widgets, "GtkLabel"))
        path, shot = self.display.screenshot("linux-message-box")
        ok = screen.button(widgets, "OK")
        # The box is on the screen: its button is not the empty screen's black.
        self.assertNotEqual(screen.pixel(shot, *screen.centre(ok)), (0, 0, 0), path)
        self.click(widgets, "OK")
        code, out, err = self.finish(p)
        self.assertEqual(code, 255)
        self.assertEqual(err, "Main class was not specified in INI file.\n")

    def test_no_dialog_in_a_terminal_without_a_display_or_without_gtk(self):
        exe = self.app(settings="[Java Runtime Environment]\n[Class Path]\nClass Path=\\lib\\probe-app.jar\n")
        cases = [
            ("a terminal", {}, "stderr"),
            # out=$(tool 2>&1) typed in a terminal: nobody would see the dialog.
            ("output captured in a terminal", {}, "stdin"),
            ("no display", {"DISPLAY": None}, None),
            ("no GTK", {"VEDA_LAUNCHER_GTK_LIBRARY": os.path.join(self.dir, "no-such-libgtk.so")}, None),
            ("dialogs never", {"VEDA_LAUNCHER_DIALOGS": "NEVER"}, None),
        ]
        for name, overrides, terminal in cases:
            with self.subTest(name):
                env = self.desktop_env(**overrides)
                if terminal == "stderr":
                    master, slave = pty.openpty()
                    p = subprocess.Popen([exe], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=slave)
                    os.close(slave)
                    code = p.wait(30)
                    err = os.read(master, 4096).decode()
                    os.close(master)
                elif terminal == "stdin":
                    master, slave = pty.openpty()
                    r = subprocess.run([exe], env=env, stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       timeout=30)
                    os.close(slave)
                    os.close(master)
                    code, err = r.returncode, r.stdout.decode()
                else:
                    r = self.run_app(exe, env=env, timeout=30)
                    code, err = r.returncode, r.stderr.decode()
                self.assertEqual(code, 255)
                self.assertEqual(err.replace("\r\n", "\n"), "Main class was not specified in INI file.\n")
                self.assertFalse(os.path.exists(self.dump), "a dialog was shown")


    def test_a_long_word_wraps_within_the_screen(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(main="a" * 3000))
        p = self.start(exe)
        title, widgets = screen.read_dump(self.dump)
        self.assertTrue(any(("a" * 3000) in w["text"] for w in widgets if w["type"] == "GtkLabel"))
        self.assertLessEqual(max(w["x"] + w["w"] for w in widgets), 1280)
        self.click(widgets, "OK")
        self.assertEqual(self.finish(p)[0], 255)

    def test_a_stray_dialog_variable_is_ignored(self):
        # One letter from VEDA_LAUNCHER_DIALOGS, with descriptor 3 an open
        # pipe: the program runs as always.
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app()
        read_end, write_end = os.pipe()
        try:
            r = subprocess.run([exe, "x"], env=self.desktop_env(VEDA_LAUNCHER_DIALOG="1"), cwd=self.dir,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               close_fds=False, preexec_fn=lambda: os.dup2(read_end, 3), timeout=30)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"main [x]\n")


class MissingRuntimeTest(DesktopCase):
    def no_runtime_app(self, **runtime):
        runtime.setdefault("Minimum Version", "11")
        return self.app(settings=settings_text(runtime=runtime, application=None,
                                               extra="[Product Information]\nProduct Name=Desk App\nProduct Code=7"))

    def test_texts_link_cancel_and_escape(self):
        exe = self.no_runtime_app()
        for answer in ("Cancel", "Escape"):
            with self.subTest(answer):
                if os.path.exists(self.dump):
                    os.remove(self.dump)
                p = self.start(exe)
                title, widgets = screen.read_dump(self.dump)
                self.assertEqual(title, "JRE Not Found")
                labels = self.texts(widgets, "GtkLabel")
                self.assertIn(NOT_FOUND % "minimum version 11.0", labels)
                self.assertIn("If you have a JRE installed you can browse for it below:", labels)
                self.assertIn("Missing JRE", labels)
                self.assertEqual(self.texts(widgets, "GtkLinkButton"), ["https://adoptium.net/"])
                self.assertFalse(screen.button(widgets, "OK")["sensitive"])
                self.display.screenshot("linux-missing-runtime-dialog")
                if answer == "Cancel":
                    self.click(widgets, "Cancel")
                else:
                    self.display.key("JRE Not Found", "Escape")
                code, out, err = self.finish(p)
                self.assertEqual(code, 255)
                self.assertEqual(err, NOT_FOUND % "minimum version 11.0" + "\nhttps://adoptium.net/\n")

    def pick(self, folder):
        """Browse..., then types the folder into the chooser and selects it."""
        _, widgets = screen.read_dump(self.dump)
        shown = os.path.getmtime(self.dump)
        self.click(widgets, "Browse...")
        title, chooser = screen.read_dump(self.dump, after=shown)
        self.assertEqual(title, "Browse for JRE folder")
        self.assertEqual(self.texts(chooser, "GtkButton")[-2:], ["Cancel", "Select"])
        shown = os.path.getmtime(self.dump)
        self.display.key("Browse for JRE folder", "ctrl+l")
        self.display.xdotool("type", "--delay", "5", folder + "/")
        # Enter takes the completion, opens the folder, then selects it.
        deadline = time.monotonic() + 10
        while os.path.getmtime(self.dump) == shown and time.monotonic() < deadline:
            self.display.xdotool("key", "Return")
            time.sleep(0.3)
        title, widgets = screen.read_dump(self.dump, after=shown)
        self.assertEqual(title, "JRE Not Found")
        return widgets

    def test_pick_enables_ok_only_for_a_runtime_is_saved_and_used_next_time(self):
        exe = self.no_runtime_app()
        empty = os.path.join(self.dir, "not-a-runtime")
        os.makedirs(empty)
        runtime = os.path.join(self.dir, "my-jdk")
        os.symlink(JDK17, runtime)
        p = self.start(exe, ["laf"])
        widgets = self.pick(empty)
        self.assertEqual(self.texts(widgets, "GtkEntry"), [empty])
        self.assertFalse(screen.button(widgets, "OK")["sensitive"])
        widgets = self.pick(runtime)
        self.assertTrue(screen.button(widgets, "OK")["sensitive"])
        self.display.screenshot("linux-missing-runtime-picked")
        self.click(widgets, "OK")
        code, out, err = self.finish(p)
        self.assertEqual(code, 0, err)
        # The program runs in a process that never loaded a toolkit: the
        # runtime's own GTK look and feel works.
        self.assertIn("look and feel GTK look and feel", out)
        saved = os.path.join(self.dir, "config", "Desk App", "7", "MyApp.ini")
        with open(saved, "rb") as f:
            self.assertTrue(f.read().startswith(b"\xff\xfe"), "a new per-user file is UTF-16")
        # The next launch takes the saved folder without asking.
        os.remove(self.dump)
        r = self.run_app(exe, ["property:java.home"], env=self.desktop_env())
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("java.home=" + os.path.realpath(JDK17), r.stdout.decode())
        self.assertFalse(os.path.exists(self.dump))


    def test_enter_is_ok_once_ok_is_enabled_and_never_the_link(self):
        exe = self.no_runtime_app()
        runtime = os.path.join(self.dir, "my-jdk")
        os.symlink(JDK17, runtime)
        p = self.start(exe)
        _, widgets = screen.read_dump(self.dump)
        # The first focus is on the path field, not on the link.
        self.assertEqual([w["type"] for w in widgets if w["focus"]], ["GtkEntry"])
        widgets = self.pick(runtime)
        self.assertEqual([w["type"] for w in widgets if w["focus"]], ["GtkEntry"])
        self.display.key("JRE Not Found", "Return")
        code, out, err = self.finish(p, timeout=30)
        self.assertEqual(code, 0, err)


class ExceptionDialogTest(DesktopCase):
    def test_trace_ignore_and_stop(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(application={"Failure Check": "Yes"}))
        for answer, code in (("Ignore", 1), ("Stop", 255), ("Escape", 255)):
            with self.subTest(answer):
                if os.path.exists(self.dump):
                    os.remove(self.dump)
                p = self.start(exe, ["throw:d\u00e9j\u00e0 \U0001F600"])
                title, widgets = screen.read_dump(self.dump)
                self.assertEqual(title, "Java Exception")
                trace = self.texts(widgets, "GtkTextView")
                self.assertEqual(len(trace), 1)
                self.assertTrue(trace[0].startswith(
                    "java.lang.IllegalStateException: thrown by main: d\u00e9j\u00e0 \U0001F600\n\tat app.Probe.main"),
                    trace[0])
                self.assertIn("The java process has thrown the following uncaught exception:",
                              self.texts(widgets, "GtkLabel"))
                if answer == "Ignore":
                    self.display.screenshot("linux-exception-dialog")
                if answer == "Escape":
                    self.display.key("Java Exception", "Escape")
                else:
                    self.click(widgets, answer)
                result, out, err = self.finish(p)
                self.assertEqual(result, code, err)
                self.assertIn("java.lang.IllegalStateException: thrown by main", err)


    def test_the_dialog_ends_with_the_program_and_holds_none_of_its_descriptors(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(application={"Failure Check": "Yes"}))
        port, go = os.path.join(self.dir, "port"), os.path.join(self.dir, "go")
        p = self.start(exe, ["listen:" + port, "exitwhen:" + go, "throw:x"])
        screen.read_dump(self.dump)
        dialog = self.dialog_process(p)
        # The trace is on the standard error while the dialog is up.
        os.set_blocking(p.stderr.fileno(), False)
        try:
            early = os.read(p.stderr.fileno(), 65536)
        except BlockingIOError:
            early = b""
        os.set_blocking(p.stderr.fileno(), True)
        self.assertIn(b"IllegalStateException: thrown by main: x", early)
        # Nothing of the program's (its listening socket among them): the
        # standard streams and the answer pipe only.
        self.assertEqual(self.descriptors(dialog, skip=(0, 1, 2, 4)) & self.descriptors(p.pid), set())
        # The program ends from another thread while the dialog is up.
        open(go, "w").close()
        self.assertEqual(p.wait(timeout=30), 3)
        p.communicate()
        deadline = time.monotonic() + 10
        while os.path.exists("/proc/%d" % dialog):
            with open("/proc/%d/stat" % dialog) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    break
            self.assertLess(time.monotonic(), deadline, "the dialog outlived the launcher")
            time.sleep(0.02)
        with open(port) as f, socket.socket() as again:
            again.bind(("127.0.0.1", int(f.read())))

    def test_the_dialog_is_the_programs_own_ordinary_window(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(application={"Failure Check": "Yes"}))
        p = self.start(exe, ["throw:a\\0b"])
        _, widgets = screen.read_dump(self.dump)
        # A NUL is shown as its symbol, not as an empty trace.
        self.assertTrue(self.texts(widgets, "GtkTextView")[0].startswith(
            "java.lang.IllegalStateException: thrown by main: a\u2400b\n"), widgets)
        dialog = self.dialog_process(p)
        with open("/proc/%d/cmdline" % dialog, "rb") as f:
            self.assertEqual(f.read().split(b"\0")[0], os.path.realpath(exe).encode())
        with open("/proc/%d/comm" % dialog) as f:
            self.assertEqual(f.read(), "MyApp\n")
        properties = self.display.window_properties("Java Exception", "WM_CLASS", "_NET_WM_STATE")
        # Grouped with the program's windows, whose class the runtime names
        # after the main class; and not kept above every other window.
        self.assertIn('WM_CLASS(STRING) = "MyApp", "app-Probe"', properties)
        self.assertNotIn("_NET_WM_STATE_ABOVE", properties)
        self.display.key("Java Exception", "Escape")
        self.assertEqual(self.finish(p)[0], 255)

    def test_without_a_display_the_runtime_reports_the_exception(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(application={"Failure Check": "Yes"}))
        r = self.run_app(exe, ["throw:x"], env=self.desktop_env(DISPLAY=None))
        self.assertEqual(r.returncode, 1)
        # The runtime's own report, header line included (the program's
        # uncaught-exception handler would run here too).
        self.assertIn(b'Exception in thread "main" java.lang.IllegalStateException: thrown by main: x', r.stderr)
        self.assertFalse(os.path.exists(self.dump))


class SplashTest(DesktopCase):
    def test_runtime_splash_while_main_runs(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        image = os.path.join(self.dir, "app", "splash.png")
        os.makedirs(os.path.dirname(image), exist_ok=True)
        screen.write_png(image, 200, 120, bytes((230, 40, 150)) * 200 * 120)
        exe = self.app(settings=settings_text(extra="[Display]\nSplash Screen=splash.png"))
        ready, seen = os.path.join(self.dir, "ready"), os.path.join(self.dir, "seen")
        env = self.desktop_env()
        p = subprocess.Popen([exe, "splashurl", "ready:" + ready, "waitfile:" + seen], env=env, cwd=os.path.dirname(exe),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertTrue(self.wait_for_file(ready), p.stderr.read() if p.poll() is not None else "main did not run")
        path, shot = self.display.screenshot("linux-splash")
        self.assertEqual(screen.pixel(shot, 640, 512), (230, 40, 150), path)
        open(seen, "w").close()
        code, out, err = self.finish(p)
        self.assertEqual(code, 0, err)
        # The address the java command gives for a -splash: file.
        self.assertRegex(out, r"splash file:/\S*/app/splash\.png\n")
        _, after = self.display.screenshot("linux-splash-gone")
        self.assertNotEqual(screen.pixel(after, 640, 512), (230, 40, 150))

        # "-nosplash", and no display: no splash, the launch goes on.
        for args, overrides in ((["-nosplash"], {}), ([], {"DISPLAY": None})):
            with self.subTest(args=args, overrides=overrides):
                open(seen, "w").close()
                os.remove(ready)
                p = subprocess.Popen([exe, "ready:" + ready] + args, env=self.desktop_env(**overrides),
                                     cwd=os.path.dirname(exe), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                code, out, err = self.finish(p)
                self.assertEqual(code, 0, err)
                self.assertEqual(err, "")


    def test_runtime_splash_closed_behind_the_exception_dialog(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        image = os.path.join(self.dir, "app", "splash.png")
        os.makedirs(os.path.dirname(image), exist_ok=True)
        # Larger than the dialog: its edge shows around the dialog.
        screen.write_png(image, 1000, 900, bytes((230, 40, 150)) * 1000 * 900)
        exe = self.app(settings=settings_text(application={"Failure Check": "Yes"},
                                              extra="[Display]\nSplash Screen=splash.png"))
        ready, seen = os.path.join(self.dir, "ready"), os.path.join(self.dir, "seen")
        p = subprocess.Popen([exe, "ready:" + ready, "waitfile:" + seen, "throw:x"], env=self.desktop_env(),
                             cwd=os.path.dirname(exe), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        self.assertTrue(self.wait_for_file(ready), p.stderr.read() if p.poll() is not None else "main did not run")
        edge = (150, 80)
        path, shot = self.display.screenshot("linux-splash-before-exception")
        self.assertEqual(screen.pixel(shot, *edge), (230, 40, 150), path)
        open(seen, "w").close()
        screen.read_dump(self.dump)
        path, shot = self.display.screenshot("linux-exception-dialog-over-splash")
        self.assertNotEqual(screen.pixel(shot, *edge), (230, 40, 150), path)
        self.display.key("Java Exception", "Escape")
        self.assertEqual(self.finish(p)[0], 255)


if __name__ == "__main__":
    unittest.main()
