"""The uncaught-exception dialog end to end: a main that throws under
"Failure Check", the dialog's texts and controls read from outside, its
buttons and keys, its resizing, a trace longer than an edit control's
default limit, and what happens without "Failure Check"."""

import os
import unittest

import harness
from harness import LauncherCase, launcher_settings

CAPTION = "Java Exception"
TOP_TEXT = "The java process has thrown the following uncaught exception:"
IGNORE_TEXT = ("Press Ignore to continue and ignore the exception or press Stop to close "
               "the application.")
WARNING_TEXT = "WARNING: If you choose to Stop the application any unsaved data will be lost."
TRACE = "java.lang.RuntimeException: boom\r\n\tat standin.Throws.main(Throws.java:1)\r\n"

# Window styles.
WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0xC00000, 0x80000, 0x40000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX, DS_MODALFRAME = 0x20000, 0x10000, 0x80
WS_VSCROLL, WS_HSCROLL, WS_BORDER, WS_TABSTOP = 0x200000, 0x100000, 0x800000, 0x10000
ES_MULTILINE, ES_READONLY = 0x4, 0x800
BS_TYPEMASK, BS_DEFPUSHBUTTON, BS_GROUPBOX = 0xF, 0x1, 0x7
SS_TYPEMASK, SS_ICON = 0x1F, 0x3
SBS_SIZEGRIP = 0x10
WS_EX_TRANSPARENT, WS_EX_CLIENTEDGE = 0x20, 0x200
VK_RETURN, VK_ESCAPE = 13, 27
SIZE_GRIP = 213


def long_trace(frames):
    """The text the stand-in prints for standin/Throws with this many frames."""
    text = "java.lang.RuntimeException: boom\r\n"
    for i in range(frames - 1, 0, -1):
        text += "\tat standin.Throws.level%d(Throws.java:%d)\r\n" % (i, i + 1)
    return text + "\tat standin.Throws.main(Throws.java:1)\r\n"


def controls(layout):
    return {c["id"]: c for c in layout["controls"]}


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


class ExceptionDialogCase(LauncherCase):
    def make_thrower(self, cfg=None, failure_check="Yes", app=()):
        items = dict(app)
        if failure_check is not None:
            items["Failure Check"] = failure_check
        return self.make_app(launcher_settings(main_class="standin.Throws", app=items), cfg=cfg)

    def the_dialog(self, r):
        self.assertEqual(r.titles, [CAPTION], r)
        return r.dialogs[0]

    def assertStopped(self, r):
        # Through System.exit(-1): the process ends inside the runtime.
        self.assertExit(r, -1)
        self.assertEqual(r.exit_code_hex, "0xFFFFFFFF")
        self.assertEqual([x["code"] for x in self.records(r, "exit_hook")], [-1])
        self.assertEqual(self.records(r, "destroy"), [])

    def assertIgnored(self, r):
        # The program goes on; the launch still counts as failed.
        self.assertExit(r, 1)
        self.assertEqual(self.records(r, "exit_hook"), [])
        detach = self.one(r, "detach")
        self.assertNotIn("uncaught", detach)
        self.assertEqual(detach["live_locals"], 0)
        self.one(r, "destroy")


class DialogTest(ExceptionDialogCase):
    def test_texts_controls_and_ignore(self):
        app = self.make_thrower()
        shot = os.path.join(app.case_dir, "dialog.bmp")
        r = app.run(press=[1], watch={"caption": CAPTION, "select": 208, "screenshot": shot})
        self.assertIgnored(r)
        d = self.the_dialog(r)
        self.assertTrue(d["has_icon"])
        self.assertIsNone(d["owner_class"])
        layout = d["layouts"][0]
        # Template order, which is the tab order; the size grip comes last.
        self.assertEqual([c["id"] for c in layout["controls"]],
                         [1, 2, 209, 204, 208, 210, 211, 212, SIZE_GRIP])
        c = controls(layout)
        self.assertEqual({i: c[i]["text"] for i in (1, 2, 209, 208, 210, 211, 212)}, {
            1: "Ignore", 2: "Stop", 209: "Uncaught Exception", 208: TRACE,
            210: TOP_TEXT, 211: IGNORE_TEXT, 212: WARNING_TEXT})
        edit = c[208]["style"]
        for flag in (ES_MULTILINE, ES_READONLY, WS_VSCROLL, WS_HSCROLL, WS_TABSTOP):
            self.assertTrue(edit & flag, hex(flag))
        # The dialog manager draws an edit's border as a sunken client edge.
        self.assertTrue(edit & WS_BORDER or c[208]["exstyle"] & WS_EX_CLIENTEDGE)
        # Read-only, yet the whole text can be selected (and so copied).
        self.assertEqual(d["selection"], [0, len(TRACE)])
        self.assertEqual(c[1]["style"] & BS_TYPEMASK, BS_DEFPUSHBUTTON)
        self.assertEqual(c[209]["style"] & BS_TYPEMASK, BS_GROUPBOX)
        self.assertTrue(c[209]["exstyle"] & WS_EX_TRANSPARENT)
        self.assertEqual(c[204]["style"] & SS_TYPEMASK, SS_ICON)
        self.assertEqual(c[SIZE_GRIP]["class"].lower(), "scrollbar")
        self.assertTrue(c[SIZE_GRIP]["style"] & SBS_SIZEGRIP)
        style = layout["style"]
        for flag in (WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, DS_MODALFRAME):
            self.assertTrue(style & flag, hex(flag))
        self.assertFalse(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
        # Centred on the screen's work area (the test display is 1280 wide).
        left, top, right, bottom = d["rect"]
        self.assertLessEqual(abs((left + right) // 2 - 640), 1, d["rect"])
        # The trace came from the runtime itself, printed into memory.
        printed = self.one(r, "print_stack_trace")
        self.assertEqual(printed["target"], "bytes")
        self.assertEqual(self.one(r, "bytes_to_string")["length"], len(TRACE))
        self.assertEqual(self.records(r, "describe"), [])

        self.assertTrue(d["screenshot"])
        png = harness.bmp_to_png(shot, os.path.join(harness.artefact_dir(), "exception_dialog.png"))
        self.assertGreater(os.path.getsize(png), 1000)

    def test_stop_escape_and_close_box_stop_the_program(self):
        app = self.make_thrower()
        for answer in (2, "key:%d" % VK_ESCAPE, "close"):
            with self.subTest(answer=answer):
                r = app.run(press=[answer])
                self.the_dialog(r)
                self.assertStopped(r)

    def test_enter_ignores(self):
        app = self.make_thrower()
        r = app.run(press=["key:%d" % VK_RETURN])
        self.the_dialog(r)
        self.assertIgnored(r)

    def test_resizing_follows_the_table_and_stops_at_the_opening_size(self):
        app = self.make_thrower()
        r = app.run(press=[1], watch={"caption": CAPTION, "resize": [(900, 760), (120, 90)]})
        self.assertIgnored(r)
        opened, grown, shrunk = self.the_dialog(r)["layouts"]
        dx = grown["client"][2] - opened["client"][2]
        dy = grown["client"][3] - opened["client"][3]
        self.assertGreater(dx, 100)
        self.assertGreater(dy, 100)
        before, after = controls(opened), controls(grown)
        # (left, top, right, bottom) changes per control.
        expected = {
            209: (0, 0, dx, dy),    # group box: wider and deeper
            210: (0, 0, dx, 0),     # top text: wider
            208: (0, 0, dx, dy),    # trace: wider and deeper
            211: (0, dy, dx, dy),   # lower texts: wider, moved down
            212: (0, dy, dx, dy),
            1: (dx, dy, dx, dy),    # buttons: moved right and down
            2: (dx, dy, dx, dy),
            204: (0, 0, 0, 0),      # icon: stays
        }
        for cid, change in expected.items():
            moved = tuple(a - b for a, b in zip(after[cid]["rect"], before[cid]["rect"]))
            self.assertEqual(moved, change, "control %d" % cid)
        # The grip keeps to the lower-right corner.
        for layout in (opened, grown):
            grip = controls(layout)[SIZE_GRIP]["rect"]
            self.assertEqual(grip[2:], layout["client"][2:])
        # Never smaller than when it opened.
        self.assertEqual(size(shrunk["rect"]), size(opened["rect"]))
        self.assertEqual(controls(shrunk)[1]["rect"], before[1]["rect"])

    def test_a_trace_longer_than_32767_characters_is_shown_whole(self):
        frames = 1000
        trace = long_trace(frames)
        self.assertGreater(len(trace), 32767)
        app = self.make_thrower(cfg={"throw_frames": frames})
        shot = os.path.join(app.case_dir, "enlarged.bmp")
        r = app.run(press=[1], watch={"caption": CAPTION, "resize": [(800, 640)], "screenshot": shot})
        self.assertIgnored(r)
        d = self.the_dialog(r)
        shown = controls(d["layouts"][0])[208]["text"]
        self.assertEqual(len(shown), len(trace))
        self.assertEqual(shown, trace)
        self.assertEqual(size(d["layouts"][1]["rect"]), (800, 640))
        self.assertTrue(d["screenshot"])
        harness.bmp_to_png(shot, os.path.join(harness.artefact_dir(), "exception_dialog_enlarged.png"))

    def test_non_ascii_message_is_shown_exactly(self):
        message = "Fehler: Größe ≠ 日本 😀"
        app = self.make_thrower(cfg={"throw_message": message})
        r = app.run(press=[1], watch={"caption": CAPTION})
        self.assertIgnored(r)
        shown = controls(self.the_dialog(r)["layouts"][0])[208]["text"]
        self.assertEqual(shown, TRACE.replace("boom", message))


class WithoutDialogTest(ExceptionDialogCase):
    def test_a_trace_that_cannot_be_printed_is_described_and_no_dialog_shows(self):
        app = self.make_thrower(cfg={"print_fails": 1})
        r = app.run()
        self.assertNoBox(r)
        self.assertIgnored(r)
        self.assertEqual([x["class"] for x in self.records(r, "describe")],
                         ["java/lang/IllegalStateException"])

    def test_without_failure_check_the_runtime_reports_at_the_detach(self):
        for value in (None, "No"):
            with self.subTest(failure_check=value):
                app = self.make_thrower(failure_check=value, app={"Error File": "%E2E_LOGS%\\err.log"})
                logs = os.path.join(app.case_dir, "logs")
                r = app.run(env={"E2E_LOGS": harness.to_windows_path(logs)})
                self.assertNoBox(r)
                self.assertExit(r, 1)
                # Not described first: the program's own handler gets it
                # when the thread detaches, and the default one prints it.
                self.assertEqual(self.records(r, "describe"), [])
                self.assertEqual(self.records(r, "print_stack_trace"), [])
                detach = self.one(r, "detach")
                printed = 'Exception in thread "main" ' + TRACE
                self.assertEqual(detach["uncaught"], printed)
                self.assertEqual(detach["live_locals"], 0)
                with open(os.path.join(logs, "err.log"), encoding="utf-8", newline="") as f:
                    self.assertEqual(f.read(), printed)


class NeverDetachingTest(ExceptionDialogCase):
    """A runtime from the IBM key keeps the thread for good: the exception
    is described before the wait, or nobody would ever see it."""

    IBM = r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment"
    ROOTS = [(r"HKLM\SOFTWARE\%s" % v, view) for v in ("JavaSoft", "JRockit", "IBM") for view in (32, 64)]

    def test_described_before_the_endless_wait(self):
        folder = self.make_app(launcher_settings(main_class="standin.Throws", jre={"VM Provider": "ibm"}),
                               runtime=None)
        home = os.path.join(folder.case_dir, "ibm")
        folder.add_runtime(home)
        with harness.RegistryScope(roots=self.ROOTS) as reg:
            reg.add(self.IBM + "\\1.6.0", "JavaHome", harness.to_windows_path(home), 32)
            r = folder.run(timeout=3)
        self.assertTrue(r.timed_out, r)
        self.assertNoBox(r)
        described = self.one(r, "describe")
        self.assertEqual(described["output"], 'Exception in thread "main" ' + TRACE)
        self.assertEqual(self.records(r, "detach"), [])


if __name__ == "__main__":
    unittest.main()
