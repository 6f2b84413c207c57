"""The splash screen end to end: the launcher's own window (class, styles,
place, the pixels it puts on the screen for each image format), its owner role for error boxes and when it goes; and the
runtime's splash library (calls, arguments, when it is closed)."""

import os
import unittest

import harness
import images
from harness import LauncherCase, launcher_settings, to_windows_path

WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_EX_TOPMOST = 0x00000008
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_LAYERED = 0x00080000
CS_DROPSHADOW = 0x00020000
CLASS = "SplashScreenWindow"
MAIN_CLASS_NOT_FOUND = "Could not find the main class %s.\n"
CREATE_FAILED = "JNI exception: failed to create the Java VM\nReason: unknown.\n"
# The Xvfb screen of wine_env.sh.
SCREEN = (1280, 1024)
RED, GREEN, BLUE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)


def hex_colour(rgb):
    return "%02X%02X%02X" % tuple(rgb)


def colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


class SplashCase(LauncherCase):
    def splash_app(self, image_name="splash.bmp", image=None, display=None, main_class="standin.Sleeps",
                   cfg=None, jre=()):
        """An application whose main waits for the runner's probe of the splash."""
        app = self.make_app(None)
        go = app.file("go")
        rt = app.runtimes[os.path.abspath(app.file("jre/bin/client"))]
        settings = {"wait_file": to_windows_path(go), "sleep_ms": 20000}
        settings.update(cfg or {})
        rt.write_cfg(settings)
        if image is not None:
            app.write_file(image_name, image)
        items = {"Splash Screen": to_windows_path(app.file(image_name))}
        items.update(display or {})
        app.write_ini(launcher_settings(main_class=main_class, jre=jre, more=[("Display", items)]))
        app.go = go
        app.rt = rt
        return app

    def run_probed(self, app, points=(), screenshot=None, args=(), press=None):
        request = [("probe_class", CLASS), ("signal", to_windows_path(app.go))]
        request += [("pixel", "%d,%d" % p) for p in points]
        if screenshot:
            request.append(("screenshot", to_windows_path(screenshot)))
        return app.run(args=args, request=request, press=press)

    def assertCentred(self, r, width, height):
        sw, sh = r.screen
        left, top = int((sw - width) / 2), int((sh - height) / 2)  # truncating toward zero
        self.assertEqual(r.probe["rect"], [left, top, left + width, top + height], r.probe)


class OwnWindowTest(SplashCase):
    W, H = 64, 48

    def quadrant_points(self):
        sw, sh = SCREEN
        left, top = (sw - self.W) // 2, (sh - self.H) // 2
        # The middle of each quadrant, and a point near each corner.
        return [(left + 16, top + 12), (left + 48, top + 12), (left + 16, top + 36), (left + 48, top + 36),
                (left + 1, top + 1), (left + self.W - 2, top + self.H - 2)]

    def show(self, name, data, expected, tolerance=0, layered=False):
        app = self.splash_app(name, data)
        points = self.quadrant_points()
        shot = os.path.join(harness.artefact_dir(), "%s.bmp" % name.replace(".", "-"))
        r = self.run_probed(app, points, screenshot=shot)
        self.assertExit(r, 0)
        self.assertEqual(r.screen, list(SCREEN))
        p = r.probe
        self.assertIsNotNone(p, r)
        self.assertTrue(p["style"] & WS_POPUP)
        self.assertFalse(p["style"] & WS_CAPTION)
        self.assertTrue(p["exstyle"] & WS_EX_TOOLWINDOW)
        self.assertFalse(p["exstyle"] & WS_EX_TOPMOST)
        self.assertEqual(bool(p["exstyle"] & WS_EX_LAYERED), layered)
        self.assertFalse(p["has_owner"])
        self.assertCentred(r, self.W, self.H)
        self.assertTrue(p["screenshot"])
        before = {(x, y): c for x, y, c in r.pixels_before}
        for (x, y, got), want in zip(p["pixels"], expected):
            if want == "behind":
                want = colour(before[(x, y)])
            for a, b in zip(colour(got), want):
                self.assertLessEqual(abs(a - b), tolerance, "pixel %d,%d: %s, expected %s" % (x, y, got, want))
        # Up while main runs (main may start before the splash thread has
        # shown it), gone once main has returned, before the runtime is destroyed.
        self.assertTrue(self.one(r, "main_end")["splash"])
        self.assertFalse(self.one(r, "destroy")["splash"])
        return r

    def test_bitmap_exactly(self):
        self.show("splash.bmp", images.bmp(images.quadrants(self.W, self.H, RED, GREEN, BLUE, YELLOW)),
                  [RED, GREEN, BLUE, YELLOW, RED, YELLOW])

    def test_jpeg_in_flat_areas(self):
        self.show("splash.jpg", images.jpeg(images.quadrants(self.W, self.H, RED, GREEN, BLUE, YELLOW)),
                  [RED, GREEN, BLUE, YELLOW, RED, YELLOW], tolerance=6)

    def test_gif_transparency_shows_the_window_colour(self):
        # The transparent colour is filled with the system window colour
        # (white in the test prefix), not left undefined.
        key = (1, 2, 3)
        self.show("splash.gif", images.gif(images.quadrants(self.W, self.H, RED, GREEN, BLUE, key),
                                           transparent=key),
                  [RED, GREEN, BLUE, (255, 255, 255), RED, (255, 255, 255)])

    def test_png_with_alpha_in_a_layered_window(self):
        # Xvfb has no compositor: only fully opaque and fully transparent
        # pixels have a defined result on the screen.
        transparent = (0, 0, 255, 0)
        rows = images.quadrants(self.W, self.H, RED + (255,), GREEN + (255,), transparent, YELLOW + (128,))
        r = self.show("splash.png", images.png(rows), [RED, GREEN, "behind"], layered=True)
        self.assertEqual(r.probe["rect"][2] - r.probe["rect"][0], self.W)


class FirstPixelTest(SplashCase):
    """While the decoder of an opaque image loads, the window already shows
    its colour at the size the header gives; a PNG, which may be
    transparent, shows nothing until its pixels are there."""
    W, H = 64, 48
    WINDOW_COLOUR = (255, 255, 255)  # the system window colour in the test prefix

    def watch_window_colour(self, name, data, point):
        # main waits 1.5 s for a signal that never comes, the splash up.
        app = self.splash_app(name, data, cfg={"sleep_ms": 1500})
        r = app.run(request=[("pixel", "%d,%d" % point),
                             ("watch_pixel", "%d,%d,%s" % (point + (hex_colour(self.WINDOW_COLOUR),)))])
        self.assertExit(r, 0)
        self.assertNotEqual(colour(r.pixels_before[0][2]), self.WINDOW_COLOUR)
        self.assertTrue(self.one(r, "main_end")["splash"])
        return r

    def test_jpeg_shows_the_window_colour_first(self):
        centre = (SCREEN[0] // 2 - 8, SCREEN[1] // 2 - 8)  # in the red quadrant
        r = self.watch_window_colour("splash.jpg", images.jpeg(images.solid(self.W, self.H, RED)), centre)
        self.assertIsNotNone(r.watch_pixel_us, r)

    def test_png_never_shows_an_opaque_rectangle(self):
        left, top = (SCREEN[0] - self.W) // 2, (SCREEN[1] - self.H) // 2
        rows = images.quadrants(self.W, self.H, RED + (255,), GREEN + (255,), (0, 0, 255, 0), YELLOW + (255,))
        r = self.watch_window_colour("splash.png", images.png(rows), (left + 16, top + 36))
        self.assertIsNone(r.watch_pixel_us, r)


class PlacementTest(SplashCase):
    def test_image_larger_than_the_screen_gets_negative_edges(self):
        width, height = 1301, 1031
        app = self.splash_app("big.bmp", images.bmp(images.solid(width, height, GREEN)))
        r = self.run_probed(app, [(0, 0), (1279, 1023)])
        self.assertExit(r, 0)
        self.assertEqual(r.probe["rect"], [-10, -3, 1291, 1028])
        self.assertEqual([c for _, _, c in r.probe["pixels"]], ["00FF00", "00FF00"])

    def test_shadow_only_for_exactly_true(self):
        for value, shadow in (("true", True), ("True", False)):
            with self.subTest(value=value):
                app = self.splash_app("s.bmp", images.bmp(images.solid(8, 8, RED)),
                                      display={"Splash Screen Shadow": value})
                r = self.run_probed(app)
                self.assertExit(r, 0)
                self.assertEqual(bool(r.probe["class_style"] & CS_DROPSHADOW), shadow, r.probe)

    def test_relative_image_path_from_the_current_directory(self):
        app = self.splash_app("unused.bmp")
        with open(os.path.join(app.cwd, "here.bmp"), "wb") as f:
            f.write(images.bmp(images.solid(20, 10, BLUE)))
        app.write_ini(launcher_settings(main_class="standin.Sleeps",
                                        more=[("Display", {"Splash Screen": "here.bmp"})]))
        r = self.run_probed(app)
        self.assertExit(r, 0)
        self.assertCentred(r, 20, 10)


class NoImageTest(SplashCase):
    def test_missing_broken_or_oversized_image_shows_nothing_and_the_launch_goes_on(self):
        cases = [("missing.bmp", None), ("broken.bmp", b"BM" + b"\x17" * 300),
                 ("empty.png", b""), ("huge.bmp", "sparse")]
        for name, data in cases:
            with self.subTest(image=name):
                app = self.splash_app(name, data if isinstance(data, bytes) else None)
                if data == "sparse":
                    # One byte past the limit: never read, so never decoded.
                    with open(app.file(name), "wb") as f:
                        f.write(images.bmp(images.solid(8, 8, RED)))
                        f.truncate(64 * 1024 * 1024 + 1)
                r = self.run_probed(app)
                self.assertExit(r, 0)
                self.assertNoBox(r)
                # A window of no size at the centre: nothing shows.
                self.assertCentred(r, 0, 0)
                self.assertEqual(self.main_args(r), [])


class OwnerAndCloseTest(SplashCase):
    def test_late_error_box_is_owned_by_the_splash(self):
        app = self.splash_app("s.bmp", images.bmp(images.solid(30, 30, RED)), main_class="standin.Missing",
                              cfg={"create_sleep_ms": 700})
        r = app.run()
        self.assertExit(r, -1)
        self.assertEqual(r.texts, [MAIN_CLASS_NOT_FOUND % "standin/Missing"])
        self.assertEqual(r.dialogs[0]["owner_class"], CLASS)

    def test_error_box_before_the_splash_window_exists_waits_for_it(self):
        # The damaged library fails at once, while the splash thread still
        # makes its window: the box waits for the splash and is owned by it.
        app = self.splash_app("s.bmp", images.bmp(images.solid(30, 30, RED)))
        app.write_file("jre/bin/client/jvm.dll", b"MZ" + b"\0" * 510)
        r = app.run()
        self.assertExit(r, -1)
        self.assertEqual(len(r.texts), 1, r)
        self.assertTrue(r.texts[0].startswith("Failed to load Java VM library: "), r.texts)
        self.assertEqual(r.dialogs[0]["owner_class"], CLASS)

    def test_splash_closed_while_its_thread_still_starts(self):
        # The machine is made at once and main throws at once: the close
        # meets a splash thread that may have no queue yet. It must not hang.
        app = self.make_app(launcher_settings(main_class="standin.Throws", more=[
            ("Display", {"Splash Screen": "s.bmp"})]))
        app.write_file("s.bmp", images.bmp(images.solid(8, 8, RED)))
        for attempt in range(5):
            r = app.run(timeout=20, cwd=app.path)
            self.assertExit(r, 1)
            self.assertLess(r.elapsed, 15, "attempt %d" % attempt)

    def test_splash_gone_when_main_throws(self):
        app = self.splash_app("s.bmp", images.bmp(images.solid(30, 30, RED)), main_class="standin.Throws",
                              cfg={"create_sleep_ms": 700})
        app.write_ini(launcher_settings(main_class="standin.Throws", app={"Failure Check": "Yes"},
                                        more=[("Display", {"Splash Screen": to_windows_path(app.file("s.bmp"))})]))
        # Stop in the "Java Exception" dialog.
        r = app.run(press=harness.IDCANCEL)
        self.assertTrue(self.one(r, "main")["splash"])
        self.assertEqual([(d["title"], d["pressed"]) for d in r.dialogs], [("Java Exception", harness.IDCANCEL)])
        # The trace is printed for the dialog after the splash has gone, and
        # it stays gone until the program is stopped.
        self.assertFalse(self.one(r, "print_stack_trace")["splash"], r.records)
        self.assertFalse(self.one(r, "exit")["splash"], r.records)


class RuntimeLibraryTest(SplashCase):
    def library_app(self, preference="Yes", cfg=None, library=None, image_name="s.bmp"):
        app = self.splash_app(image_name, images.bmp(images.solid(8, 8, RED)), main_class="standin.Records",
                              display={"Preffer Native Splash Screen": preference},
                              cfg=dict({"create_sleep_ms": 500}, **(cfg or {})))
        dll = app.file("jre/bin/splashscreen.dll")
        if library is None:
            harness.shutil.copyfile(harness.splash_standin_path(), dll)
        else:
            library(harness.splash_standin_path(), dll)
        # One record file for both stand-ins, so that their calls are in one order.
        with open(app.file("jre/bin/standin_splash.cfg"), "w") as f:
            f.write("record=client\\standin.log\n")
        return app

    def test_calls_in_order_and_closed_after_the_runtime_is_destroyed(self):
        app = self.library_app(preference="yes")
        r = app.run()
        self.assertExit(r, 0)
        image = to_windows_path(app.file("s.bmp"))
        events = [e for e in r.events() if e.startswith("Splash") or e in ("create", "main", "destroy")]
        self.assertEqual(events, ["SplashInit", "SplashLoadFile", "SplashSetFileJarName", "create", "main",
                                  "destroy", "SplashClose"])
        self.assertEqual(self.one(r, "SplashLoadFile")["file"], image)
        jar = self.one(r, "SplashSetFileJarName")
        self.assertEqual((jar["file"], jar["jar"]), (image, None))
        self.assertFalse(self.one(r, "main")["splash"])
        self.assertFalse(any(w["class"] == CLASS for w in r.windows))

    def test_closed_before_exit_when_the_runtime_cannot_be_created(self):
        app = self.library_app(cfg={"create_result": -1})
        r = app.run()
        self.assertExit(r, -1)
        self.assertEqual(r.texts, [CREATE_FAILED])
        events = [e for e in r.events() if e.startswith("Splash") or e in ("create", "destroy")]
        self.assertEqual(events, ["SplashInit", "SplashLoadFile", "SplashSetFileJarName", "create",
                                  "SplashClose"])

    def test_closed_before_the_exception_dialog(self):
        app = self.library_app()
        app.write_ini(launcher_settings(main_class="standin.Throws", app={"Failure Check": "Yes"},
                                        more=[("Display", {"Splash Screen": to_windows_path(app.file("s.bmp")),
                                                           "Preffer Native Splash Screen": "Yes"})]))
        r = app.run(press=harness.IDOK)
        self.assertEqual([(d["title"], d["pressed"]) for d in r.dialogs], [("Java Exception", harness.IDOK)])
        # Closed before the trace is read for the dialog, not after the program.
        events = [e for e in r.events() if e.startswith("Splash") or e in ("main", "print_stack_trace", "destroy")]
        self.assertEqual(events, ["SplashInit", "SplashLoadFile", "SplashSetFileJarName", "main", "SplashClose",
                                  "print_stack_trace", "destroy"])

    def test_missing_entry_point_falls_back_to_the_own_window(self):
        app = self.library_app(library=lambda src, dst: harness.rename_export(src, dst, "SplashInit", "SplashInix"))
        r = app.run()
        self.assertExit(r, 0)
        self.assertEqual([e for e in r.events() if e.startswith("Splash")], [])
        self.assertIn("splash_loaded", r.events())
        self.assertTrue(self.one(r, "main")["splash"])

    def test_not_preferred_leaves_the_library_alone(self):
        app = self.library_app(preference="No")
        r = app.run()
        self.assertExit(r, 0)
        self.assertNotIn("splash_loaded", r.events())
        self.assertTrue(self.one(r, "main")["splash"])

    def test_image_path_beyond_the_code_page_goes_by_its_short_name(self):
        app = self.library_app(image_name="日本/s.bmp")
        r = app.run()
        self.assertExit(r, 0)
        name = self.one(r, "SplashLoadFile")["file"]
        self.assertTrue(all(ord(c) < 128 for c in name) and "~" in name, name)
        self.assertEqual(self.one(r, "SplashSetFileJarName")["file"], name)


if __name__ == "__main__":
    unittest.main()
