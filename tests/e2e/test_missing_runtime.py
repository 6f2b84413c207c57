"""The missing-runtime dialog end to end: the dialog of the real launcher as
shown, its buttons, Escape and the close box, the shell's folder picker
driven by keyboard, the saved "JRE Path" and the next launch, the download
link with a stand-in handler for https, and its colours on the screen.

The picker is driven by reading its tree and pressing arrow keys: down "My
Computer", its drive (C: for a drive root, Z: for the case folders), then
folder by folder. Pictures of the dialog are kept under the build folder
(harness.artefact_dir)."""

import os
import shutil
import time
import unittest

import harness
from harness import (IDCANCEL, IDOK, RUNTIME_DIALOG_TITLE, LauncherCase, find_window,
                     launcher_settings)

ADDRESS = "https://adoptium.net/"
MESSAGE = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
           "(%s) from:")
SERVER_MESSAGE = ("The Java Runtime Environment (JRE) was not found. Please  download and install "
                  "a JRE with a server JVM (%s) from:")
BROWSE_TITLE = "Browse for JRE folder"
LINK, VISITED = (0, 0, 255), (128, 0, 128)

EDIT, BROWSE, MESSAGE_TEXT, ICON, LINK_ID = 201, 202, 203, 204, 205
ES_AUTOHSCROLL, ES_READONLY, WS_BORDER, WS_TABSTOP = 0x80, 0x800, 0x800000, 0x10000
BS_DEFPUSHBUTTON, BS_GROUPBOX, SS_ICON = 0x1, 0x7, 0x3
WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, WS_EX_CLIENTEDGE = 0xC00000, 0x80000, 0x80, 0x200

# The template in dialog units: (id, class, text, x, y, width, height, style bits).
TEMPLATE = [
    (1, "Button", "OK", 107, 122, 50, 14, BS_DEFPUSHBUTTON),
    (2, "Button", "Cancel", 161, 122, 50, 14, 0),
    (EDIT, "Edit", "", 60, 89, 94, 14, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
    (-1, "Static", "JRE Path:", 12, 92, 45, 8, 0),
    (BROWSE, "Button", "Browse...", 157, 89, 50, 14, 0),
    (-1, "Button", "Missing JRE", 8, 11, 203, 103, BS_GROUPBOX),
    (MESSAGE_TEXT, "Static", MESSAGE % "latest version", 44, 24, 147, 25, 0),
    (LINK_ID, "Static", ADDRESS, 44, 55, 75, 8, 0),
    (ICON, "Static", "", 16, 26, 21, 20, SS_ICON),
    (206, "Static", "If you have a JRE installed you can browse for it below:", 12, 73, 195, 8, 0),
]

JRE = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
VENDOR_ROOTS = [(r"HKLM\SOFTWARE\%s" % v, view) for v in ("JavaSoft", "JRockit", "IBM")
                for view in (32, 64)]
HTTPS_COMMAND = r"HKLM\Software\Classes\https\shell\open\command"
WINE_HTTPS_COMMAND = '"C:\\windows\\system32\\winebrowser.exe" "%1"'
COLOURS = r"HKCU\Software\Microsoft\Internet Explorer\Settings"


def setUpModule():
    harness.reg_apply(deletes=VENDOR_ROOTS)


def tearDownModule():
    harness.reg_apply(deletes=VENDOR_ROOTS)


def mul_div(a, b, c):
    return (a * b + c // 2) // c


def base_units(pixels, units, scale):
    """The dialog base unit that maps `units` onto `pixels`."""
    for base in range(1, 64):
        if mul_div(units, base, scale) == pixels:
            return base
    raise AssertionError("no base unit maps %d units onto %d pixels" % (units, pixels))


def read_settings(path):
    """(raw bytes, text) of a settings file written as UTF-16 or ANSI."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data, data[2:].decode("utf-16-le")
    return data, data.decode(harness.ANSI_ENCODING, "replace")


def jre_path_value(path):
    for line in read_settings(path)[1].splitlines():
        if line.startswith("JRE Path="):
            return line[len("JRE Path="):]
    return None


class DialogCase(LauncherCase):
    def drive_c_runtime(self, app):
        """A runtime at the root of the prefix's drive C: (removed afterwards)."""
        root = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        shutil.rmtree(os.path.join(root, "bin"), ignore_errors=True)
        self.addCleanup(shutil.rmtree, os.path.join(root, "bin"), True)
        app.add_runtime(root)
        return "C:\\"

    def start_dialog(self, app, env=None):
        """Starts the launcher and returns it with its dialog (a dialog left
        by an earlier failed case does not count)."""
        earlier = {w["hwnd"] for w in harness.ui("list")}
        running = app.start_driven(env=env, timeout=40)
        self.addCleanup(running.finish)  # never leave it running after a failure
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            for w in harness.ui("list"):
                if w["title"] == RUNTIME_DIALOG_TITLE and w["hwnd"] not in earlier:
                    return running, harness.Window(harness.ui("read", w["hwnd"]))
            time.sleep(0.2)
        raise AssertionError("no dialog: %r" % running.finish())

    @staticmethod
    def finish(running):
        return running.finish()

    def picker_of(self, dialog):
        """Presses "Browse..." and returns the folder picker on top of the dialog."""
        dialog.click(BROWSE)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            for w in harness.ui("list"):
                if w["class"] == "#32770" and w["pid"] == dialog.info["pid"] and w["hwnd"] != dialog.hwnd:
                    picker = harness.Window(harness.ui("read", w["hwnd"]))
                    self.assertEqual(picker.info["owner_title"], RUNTIME_DIALOG_TITLE)
                    return picker
            time.sleep(0.1)
        raise AssertionError("the folder picker did not open")

    def pick(self, dialog, folder, confirm=True, shot=None):
        """Picks a folder in the real folder picker with arrow keys only:
        down "My Computer", its drive, then folder by folder. `folder` is a
        Windows path (C:\\ or Z:\\...)."""
        picker = self.picker_of(dialog)
        self.assertIn(BROWSE_TITLE, [c["text"] for c in picker.info["controls"]])
        tree = next(c["id"] for c in picker.info["controls"] if c["class"] == "SysTreeView32")

        def move_to(what, match):
            for _ in range(6):
                items = picker.tree(tree)
                target = next((i for i, x in enumerate(items) if match(x)), None)
                selected = next((i for i, x in enumerate(items) if x["selected"]), None)
                if target is None or selected is None:
                    picker.key("HOME", tree)
                    time.sleep(0.3)
                    continue
                if target == selected:
                    return items[target]
                picker.key("DOWN" if target > selected else "UP", tree, abs(target - selected))
                time.sleep(0.2)
            self.fail("cannot reach %r in the picker: %r" % (what, picker.tree(tree)))

        def expand(item):
            if not item["expanded"]:
                picker.key("RIGHT", tree)
                time.sleep(0.5)

        expand(move_to("the desktop", lambda x: x["depth"] == 0))
        expand(move_to("My Computer", lambda x: x["text"] == "My Computer"))
        drive, _, rest = folder.partition("\\")
        item = move_to(drive, lambda x: x["depth"] == 2 and "(%s)" % drive.upper() in x["text"])
        for depth, name in enumerate([p for p in rest.split("\\") if p], start=3):
            expand(item)
            item = move_to(name, lambda x, d=depth, n=name: x["depth"] == d and x["text"] == n)
        if shot:
            picker.screenshot(os.path.join(harness.artefact_dir(), shot))
        picker.click(IDOK if confirm else IDCANCEL)
        picker.wait_gone()
        return dialog.read()

    def assertDialogShows(self, dialog, folder, ok_enabled):
        self.assertEqual(dialog.control(EDIT, fresh=False)["text"], folder)
        self.assertEqual(dialog.control(IDOK, fresh=False)["enabled"], ok_enabled)


class DialogAsShownTest(DialogCase):
    def test_template_texts_states_and_picture(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(), runtime=None, arch=arch)
                before = read_settings(app.ini_path())[0]
                running, dialog = self.start_dialog(app)
                info = dialog.info
                self.assertEqual(info["class"], "#32770")
                self.assertEqual(info["style"] & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
                                 WS_CAPTION | WS_SYSMENU | DS_MODALFRAME)
                self.assertIsNone(info["owner_class"])

                # Every control in template order, placed in dialog units.
                bx = base_units(info["client_size"][0], 219, 4)
                by = base_units(info["client_size"][1], 145, 8)
                ox, oy = info["client_origin"]
                shown = [c for c in info["controls"]]
                self.assertEqual([(c["id"], c["class"], c["text"]) for c in shown],
                                 [(t[0], t[1], t[2]) for t in TEMPLATE])
                for c, (cid, _, text, x, y, w, h, style) in zip(shown, TEMPLATE):
                    left, top, right, bottom = c["rect"]
                    self.assertEqual((left - ox, top - oy), (mul_div(x, bx, 4), mul_div(y, by, 8)), text)
                    if cid != ICON:  # an icon control takes the icon's size
                        self.assertEqual((right - left, bottom - top),
                                         (mul_div(w, bx, 4), mul_div(h, by, 8)), text)
                    kind = c["style"] & 0xF if c["class"] != "Edit" else c["style"]
                    if c["class"] == "Edit":
                        # The dialog manager draws an edit's border as a client edge.
                        self.assertTrue(c["style"] & WS_BORDER or c["exstyle"] & WS_EX_CLIENTEDGE)
                        style &= ~WS_BORDER
                    self.assertEqual(kind & style, style, text)
                    self.assertTrue(c["visible"], text)
                    self.assertEqual(c["enabled"], cid != IDOK, text)

                # No owner: centred on the work area.
                left, top, right, bottom = info["rect"]
                wl, wt, wr, wb = info["work_area"]
                self.assertLessEqual(abs((left + right) - (wl + wr)), 1)
                self.assertLessEqual(abs((top + bottom) - (wt + wb)), 1)

                picture = dialog.screenshot(
                    os.path.join(harness.artefact_dir(), "missing-runtime-dialog-%s.png" % arch))
                self.assertGreater(self.colour_in(picture, info, LINK_ID, LINK), 10)
                self.assertEqual(self.colour_in(picture, info, LINK_ID, VISITED), 0)
                icon = self.area(picture, info, ICON)
                self.assertTrue(any(r > 180 and g < 90 and b < 90 for (r, g, b) in icon),
                                "no red of the error icon")

                dialog.click(IDCANCEL)
                r = self.finish(running)
                self.assertExit(r, -1)
                self.assertEqual(r.records, [])
                self.assertEqual(read_settings(app.ini_path())[0], before)

    @staticmethod
    def area(picture, info, control_id):
        c = next(c for c in info["controls"] if c["id"] == control_id)
        dx, dy = info["rect"][0], info["rect"][1]
        left, top, right, bottom = c["rect"]
        return picture.colours(left - dx, top - dy, right - dx, bottom - dy)

    def colour_in(self, picture, info, control_id, colour):
        return self.area(picture, info, control_id).get(colour, 0)

    def test_cancel_escape_and_close_box(self):
        app = self.make_app(launcher_settings(), runtime=None)
        before = read_settings(app.ini_path())[0]
        for how in ("Cancel", "Escape", "close box", "OK while disabled"):
            with self.subTest(how=how):
                running, dialog = self.start_dialog(app)
                if how == "Cancel":
                    dialog.click(IDCANCEL)
                elif how == "Escape":
                    dialog.key("ESCAPE")
                elif how == "close box":
                    dialog.close()
                else:
                    # A disabled OK cannot be pressed; Enter does nothing either.
                    self.assertFalse(harness.ui("click", dialog.hwnd, IDOK, check=False))
                    dialog.key("RETURN")
                    time.sleep(0.5)
                    self.assertTrue(dialog.read()["visible"])
                    dialog.key("ESCAPE")
                r = self.finish(running)
                self.assertExit(r, -1)
                self.assertEqual(len(r.dialogs), 1, r)
                self.assertEqual(r.records, [])
                self.assertEqual(read_settings(app.ini_path())[0], before)

    def test_searches_that_find_nothing_ask(self):
        # (what, settings, registered runtimes as (view, vm, arch), phrase, server text)
        cases = [
            ("nothing anywhere, both bounds", {"Minimum Version": "1.6", "Maximum Version": "1.6.0_99"},
             [], "version between 1.6 and 1.6.0.99", False),
            ("server VM wanted, client registered", {"JVM Type": "server"},
             [(32, "client", "x86")], "latest version", True),
            ("runtime only in the other registry view", {}, [(64, "client", "x64")],
             "latest version", False),
        ]
        for what, jre, regs, phrase, server in cases:
            with self.subTest(case=what):
                app = self.make_app(launcher_settings(jre=jre), runtime=None)
                adds = []
                for n, (view, vm, arch) in enumerate(regs):
                    home = os.path.join(app.case_dir, "reg%d" % n)
                    app.add_runtime(home, arch=arch, vm=vm)
                    adds.append((JRE + "\\1.7.0", "JavaHome", harness.to_windows_path(home), view))
                harness.reg_apply(deletes=VENDOR_ROOTS, adds=adds)
                r = app.run(press=IDCANCEL)
                self.assertRuntimeDialogCancelled(r)
                self.assertIn((SERVER_MESSAGE if server else MESSAGE) % phrase, r.dialogs[0]["statics"])
        harness.reg_apply(deletes=VENDOR_ROOTS)


class PickTest(DialogCase):
    def test_drive_root_is_picked_saved_and_used_next_time(self):
        app = self.make_app(launcher_settings(), runtime=None)
        self.drive_c_runtime(app)
        running, dialog = self.start_dialog(app)
        info = self.pick(dialog, "C:\\", shot="folder-picker.png")
        self.assertDialogShows(dialog, "C:\\", True)
        dialog.screenshot(os.path.join(harness.artefact_dir(), "missing-runtime-dialog-picked.png"))
        dialog.click(IDOK)
        r = self.finish(running)
        self.assertExit(r, 0)
        self.assertEqual(self.loaded(r), ["C:\\bin\\client\\jvm.dll"])
        self.assertEqual(jre_path_value(app.ini_path()), "C:\\")
        self.assertEqual(info["title"], RUNTIME_DIALOG_TITLE)

        r = app.run()
        self.assertExit(r, 0)
        self.assertEqual(r.dialogs, [])
        self.assertEqual(self.loaded(r), ["C:\\bin\\client\\jvm.dll"])

    def test_non_ascii_folder_round_trip_through_a_per_user_copy(self):
        name = "J\u00e4v\u00e4 \u65e5\u672c"
        app = self.make_app(launcher_settings(more=[("Product Information",
                                                     {"Product Name": "Acme", "Product Code": "7"})]),
                            runtime=None)
        appdata = os.path.join(app.case_dir, "appdata")
        os.makedirs(appdata)
        env = {"APPDATA": harness.to_windows_path(appdata)}
        folder = harness.to_windows_path(os.path.join(app.case_dir, name))
        app.add_runtime(os.path.join(app.case_dir, name))
        before = read_settings(app.ini_path())[0]

        running, dialog = self.start_dialog(app, env=env)
        self.pick(dialog, folder)
        self.assertDialogShows(dialog, folder, True)
        dialog.click(IDOK)
        r = self.finish(running)
        self.assertExit(r, 0)
        library = folder + "\\bin\\client\\jvm.dll"
        self.assertEqual(self.loaded(r), [library])

        copy = os.path.join(appdata, "Acme", "7", "App.ini")
        data, _ = read_settings(copy)
        self.assertTrue(data.startswith(b"\xff\xfe"), data[:16])  # made as UTF-16
        self.assertEqual(jre_path_value(copy), folder + "\\")
        self.assertEqual(read_settings(app.ini_path())[0], before)

        r = app.run(env=env)
        self.assertExit(r, 0)
        self.assertEqual(r.dialogs, [])
        self.assertEqual(self.loaded(r), [library])

    def test_ansi_settings_file_keeps_no_mangled_folder(self):
        name = "\u65e5\u672c runtime"
        app = self.make_app(launcher_settings(), runtime=None, encoding="ansi")
        folder = harness.to_windows_path(os.path.join(app.case_dir, name))
        app.add_runtime(os.path.join(app.case_dir, name))
        running, dialog = self.start_dialog(app)
        self.pick(dialog, folder)
        dialog.click(IDOK)
        r = self.finish(running)
        self.assertExit(r, 0)
        self.assertEqual(self.loaded(r), [folder + "\\bin\\client\\jvm.dll"])

        value = jre_path_value(app.ini_path())
        r = app.run(press=IDCANCEL)
        if value is None:
            # No short form to fall back on: the value went, the dialog asks again.
            self.assertRuntimeDialogCancelled(r)
        else:
            # The short form, which names the same runtime.
            self.assertNotIn("?", value)
            self.assertTrue(value.startswith("Z:\\") and value.endswith("\\"), value)
            self.assertExit(r, 0)
            self.assertEqual(r.dialogs, [])
            self.assertEqual(len(self.loaded(r)), 1)

    def test_runtime_for_the_other_processor(self):
        pair_settings = {"Pair Product": "C:\\pair\\Pair.exe"}
        for paired in (False, True):
            with self.subTest(paired=paired):
                app = self.make_app(launcher_settings(
                    app=pair_settings if paired else {},
                    more=[("Product Information", {"Product Name": "Acme", "Product Code": "7"})]),
                    runtime=None)
                appdata = os.path.join(app.case_dir, "appdata")
                os.makedirs(appdata)
                env = {"APPDATA": harness.to_windows_path(appdata)}
                folder = harness.to_windows_path(os.path.join(app.case_dir, "x64rt"))
                app.add_runtime(os.path.join(app.case_dir, "x64rt"), arch="x64")
                before = read_settings(app.ini_path())[0]
                running, dialog = self.start_dialog(app, env=env)
                self.pick(dialog, folder)
                self.assertDialogShows(dialog, folder, paired)
                if not paired:
                    dialog.click(IDCANCEL)
                    r = self.finish(running)
                    self.assertExit(r, -1)
                    self.assertEqual(os.listdir(appdata), [])
                else:
                    dialog.click(IDOK)
                    # The paired program is started instead; this one does
                    # not exist, which the launch reports.
                    harness.find_window(harness.DEFAULT_BOX_TITLE, "#32770").click(IDOK)
                    r = self.finish(running)
                    self.assertExit(r, -1)
                    self.assertEqual([t for t in r.texts if t],
                                     ["Windows exception: C:\\pair\\Pair.exe (errno = 3).\n"])
                    for ini in ("App.ini", "Pair.ini"):
                        self.assertEqual(jre_path_value(os.path.join(appdata, "Acme", "7", ini)),
                                         folder + "\\")
                self.assertEqual(r.records, [])
                self.assertEqual(read_settings(app.ini_path())[0], before)

    def test_cancelled_picker_changes_nothing(self):
        app = self.make_app(launcher_settings(), runtime=None)
        good = harness.to_windows_path(os.path.join(app.case_dir, "rt"))
        app.add_runtime(os.path.join(app.case_dir, "rt"))
        os.makedirs(os.path.join(app.case_dir, "empty"))
        empty = harness.to_windows_path(os.path.join(app.case_dir, "empty"))
        running, dialog = self.start_dialog(app)
        self.pick(dialog, good, confirm=False)
        self.assertDialogShows(dialog, "", False)
        # A good pick, then one without a runtime: OK goes off again.
        self.pick(dialog, good)
        self.assertDialogShows(dialog, good, True)
        self.pick(dialog, empty)
        self.assertDialogShows(dialog, empty, False)
        dialog.key("ESCAPE")
        self.assertExit(self.finish(running), -1)


class LinkTest(DialogCase):
    def setUp(self):
        super().setUp()
        # A stand-in for the browser: records what the shell passes it.
        # One file per case: a browser started late by an earlier case (its
        # start can take seconds on a busy machine) must not write here.
        self.opened = os.path.join(harness.work_root(), "opened-%d-%s.txt" % (os.getpid(), self._testMethodName))
        if os.path.exists(self.opened):
            os.unlink(self.opened)
        command = '"%s" ui record-args "%s" "%%1"' % (harness.to_windows_path(harness.runner_path()),
                                                      harness.to_windows_path(self.opened))
        harness.reg_apply(adds=[(HTTPS_COMMAND, None, command, 64)])
        self.addCleanup(harness.reg_apply, adds=[(HTTPS_COMMAND, None, WINE_HTTPS_COMMAND, 64)])
        self.addCleanup(harness.reg_apply, deletes=[(COLOURS, 64)])

    def opened_addresses(self):
        if not os.path.exists(self.opened):
            return []
        with open(self.opened, encoding="utf-8") as f:
            return [line.rsplit(" ", 1)[-1].strip('"') for line in f.read().splitlines()]

    def link_colours(self, dialog, name):
        picture = dialog.screenshot(os.path.join(harness.artefact_dir(), name))
        return DialogAsShownTest.area(picture, dialog.info, LINK_ID)

    def wait_opened(self, count):
        deadline = time.monotonic() + 10
        while len(self.opened_addresses()) < count and time.monotonic() < deadline:
            time.sleep(0.2)
        return self.opened_addresses()

    def test_tooltip_click_space_and_enter_open_the_address(self):
        app = self.make_app(launcher_settings(), runtime=None)
        running, dialog = self.start_dialog(app)
        link = dialog.control(LINK_ID)
        width = link["rect"][2] - link["rect"][0]

        dialog.hover(LINK_ID, 4, 4)
        tip = find_window("*", "tooltips_class32", timeout=10)
        self.assertEqual(harness.ui("tip", tip.hwnd)["text"], ADDRESS)

        # Beside the text nothing happens (the control is wider than its
        # text). The click is handled when the command returns: the link
        # still shows unvisited, so nothing was opened.
        dialog.mouse(LINK_ID, width - 1, 4)
        self.assertGreater(self.link_colours(dialog, "link-before.png").get(LINK, 0), 10)
        self.assertEqual(self.opened_addresses(), [])

        dialog.mouse(LINK_ID, 4, 4)
        self.assertEqual(self.wait_opened(1), [ADDRESS])
        colours = self.link_colours(dialog, "link-visited.png")
        self.assertGreater(colours.get(VISITED, 0), 10)
        self.assertEqual(colours.get(LINK, 0), 0)

        # The keys as the dialog hands them to the focused link.
        dialog.key("SPACE", LINK_ID)
        self.assertEqual(self.wait_opened(2), [ADDRESS] * 2)
        dialog.key("RETURN", LINK_ID)
        self.assertEqual(self.wait_opened(3), [ADDRESS] * 3)
        self.assertTrue(dialog.read()["visible"])  # Enter did not close the dialog
        dialog.key("ESCAPE")
        self.assertExit(self.finish(running), -1)

    def test_colours_from_the_user_settings(self):
        # A text value is used; a value of another type leaves the default.
        harness.reg_apply(adds=[(COLOURS, "Anchor Color", "0,128,0", 64),
                                (COLOURS, "Anchor Color Visited", 0x00C86400, 64)])
        app = self.make_app(launcher_settings(), runtime=None)
        running, dialog = self.start_dialog(app)
        colours = self.link_colours(dialog, "link-user-colour.png")
        self.assertGreater(colours.get((0, 128, 0), 0), 10)
        self.assertEqual(colours.get(LINK, 0), 0)
        dialog.mouse(LINK_ID, 4, 4)
        self.assertEqual(self.wait_opened(1), [ADDRESS])
        colours = self.link_colours(dialog, "link-user-colour-visited.png")
        self.assertGreater(colours.get(VISITED, 0), 10)
        dialog.click(IDCANCEL)
        self.assertExit(self.finish(running), -1)


if __name__ == "__main__":
    unittest.main()
