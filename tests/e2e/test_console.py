"""The console flavour of the launcher end to end: launcher-console.exe with
its standard handles on files, as a shell with redirections starts it. Every
error goes to the standard error with its exact text, no window is ever
created, and the exit code reaches the caller whole."""

import os
import struct
import time
import unittest

import harness
from harness import LauncherCase, launcher_settings

ERROR_BAD_EXE_FORMAT = 193
ADDRESS = "https://adoptium.net/"
VENDOR_ROOTS = [(r"HKLM\SOFTWARE\%s" % v, view) for v in ("JavaSoft", "JRockit", "IBM")
                for view in (32, 64)]


def setUpModule():
    # The missing-runtime case must find nothing registered.
    harness.reg_apply(deletes=VENDOR_ROOTS)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def subsystem(path):
    """The PE optional header's subsystem field (2 windows, 3 console)."""
    data = read_bytes(path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, pe + 24 + 68)[0]


class ConsoleCase(LauncherCase):
    def make_console_app(self, settings, arch, runtime="jre", cfg=None):
        app = self.make_app(settings, runtime=None, arch=arch)
        app.install_launcher(arch, console=True)
        if runtime is not None:
            app.add_runtime(runtime, arch=arch, cfg=cfg)
        return app

    def run_console(self, app, args=(), stdin=b"", raw_args=None, **streams):
        """Runs the app with stdin from a file holding `stdin` and stdout and
        stderr into files; returns (result, stdout bytes, stderr bytes)."""
        paths = {name: os.path.join(app.case_dir, "std%s.bin" % name) for name in ("in", "out", "err")}
        with open(paths["in"], "wb") as f:
            f.write(stdin)
        streams.update({"stdin": paths["in"], "stdout": paths["out"], "stderr": paths["err"]})
        r = app.run(args, raw_args=raw_args, streams=streams, press="none")
        return r, read_bytes(paths["out"]), read_bytes(paths["err"])

    def assertNoWindow(self, r):
        # Neither a message box nor any other top-level window of the process.
        self.assertEqual(r.dialogs, [], r)
        self.assertEqual(r.windows, [], r)


class ConsoleFlavourTest(ConsoleCase):
    def test_executables_are_console_programs(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                self.assertEqual(subsystem(harness.launcher_path(arch, console=True)), 3)
                self.assertEqual(subsystem(harness.launcher_path(arch)), 2)

    def test_arguments_standard_streams_and_exit_code(self):
        stdin = "first line\r\nzweite Zeile \u00fc\u20ac\r\n".encode("utf-8")
        args = ["plain", "two words", "--opt=a b", "\u00e9t\u00e9", ""]
        for arch in ("x86", "x64"):
            for code in (0, 5, -3):
                with self.subTest(arch=arch, code=code):
                    app = self.make_console_app(launcher_settings(main_class="standin.Echo"), arch,
                                                cfg={"exit_code": code})
                    r, out, err = self.run_console(app, args, stdin=stdin)
                    self.assertExit(r, code)
                    self.assertNoWindow(r)
                    expected = "".join(a + "\r\n" for a in args).encode("utf-8") + stdin
                    self.assertEqual(out, expected)
                    self.assertEqual(err, b"")
                    self.assertEqual(self.one(r, "echoed")["bytes"], len(stdin))

    def test_argument_quoting_rule(self):
        # An argument is quoted as a whole; quotes inside an argument stay.
        app = self.make_console_app(launcher_settings(main_class="standin.Echo"), "x86")
        r, out, _ = self.run_console(app, raw_args='"--opt=a b" --opt="a b" x')
        self.assertExit(r, 0)
        self.assertEqual(self.main_args(r), ["--opt=a b", '--opt="a', 'b"', "x"])
        self.assertEqual(out, b'--opt=a b\r\n--opt="a\r\nb"\r\nx\r\n')

    def test_failures_are_told_on_standard_error(self):
        # (case, settings, runtime config, jvm.dll bytes or None, text with {home})
        cases = [
            ("no main class", launcher_settings(main_class=None), None, None,
             "Main class was not specified in INI file.\r\n"),
            ("no class path", launcher_settings(class_path=None), None, None,
             "Java Class Path was not specified in INI file.\r\n"),
            ("library not loadable", launcher_settings(), None, b"this is no image" * 64,
             "Failed to load Java VM library: {home}\\jre\\bin\\client\\jvm.dll (errno = %d).\r\n"
             % ERROR_BAD_EXE_FORMAT),
            ("creation fails", launcher_settings(), {"create_result": -4}, None,
             "JNI exception: failed to create the Java VM\r\nReason: not enough memory.\r\n"),
            ("creation fails, unknown code", launcher_settings(), {"create_result": -7}, None,
             "JNI exception: failed to create the Java VM\r\nReason: .\r\n"),
            # The pending error is printed by the runtime when the thread detaches.
            ("class name not made", launcher_settings(), {"fail": "NewCharArray:1"}, None,
             "Failed to load Main Class: standin/Records.\r\n"
             "Exception in thread \"main\" java.lang.OutOfMemoryError: injected failure of NewCharArray\r\n"),
            ("no main method", launcher_settings(main_class="standin.NoMain"),
             {"quiet_missing_method": 1}, None, "No main method found in specified class.\r\n"),
        ]
        for arch in ("x86", "x64"):
            for what, settings, cfg, dll, text in cases:
                with self.subTest(arch=arch, case=what):
                    app = self.make_console_app(settings, arch, runtime=None if dll else "jre", cfg=cfg)
                    if dll:
                        app.write_file("jre/bin/java.dll", b"")
                        app.write_file("jre/bin/client/jvm.dll", dll)
                    r, out, err = self.run_console(app, ["a"])
                    self.assertExit(r, -1)
                    self.assertNoWindow(r)
                    self.assertEqual(err.decode("utf-8"), text.format(home=app.win_path))
                    self.assertEqual(out, b"")

    def test_main_class_not_found_follows_the_described_exception(self):
        app = self.make_console_app(launcher_settings(main_class="com.example.App"), "x86")
        r, _, err = self.run_console(app)
        self.assertExit(r, -1)
        self.assertNoWindow(r)
        # The runtime describes the exception on the same stream first.
        self.assertTrue(err.endswith(b"Could not find the main class com/example/App.\r\n"), err)
        self.assertIn(b"java.lang.NoClassDefFoundError", err)

    def test_non_ascii_message_reads_back_exactly(self):
        name = "\u00e9t\u00e9.\u0416\u4e2d.App"
        app = self.make_console_app(launcher_settings(main_class=name), "x86")
        r, _, err = self.run_console(app)
        self.assertExit(r, -1)
        self.assertNoWindow(r)
        self.assertTrue(err.decode("utf-8").endswith(
            "Could not find the main class \u00e9t\u00e9/\u0416\u4e2d/App.\r\n"), err)

    def test_missing_runtime_is_told_and_ends_the_launch(self):
        cases = [({}, "The Java Runtime Environment (JRE) was not found. Please  download and install "
                      "a JRE (latest version) from:"),
                 ({"JVM Type": "server", "Minimum Version": "1.8"},
                  "The Java Runtime Environment (JRE) was not found. Please  download and install "
                  "a JRE with a server JVM (minimum version 1.8) from:")]
        for arch in ("x86", "x64"):
            for jre, message in cases:
                with self.subTest(arch=arch, jre=jre):
                    app = self.make_console_app(launcher_settings(jre=jre), arch, runtime=None)
                    r, out, err = self.run_console(app)
                    self.assertExit(r, -1)
                    self.assertNoWindow(r)
                    self.assertEqual(err.decode("utf-8"), message + "\r\n" + ADDRESS + "\r\n")
                    # Nothing was picked, so nothing was saved.
                    with open(app.ini_path(), encoding="utf-16") as f:
                        self.assertNotIn("JRE Path", f.read())

    def test_uncaught_exception_prints_its_trace_and_exits_with_1(self):
        for arch in ("x86", "x64"):
            for failure_check in ("Yes", None):
                with self.subTest(arch=arch, failure_check=failure_check):
                    app = self.make_console_app(
                        launcher_settings(main_class="standin.Throws", app={"Failure Check": failure_check}),
                        arch, cfg={"throw_message": "kaputt \u00e4", "throw_frames": 2})
                    r, out, err = self.run_console(app)
                    self.assertExit(r, 1)
                    self.assertNoWindow(r)
                    text = err.decode("utf-8")
                    self.assertIn("java.lang.RuntimeException: kaputt \u00e4", text)
                    self.assertIn("standin.Throws.main(Throws.java:1)", text)

    def test_splash_screen_is_skipped(self):
        app = self.make_console_app(launcher_settings(main_class="standin.Echo",
                                                      more=[("Display", [("Splash Screen", "splash.bmp")])]),
                                    "x86")
        r, out, err = self.run_console(app, ["x"])
        self.assertExit(r, 0)
        self.assertNoWindow(r)
        self.assertEqual(out, b"x\r\n")

    def test_output_file_still_applies(self):
        app = self.make_console_app(None, "x86")
        log = os.path.join(app.case_dir, "logs", "out.log")
        app.write_ini(launcher_settings(main_class="standin.Prints",
                                        app={"Output File": harness.to_windows_path(log)}))
        r, out, err = self.run_console(app)
        self.assertExit(r, 0)
        self.assertEqual(read_bytes(log), b"standin out\r\n")
        self.assertEqual(out, b"")
        self.assertEqual(err, b"standin err\r\n")


class ConsolePairTest(ConsoleCase):
    def test_paired_program_gets_the_streams_and_is_waited_for(self):
        # No "Pair Return Code": a console caller waits for the result anyway.
        stdin = b"through the pair\r\n"
        for first, other in (("x86", "x64"), ("x64", "x86")):
            with self.subTest(first=first):
                folder = harness.AppFolder.for_test(self, "pair " + first)
                partner = folder.install_launcher(other, "App2.exe", console=True)
                folder.install_launcher(first, "App.exe", console=True)
                folder.write_file("app.jar", b"")
                rt = folder.add_runtime("jre " + other, arch=other, cfg={"exit_code": 4})
                jre = {"JRE Path": rt.win_home}
                folder.write_ini(launcher_settings(main_class="standin.Echo", jre=jre, app={
                    "Pair Product": harness.to_windows_path(partner)}))
                folder.write_ini(launcher_settings(main_class="standin.Echo", jre=jre), name="App2.ini")
                r, out, err = self.run_console(folder, ["two words"], stdin=stdin)
                self.assertExit(r, 4)
                self.assertNoWindow(r)
                self.assertEqual(out, b"two words\r\n" + stdin)
                self.assertEqual(err, b"")
                loaded = [rec for rec in rt.records() if rec.get("event") == "loaded"]
                self.assertEqual([rec["bits"] for rec in loaded], [64 if first == "x86" else 32])


    def test_ctrl_c_during_the_pair_launch_waits_for_the_paired_program(self):
        # The paired program gets Ctrl+C from the console itself; the
        # launcher ignores it, waits and passes the exit code on.
        folder = harness.AppFolder.for_test(self, "pair ctrl-c")
        partner = folder.install_launcher("x64", "App2.exe", console=True)
        folder.install_launcher("x86", "App.exe", console=True)
        folder.write_file("app.jar", b"")
        rt = folder.add_runtime("jre x64", arch="x64", cfg={"exit_code": 4, "main_waits_ms": 60000})
        jre = {"JRE Path": rt.win_home}
        folder.write_ini(launcher_settings(main_class="standin.Exits", jre=jre, app={
            "Pair Product": harness.to_windows_path(partner)}))
        folder.write_ini(launcher_settings(main_class="standin.Exits", jre=jre), name="App2.ini")
        stop = os.path.join(rt.dll_dir, "standin.stop")
        self.addCleanup(lambda: open(stop, "w").close())
        out = os.path.join(folder.case_dir, "stdout.bin")
        running = harness.start_program(folder.exe, timeout=50, cwd=folder.case_dir,
                                        records_from=folder.runtimes, streams={"stdout": out})
        deadline = time.monotonic() + 40
        while not any(rec.get("event") == "main" for rec in rt.records()):
            self.assertLess(time.monotonic(), deadline, "main never ran: %r" % rt.records())
            time.sleep(0.1)
        harness.interrupt(folder.exe)
        open(stop, "w").close()
        r = running.wait()
        self.assertExit(r, 4)


class ConsoleControlTest(ConsoleCase):
    def test_ctrl_c_ends_the_program_through_its_exit(self):
        # Wine delivers Ctrl+C as SIGINT to the process; the launcher's
        # handler ends the program with System.exit(130). Ctrl+Break and
        # closing the console cannot be raised under Wine.
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_console_app(launcher_settings(main_class="standin.Sleeps"), arch,
                                            cfg={"sleep_ms": 60000})
                rt = list(app.runtimes.values())[0]
                out = os.path.join(app.case_dir, "stdout.bin")
                running = harness.start_program(app.exe, timeout=50, cwd=app.case_dir,
                                                records_from=app.runtimes, streams={"stdout": out})
                deadline = time.monotonic() + 40
                while not any(rec.get("event") == "main" for rec in rt.records()):
                    self.assertLess(time.monotonic(), deadline, "main never ran: %r" % rt.records())
                    time.sleep(0.1)
                harness.interrupt(app.exe)
                r = running.wait()
                self.assertExit(r, 130)
                self.assertNoWindow(r)
                attach = [a for a in self.records(r, "attach") if a.get("name") == "Console control"]
                self.assertEqual(len(attach), 1, r.records)
                self.assertEqual(self.one(r, "exit_hook")["code"], 130)
                self.assertLess(r.elapsed, 45)


if __name__ == "__main__":
    unittest.main()
