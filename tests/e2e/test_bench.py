"""Self-tests of the end-to-end bench, against e2e_boxdemo.exe: if these
fail, launcher test results mean nothing."""

import os
import unittest

import harness
from harness import AppFolder, IDNO, IDOK, IDYES, RegistryScope, run_program

DEMO_WINDOW_CLASS = "E2EDemoWindow"
DEMO_OWNER_CLASS = "E2EDemoOwner"


class BoxDemoCase(unittest.TestCase):
    def box(self, *args, arch="x86", **kw):
        kw.setdefault("timeout", 20)
        kw.setdefault("cwd", harness.work_root())
        return run_program(harness.boxdemo_path(arch), args=list(args), **kw)

    def assertFinished(self, r):
        self.assertIsNone(r.start_error, r)
        self.assertFalse(r.timed_out, r)


class MessageBoxTest(BoxDemoCase):
    def test_exit_code_and_exact_text(self):
        cases = [
            # (exit code argument, text, exit code, hex)
            ("-1", "Main class was not specified in INI file.", -1, "0xFFFFFFFF"),
            ("3", "Something went wrong.\r\n", 3, "0x00000003"),
            ("0x80000000", "Fehler in \u201e\u00c4pp \u00fc \u65e5\u672c\u201c \U0001F600\nZeile 2",
             -2147483648, "0x80000000"),
            ("0", 'Quote " and back\\slash\ttab', 0, "0x00000000"),
        ]
        for arch in ("x86", "x64"):
            for code_arg, text, code, code_hex in cases:
                with self.subTest(arch=arch, text=text):
                    r = self.box(code_arg, text, arch=arch)
                    self.assertFinished(r)
                    self.assertEqual(r.exit_code, code)
                    self.assertEqual(r.exit_code_hex, code_hex)
                    self.assertEqual(len(r.dialogs), 1, r)
                    d = r.dialogs[0]
                    self.assertEqual(d["text"], text)
                    self.assertEqual(d["statics"], [text])
                    self.assertEqual(d["title"], harness.DEFAULT_BOX_TITLE)
                    self.assertEqual(d["buttons"], ["OK"])
                    self.assertEqual(d["button_ids"], [IDOK])
                    self.assertTrue(d["has_icon"])
                    self.assertIsNone(d["owner_class"])
                    self.assertEqual(d["pressed"], IDOK)
                    self.assertEqual(r.windows, [])

    def test_missing_caption_shows_the_default_title(self):
        # The default is what a NULL caption gives; an explicit caption must
        # come through unchanged, or the comparison above proves nothing.
        r = self.box("0", "no caption", "--caption=Fehler \u00c4", "with caption")
        self.assertFinished(r)
        self.assertEqual(r.titles, [harness.DEFAULT_BOX_TITLE, "Fehler \u00c4"])
        self.assertEqual(r.texts, ["no caption", "with caption"])

    def test_every_box_is_seen_in_order(self):
        r = self.box("5", "one", "two", "three")
        self.assertFinished(r)
        self.assertEqual(r.exit_code, 5)
        self.assertEqual(r.texts, ["one", "two", "three"])
        shown = [d["shown_ms"] for d in r.dialogs]
        self.assertEqual(shown, sorted(shown))
        for d in r.dialogs:
            self.assertIsNotNone(d["hidden_ms"])

    def test_chosen_button_reaches_the_program(self):
        cases = [
            ([IDYES], ["q"], IDYES),
            ([IDNO], ["q"], IDNO),
            ([IDNO, IDYES], ["first", "second"], IDYES),
            ([IDYES, IDNO], ["first", "second"], IDNO),
        ]
        for press, texts, code in cases:
            with self.subTest(press=press):
                r = self.box("result", "--yesno", *texts, press=press)
                self.assertFinished(r)
                self.assertEqual(r.exit_code, code)
                self.assertEqual([d["pressed"] for d in r.dialogs], press)
                for d in r.dialogs:
                    self.assertEqual(d["button_ids"], [IDYES, IDNO])

    def test_owner_window_is_reported(self):
        r = self.box("0", "--owner", "owned")
        self.assertFinished(r)
        self.assertEqual(r.dialogs[0]["owner_class"], DEMO_OWNER_CLASS)
        self.assertEqual(r.dialogs[0]["owner_title"], "Demo owner")
        self.assertEqual([w["class"] for w in r.windows], [DEMO_OWNER_CLASS])


class ProcessTest(BoxDemoCase):
    def test_timeout_ends_the_program(self):
        r = self.box("0", "--sleep=60000", timeout=2)
        self.assertTrue(r.timed_out)
        self.assertGreaterEqual(r.raw["elapsed_ms"], 2000)
        self.assertLess(r.elapsed, 20)

    def test_unanswered_box_is_left_open(self):
        r = self.box("0", "waits", "never shown", press="none", timeout=2)
        self.assertTrue(r.timed_out)
        self.assertEqual(r.texts, ["waits"])
        self.assertIsNone(r.dialogs[0]["pressed"])

    def test_boxes_of_child_processes_are_answered(self):
        r = self.box("-1", "--spawn", "from the child")
        self.assertFinished(r)
        self.assertEqual(r.exit_code, -1)
        self.assertEqual(r.texts, ["from the child"])
        root = r.raw["pids"][0]
        children = [c for c in r.raw["children"] if c["parent"] == root]
        self.assertEqual([c["exe"] for c in children], ["e2e_boxdemo.exe"], r.raw["children"])
        self.assertEqual(r.dialogs[0]["pid"], children[0]["pid"])

    def test_top_level_window_is_recorded(self):
        r = self.box("0", "--window=300", "after the window")
        self.assertFinished(r)
        self.assertEqual(len(r.windows), 1, r.windows)
        w = r.windows[0]
        self.assertEqual((w["class"], w["title"]), (DEMO_WINDOW_CLASS, "Demo window"))
        self.assertEqual(w["rect"], [100, 120, 420, 320])
        self.assertIsNotNone(w["hidden_ms"])
        self.assertGreaterEqual(r.dialogs[0]["shown_ms"], w["hidden_ms"])

    def test_unstartable_program_is_reported(self):
        r = run_program(os.path.join(harness.work_root(), "missing.exe"), timeout=5)
        self.assertIn(r.start_error, (2, 3))  # file / path not found
        self.assertIsNone(r.exit_code)

    def test_command_line_arrives_verbatim(self):
        # What follows --show-cmdline becomes further boxes, which shows how
        # the program split the line.
        exe = harness.to_windows_path(harness.boxdemo_path())
        cases = [
            ('"%s" 0 --show-cmdline' % exe, []),
            ('%s 0 --show-cmdline' % exe, []),
            ('"%s"   0  "--show-cmdline"   x\\"y "a  b" \\\\server\\share\\' % exe,
             ['x"y', "a  b", "\\\\server\\share\\"]),
            ('"%s" 0 --show-cmdline "line\r\nbreak" \u00e4\u65e5' % exe,
             ["line\r\nbreak", "\u00e4\u65e5"]),
        ]
        for cmdline, args in cases:
            with self.subTest(cmdline=cmdline):
                r = self.box(raw_cmdline=cmdline)
                self.assertFinished(r)
                self.assertEqual(r.texts, [cmdline] + args)

    def test_quoted_arguments_come_back_unchanged(self):
        args = ["a b", "", 'say "hi"', "trail\\", "C:\\dir with space\\", "\u00c4 \u65e5"]
        r = self.box("0", *args)
        self.assertFinished(r)
        self.assertEqual(r.texts, args)

    def test_environment_changes_reach_the_program(self):
        os.environ["E2E_BENCH_HOST"] = "from host"
        os.environ["JAVA_HOME"] = "/host/java"
        self.addCleanup(os.environ.pop, "E2E_BENCH_HOST", None)
        self.addCleanup(os.environ.pop, "JAVA_HOME", None)
        show = ["--show-env=E2E_BENCH_SET", "--show-env=E2E_BENCH_HOST", "--show-env=JAVA_HOME"]
        r = self.box("0", *show)
        self.assertEqual(r.texts, ["<unset>", "from host", "<unset>"])
        r = self.box("0", *show, env={"E2E_BENCH_SET": "Wert \u00e4=1", "E2E_BENCH_HOST": None,
                                      "JAVA_HOME": "C:\\jdk"})
        self.assertEqual(r.texts, ["Wert \u00e4=1", "<unset>", "C:\\jdk"])

    def test_working_directory_and_non_ascii_folder(self):
        folder = AppFolder.for_test(self, name="\u00c4pp \u00fc \u65e5\u672c")
        folder.install_program(harness.boxdemo_path(), "\u00c4pp.exe")
        r = folder.run(["0", "--show-cwd"])
        self.assertFinished(r)
        self.assertEqual(r.texts, [harness.to_windows_path(folder.cwd)])
        r = folder.run(["0", "--show-cwd", "--show-cmdline"], cwd=folder.path)
        self.assertEqual(r.texts, [folder.win_path,
                                   '"%s\\\u00c4pp.exe" 0 --show-cwd --show-cmdline'
                                   % folder.win_path])

    def test_ansi_code_page_is_the_expected_one(self):
        r = self.box("0")
        self.assertEqual(r.raw["acp"], harness.ANSI_CODEPAGE)


class RegistryTest(BoxDemoCase):
    KEY = r"HKLM\SOFTWARE\E2EBench\Key"
    USER_KEY = r"HKCU\Software\E2EBench\Key"
    ROOTS = [(r"HKLM\SOFTWARE\E2EBench", 32), (r"HKLM\SOFTWARE\E2EBench", 64),
             (r"HKCU\Software\E2EBench", 64)]

    def shown(self, arch):
        r = self.box("0", "--show-reg=%s|Name" % self.KEY, "--show-reg=%s|" % self.USER_KEY,
                     arch=arch)
        self.assertFinished(r)
        return r.texts

    def test_views_reach_the_matching_programs_and_are_removed(self):
        with RegistryScope(roots=self.ROOTS) as reg:
            reg.add_many([
                (self.KEY, "Name", "view 32 \u00fc", 32),
                (self.KEY, "Name", 'view 64 "q" \\', 64),
                (self.USER_KEY, None, "user default", 32),
            ])
            self.assertEqual(self.shown("x86"), ["view 32 \u00fc", "user default"])
            self.assertEqual(self.shown("x64"), ['view 64 "q" \\', "user default"])
        self.assertEqual(self.shown("x86"), ["<missing>", "<missing>"])
        self.assertEqual(self.shown("x64"), ["<missing>", "<missing>"])

    def test_single_add_and_delete(self):
        self.addCleanup(harness.reg_delete_tree, r"HKLM\SOFTWARE\E2EBench", 32)
        harness.reg_add(self.KEY, "Name", "single", view=32)
        self.assertEqual(self.shown("x86")[0], "single")
        self.assertEqual(self.shown("x64")[0], "<missing>")
        harness.reg_delete_tree(self.KEY, view=32)
        self.assertEqual(self.shown("x86")[0], "<missing>")


class LauncherSmokeTest(unittest.TestCase):
    def test_launcher_without_settings_shows_message_210(self):
        folder = AppFolder.for_test(self)
        folder.install_launcher("x86")
        r = folder.run(timeout=20)
        self.assertFalse(r.timed_out, r)
        self.assertEqual(len(r.dialogs), 1, r)
        self.assertEqual(r.texts, ["Main class was not specified in INI file."])
        self.assertEqual(r.exit_code, -1)


if __name__ == "__main__":
    unittest.main()
