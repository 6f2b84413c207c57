"""The paired program end to end, with both built launchers: the 32-bit one
starts the 64-bit one when the runtime is an x64 one, and back; the user's
arguments reach the paired program's main unchanged; "Pair Return Code";
a paired program that cannot be started; no endless mutual start."""

import os
import time
import unittest

import harness
from harness import LauncherCase, launcher_settings

# Blanks and characters beyond ASCII (and beyond the ANSI code page).
FOLDER = "Pair Äpp 日本 x"
NOT_STARTED = "Windows exception: %s (errno = %d).\n"
ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT = 2, 193
# Left as written when the variable is not set.
MARK = "-Dmark=%VEDA_LAUNCHER_PAIRED%"


class PairCase(LauncherCase):
    def make_pair(self, first="x86", main_class="standin.Records", app=(), partner_app=(), cfg=None):
        """One folder: App.exe of the `first` build, whose "JRE Path" is a
        runtime of the other build, and App2.exe, the other build, whose
        "JRE Path" is that same runtime."""
        other = "x64" if first == "x86" else "x86"
        folder = harness.AppFolder.for_test(self, FOLDER)
        folder.install_launcher(other, "App2.exe")
        self.partner_exe = folder.exe
        folder.install_launcher(first, "App.exe")
        folder.write_file("app.jar", b"")
        self.rt = folder.add_runtime("jre " + other, arch=other, cfg=cfg)
        jre = {"JRE Path": self.rt.win_home}
        folder.write_ini(launcher_settings(main_class=main_class, jre=jre,
                                           app=[("Pair Product", harness.to_windows_path(self.partner_exe))]
                                           + list(app)))
        folder.write_ini(launcher_settings(main_class=main_class, jre=jre, app=list(partner_app)),
                         name="App2.ini")
        return folder

    def mains(self):
        return [r for r in self.rt.records() if r.get("event") == "main"]

    def wait_for_main(self, count=1, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if len(self.mains()) >= count:
                return self.mains()
            time.sleep(0.1)
        self.fail("paired program's main did not run: %r" % self.rt.records())


class PairLaunchTest(PairCase):
    def test_paired_program_receives_exactly_the_arguments_both_ways(self):
        raw = '"a b"  "" Äpp\\日本.txt c"d "x y'
        expected = ["a b", "", "Äpp\\日本.txt", 'c"d', "x y"]
        for first in ("x86", "x64"):
            with self.subTest(first=first):
                app = self.make_pair(first, app=[("Pair Return Code", "yes")])
                # The pair launch's mark is gone before the machine starts.
                app.write_ini(launcher_settings(jre={"JRE Path": self.rt.win_home,
                                                     "Virtual Machine Parameters": MARK}), name="App2.ini")
                r = app.run(raw_args=raw)
                self.assertExit(r, 0)
                self.assertNoBox(r)
                (main,) = self.mains()
                self.assertEqual(main["args"], expected)
                # The runtime was loaded by the paired program alone.
                loaded = [rec for rec in self.rt.records() if rec.get("event") == "loaded"]
                self.assertEqual(len(loaded), 1)
                self.assertEqual(loaded[0]["bits"], 64 if first == "x86" else 32)
                self.assertIn(MARK, self.options(r))

    def test_pair_return_code_passes_the_exit_code_on(self):
        for value, code in (("yes", 3), ("YES", 3), ("", 0), ("no", 0)):
            with self.subTest(value=value):
                app = self.make_pair(main_class="standin.Exits", cfg={"exit_code": 3},
                                     app=[("Pair Return Code", value)])
                r = app.run(["x"])
                self.assertExit(r, code)
                self.wait_for_main()

    def test_relative_pair_product_is_taken_against_the_working_directory(self):
        app = self.make_pair(app=[("Pair Product", "App2.exe"), ("Override WorkingDir", "Yes"),
                                  ("Pair Return Code", "yes")])
        r = app.run(["one"])
        self.assertExit(r, 0)
        self.assertEqual(self.mains()[0]["args"], ["one"])


class PairFailureTest(PairCase):
    def assertNotStarted(self, r, path, code):
        self.assertExit(r, -1)
        self.assertOneBox(r, NOT_STARTED % (path, code))

    def test_missing_paired_program_is_reported(self):
        app = self.make_pair()
        missing = harness.to_windows_path(app.file("Missing 日本.exe"))
        app.write_ini(launcher_settings(jre={"JRE Path": self.rt.win_home},
                                        app={"Pair Product": missing, "Pair Return Code": "yes"}))
        self.assertNotStarted(app.run(["a"]), missing, ERROR_FILE_NOT_FOUND)
        self.assertEqual(self.mains(), [])

    def test_a_program_name_with_arguments_is_one_file_name(self):
        app = self.make_pair()
        value = harness.to_windows_path(self.partner_exe) + " -x"
        app.write_ini(launcher_settings(jre={"JRE Path": self.rt.win_home}, app={"Pair Product": value}))
        self.assertNotStarted(app.run(), value, ERROR_FILE_NOT_FOUND)

    def test_no_endless_mutual_start(self):
        # The launcher itself, or another launcher of the same build, as the
        # paired program: either would start itself again without end.
        app = self.make_pair()
        own_build_copy = app.install_program(harness.launcher_path("x86"), "Other32.exe")
        app.exe = app.file("App.exe")
        for target in (app.exe, own_build_copy):
            with self.subTest(target=os.path.basename(target)):
                path = harness.to_windows_path(target)
                app.write_ini(launcher_settings(jre={"JRE Path": self.rt.win_home},
                                                app={"Pair Product": path, "Pair Return Code": "yes"}))
                r = app.run(timeout=60)
                self.assertNotStarted(r, path, ERROR_BAD_EXE_FORMAT)
        self.assertEqual(self.mains(), [])

    def test_builds_whose_runtimes_are_each_others_start_each_other_once(self):
        # Each build's "JRE Path" names the other build's processor. The
        # paired program, marked by its starter, does not pair back: it
        # searches on and asks for a runtime (cancelled here).
        app = self.make_pair(app=[("Pair Return Code", "yes")])
        own = app.add_runtime("jre x86", arch="x86")
        app.write_ini(launcher_settings(jre={"JRE Path": own.win_home}, app={
            "Pair Product": harness.to_windows_path(app.file("App.exe")), "Pair Return Code": "yes"}),
            name="App2.ini")
        app.exe = app.file("App.exe")
        r = app.run(press=harness.IDCANCEL, timeout=20)
        self.assertExit(r, -1)
        self.assertEqual(r.titles, [harness.RUNTIME_DIALOG_TITLE])
        self.assertEqual(self.mains(), [])

    def test_runtime_for_another_processor_is_no_reason_to_pair(self):
        # An ARM64 jvm.dll: neither build can host it, so no paired start; it
        # is loaded directly and fails like any unloadable library.
        app = self.make_pair()
        arm = harness.patch_image(self.rt.dll, os.path.join(app.path, "arm", "bin", "client", "jvm.dll"),
                                  machine=0xAA64)
        app.write_ini(launcher_settings(jre={"JRE Path": harness.to_windows_path(app.file("arm"))},
                                        app={"Pair Product": harness.to_windows_path(self.partner_exe)}))
        r = app.run()
        self.assertExit(r, -1)
        self.assertEqual(len(r.texts), 1, r)
        self.assertTrue(r.texts[0].startswith("Failed to load Java VM library: %s" % harness.to_windows_path(arm)),
                        r.texts)
        self.assertEqual(self.mains(), [])


class PairWithSingleInstanceTest(PairCase):
    def test_a_pair_launch_leaves_no_first_instance_behind(self):
        # Both programs are single-instance. The 32-bit launcher pairs and
        # releases its objects, so the next launch pairs again, and the
        # 64-bit program's first instance gets the documents.
        single = [("Single Instance", "yes")]
        app = self.make_pair(main_class="standin.SecondaryInt", app=single + [("Pair Return Code", "yes")],
                             partner_app=single, cfg={"main_waits_ms": 120000, "secondary_result": 7})
        stop = os.path.join(self.rt.dll_dir, "standin.stop")
        self.addCleanup(lambda: open(stop, "w").close())
        first = app.start(["first"], timeout=180)
        self.wait_for_main()
        r = app.run(["second doc.txt"])
        self.assertExit(r, 7)
        handed = [rec["args"] for rec in self.rt.records() if rec.get("event") == "secondary_main"]
        self.assertEqual(handed, [["second doc.txt"]])
        open(stop, "w").close()
        self.assertExit(first.wait(), 0)

    def test_launches_overlapping_a_pair_launch_all_reach_the_paired_program(self):
        # Started together: one becomes the first instance and pairs, while
        # the others are already handing their lists to it. Every list must
        # reach the paired program's first instance, as its main's or as a
        # secondaryMain's arguments, and each launch exit with its answer.
        single = [("Single Instance", "yes")]
        app = self.make_pair(main_class="standin.SecondaryInt", app=single + [("Pair Return Code", "yes")],
                             partner_app=single, cfg={"main_waits_ms": 120000, "secondary_result_from_args": 1})
        stop = os.path.join(self.rt.dll_dir, "standin.stop")
        self.addCleanup(lambda: open(stop, "w").close())
        lists = {n: [str(n), "doc %d.txt" % n] for n in range(1, 9)}
        runs = {n: app.start(args, timeout=150) for n, args in lists.items()}
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            handed = [rec["args"] for rec in self.rt.records() if rec.get("event") in ("main", "secondary_main")]
            if len(handed) >= len(lists) or any(run.done() and run.wait().exit_code == -1 for run in runs.values()):
                break
            time.sleep(0.2)
        open(stop, "w").close()
        codes = {n: run.wait().exit_code for n, run in runs.items()}
        (main,) = self.mains()
        secondary = [rec["args"] for rec in self.rt.records() if rec.get("event") == "secondary_main"]
        self.assertEqual(sorted([main["args"]] + secondary), sorted(lists.values()), codes)
        # The launch whose list started the paired program's first instance
        # has its exit code; every other one has its answer.
        first = int(main["args"][0])
        self.assertEqual(codes, {n: 0 if n == first else n for n in lists})


if __name__ == "__main__":
    unittest.main()
