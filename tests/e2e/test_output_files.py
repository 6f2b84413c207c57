"""The Java program's standard output and error in the files of "Output
File" and "Error File", end to end: the folders made for them, the calls
the runtime receives, one file named by both settings, and names that
cannot be opened."""

import os
import unittest

import harness
from harness import LauncherCase, launcher_settings


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


class OutputFilesTest(LauncherCase):
    def make_printer(self, **app):
        return self.make_app(launcher_settings(main_class="standin.Prints", app=app))

    def test_missing_folders_are_made_and_both_streams_land_in_their_files(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(arch=arch)
                out = os.path.join(app.case_dir, "logs", "app", "out.log")
                err = os.path.join(app.case_dir, "logs", "err", "err.log")
                app.write_ini(launcher_settings(main_class="standin.Prints", app={
                    "Output File": harness.to_windows_path(out),
                    "Error File": harness.to_windows_path(err)}))
                r = app.run()
                self.assertExit(r, 0)
                self.assertNoBox(r)
                self.assertEqual(read(out), "standin out\r\n")
                self.assertEqual(read(err), "standin err\r\n")
                # Output first, each opened once, installed before main runs.
                events = [e for e in r.events() if e in ("open_file", "set_out", "set_err", "main")]
                self.assertEqual(events, ["open_file", "set_out", "open_file", "set_err", "main"])
                self.assertEqual(self.one(r, "set_out")["path"], harness.to_windows_path(out))
                self.assertEqual(self.one(r, "set_err")["path"], harness.to_windows_path(err))
                self.assertEqual([p["target"] for p in self.records(r, "print")], ["file", "file"])
                self.assertEqual(self.one(r, "detach")["live_locals"], 0)

    def test_an_existing_file_is_emptied(self):
        app = self.make_app()
        out = app.write_file("out.log", "earlier content that is longer than the new\r\n" * 3)
        app.write_ini(launcher_settings(main_class="standin.Prints",
                                        app={"Output File": harness.to_windows_path(out)}))
        r = app.run()
        self.assertExit(r, 0)
        self.assertEqual(read(out), "standin out\r\n")
        # Only output was asked for: the error stream stays the process's.
        self.assertEqual(self.records(r, "set_err"), [])
        self.assertEqual([p["target"] for p in self.records(r, "print")], ["file", "process"])

    def test_only_the_error_file(self):
        app = self.make_app()
        err = os.path.join(app.case_dir, "err.log")
        app.write_ini(launcher_settings(main_class="standin.Prints",
                                        app={"Error File": harness.to_windows_path(err)}))
        r = app.run()
        self.assertExit(r, 0)
        self.assertEqual(self.records(r, "set_out"), [])
        self.assertEqual(read(err), "standin err\r\n")

    def test_one_file_for_both_streams_is_opened_once(self):
        app = self.make_app()
        both = os.path.join(app.case_dir, "\u03a9\u03bc\u03ad\u03b3\u03b1", "both.log")
        # Other spellings of the same file: other case (also of letters with
        # accents beyond Latin), a detour.
        other = os.path.join(app.case_dir, "sub", "..", "\u03a9\u03bc\u03ad\u03b3\u03b1", "BOTH.LOG")
        greek = os.path.join(app.case_dir, "\u03a9\u039c\u0388\u0393\u0391", "both.log")
        os.makedirs(os.path.join(app.case_dir, "sub"))
        for name in (both, other, greek):
            with self.subTest(error_file=name):
                app.write_ini(launcher_settings(main_class="standin.Prints", app={
                    "Output File": harness.to_windows_path(both),
                    "Error File": harness.to_windows_path(name)}))
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(len(self.records(r, "open_file")), 1)
                self.assertEqual(self.one(r, "set_err")["path"], self.one(r, "set_out")["path"])
                self.assertEqual(read(both), "standin out\r\nstandin err\r\n")

    def test_a_relative_name_in_a_missing_folder_stays_unredirected(self):
        app = self.make_app()
        app.write_ini(launcher_settings(main_class="standin.Prints", app={"Output File": "logs\\out.log"}))
        r = app.run()
        self.assertExit(r, 0)
        self.assertNoBox(r)
        self.assertFalse(os.path.exists(os.path.join(app.cwd, "logs")))
        self.assertFalse(self.one(r, "open_file")["ok"])
        self.assertEqual([d["class"] for d in self.records(r, "describe")], ["java/io/FileNotFoundException"])
        self.assertEqual(self.records(r, "set_out"), [])
        self.assertEqual([p["target"] for p in self.records(r, "print")], ["process", "process"])

    def test_the_error_file_receives_the_launchers_own_descriptions(self):
        # A missing main class is described on the redirected error stream.
        app = self.make_app()
        err = os.path.join(app.case_dir, "err.log")
        app.write_ini(launcher_settings(main_class="com.example.Missing",
                                        app={"Error File": harness.to_windows_path(err)}))
        r = app.run()
        self.assertExit(r, -1)
        self.assertOneBox(r, "Could not find the main class com/example/Missing.\n")
        self.assertTrue(read(err).startswith(
            'Exception in thread "main" java.lang.NoClassDefFoundError: com/example/Missing'), read(err))


if __name__ == "__main__":
    unittest.main()
