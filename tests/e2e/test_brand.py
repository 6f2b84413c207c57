"""The branding tool end to end: brand-launcher, built for this machine,
brands copies of the x86 and x64 launchers; the system's own functions read
the icon, the version information, the built-in settings and the message
table back; the branded copies still start the application. The Windows
build of the tool writes in place; bad inputs fail and leave nothing."""

import os
import struct
import subprocess
import tempfile
import unittest
import zlib

import harness
from harness import LauncherCase, launcher_settings

RED_BGRA = "0000ffff"  # a pixel of the test icon as GetDIBits hands it out


def save_png(path, width, height, bgra):
    """A PNG of top-down BGRA rows, kept as a test artefact to look at."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b""
    for y in range(height):
        row = bgra[4 * width * y:4 * width * (y + 1)]
        rows += b"\0" + b"".join(bytes((row[i + 2], row[i + 1], row[i])) for i in range(0, len(row), 4))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def bitmap_image(size):
    """A 32-bit icon image of one colour (red), as .ico files hold it."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes([0, 0, 255, 255]) * (size * size)
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def png_image(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes([255, 0, 0, 255]) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico file from (size, image bytes) pairs."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


ICON_IMAGES = [(16, bitmap_image(16)), (32, bitmap_image(32)), (256, png_image(256))]
BUILT_IN = launcher_settings(class_path="\\app.jar", app={"Cmd": "fromBuiltIn"})
VERSION_ARGS = [
    "--file-version", "2.3.4.5", "--product-version", "2.3",
    "--product-name", "Hello \u00c4pp", "--company", "Acme Ltd",
    "--description", "Says hello", "--copyright", "\u00a9 2026 Acme",
    "--original-filename", "HelloApp.exe",
]
VERSION_STRINGS = {
    "CompanyName": "Acme Ltd", "FileDescription": "Says hello", "FileVersion": "2.3.4.5",
    "InternalName": "HelloApp", "LegalCopyright": "\u00a9 2026 Acme",
    "OriginalFilename": "HelloApp.exe", "ProductName": "Hello \u00c4pp", "ProductVersion": "2.3.0.0",
}


class BrandTest(LauncherCase):
    @classmethod
    def setUpClass(cls):
        cls.tool = harness.host_brand_tool()
        cls.files = tempfile.mkdtemp(prefix="brand-", dir=harness.work_root())
        cls.icon = os.path.join(cls.files, "app.ico")
        with open(cls.icon, "wb") as f:
            f.write(icon_file(ICON_IMAGES))
        cls.settings = os.path.join(cls.files, "builtin.ini")
        with open(cls.settings, "wb") as f:
            f.write(BUILT_IN.encode("utf-8"))
        cls.original = {}

    def brand(self, *args):
        proc = subprocess.run([self.tool] + [str(a) for a in args], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")

    def original_messages(self, arch):
        if arch not in self.original:
            self.original[arch] = harness.read_back_brand(harness.launcher_path(arch))["messages"]
        return self.original[arch]

    def test_branded_launchers_show_what_they_carry_and_start(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(None, arch=arch)
                exe = app.file("HelloApp.exe")
                code, out, err = self.brand(harness.launcher_path(arch), exe, "--icon", self.icon,
                                            "--settings", self.settings, *VERSION_ARGS)
                self.assertEqual((code, err), (0, ""), out)
                seen = harness.read_back_brand(exe)

                icon = seen["icon"]
                self.assertEqual(icon["groups"], [1])
                self.assertEqual([(i["width"], i["height"], i["bits"]) for i in icon["images"]],
                                 [(16, 16, 32), (32, 32, 32), (256, 256, 32)])
                self.assertEqual([bytes.fromhex(i["data"]) for i in icon["images"]],
                                 [data for _, data in ICON_IMAGES])
                drawn = icon.pop("drawn")
                self.assertEqual(icon["loaded"], {"width": 32, "height": 32, "centre": RED_BGRA})
                # Drawn by the system: red where the icon is, white around it.
                pixels = bytes.fromhex(drawn["pixels"])
                save_png(os.path.join(harness.artefact_dir(), "branded-icon-%s.png" % arch),
                         48, 48, pixels)
                def at(x, y):
                    return pixels[4 * (48 * y + x):4 * (48 * y + x) + 3]
                self.assertEqual(at(24, 24), b"\0\0\xff")
                self.assertEqual(at(8, 8), b"\0\0\xff")
                self.assertEqual(at(4, 4), b"\xff\xff\xff")
                self.assertEqual(at(42, 24), b"\xff\xff\xff")
                self.assertTrue(icon["extracted"])
                self.assertEqual(icon["extract_count"], 1)

                version = seen["version"]
                self.assertEqual((version["file"], version["product"]), ("2.3.4.5", "2.3.0.0"))
                self.assertEqual(version["translation"], [0x409, 1200])
                self.assertEqual(version["strings"], VERSION_STRINGS)

                self.assertEqual(bytes.fromhex(seen["settings"]), BUILT_IN.encode("utf-8"))
                self.assertEqual(seen["settings_languages"], [0])
                self.assertEqual(seen["messages"], self.original_messages(arch))
                self.assertNotIn(None, seen["messages"])
                self.assertEqual(seen["manifests"], [1])
                self.assertEqual(seen["checksum"]["status"], 0)
                self.assertEqual(seen["checksum"]["header"], seen["checksum"]["computed"])

                # No settings file: the built-in settings alone start main.
                r = app.run(exe=exe)
                self.assertExit(r, 0)
                self.assertNoBox(r)
                self.assertEqual(self.one(r, "main")["class"], "standin/Records")
                self.assertEqual(self.main_args(r), ["fromBuiltIn"])
                self.assertEqual(self.one(r, "loaded")["bits"], 32 if arch == "x86" else 64)

    def test_embedded_jar_stays_at_the_end(self):
        jar = b"PK\x03\x04" + os.urandom(3000) + b"PK\x05\x06" + bytes(18)
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(None, arch=arch)
                with open(harness.launcher_path(arch), "rb") as f:
                    source = app.write_file("with-jar.exe", f.read() + jar)
                exe = app.file("App.exe")
                settings = app.write_file("embedded.ini", launcher_settings(
                    class_path=None, app={"Embedded Jar": "Yes"}))
                code, out, err = self.brand(source, exe, "--settings", settings, "--icon", self.icon)
                self.assertEqual((code, err), (0, ""), out)
                with open(exe, "rb") as f:
                    self.assertTrue(f.read().endswith(jar))
                self.assertEqual(harness.read_back_brand(exe)["checksum"]["status"], 0)
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(self.options(r), ["-Djava.class.path=%s\\App.exe" % app.win_path])

    def test_windows_build_writes_in_place(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(None, arch=arch)
                settings = app.write_file("builtin.ini", BUILT_IN)
                before = sorted(os.listdir(app.path))
                status, output = harness._wine([harness.brand_tool(arch), harness.to_windows_path(app.exe),
                                                "--settings", harness.to_windows_path(settings),
                                                "--product-name", "In Place"], 60)
                self.assertEqual(status, 0, output)
                self.assertEqual(sorted(os.listdir(app.path)), before)
                seen = harness.read_back_brand(app.exe)
                self.assertEqual(bytes.fromhex(seen["settings"]), BUILT_IN.encode("utf-8"))
                self.assertEqual(seen["version"]["strings"]["ProductName"], "In Place")
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), ["fromBuiltIn"])

    def test_display_section_gets_a_warning(self):
        app = self.make_app(None, runtime=None)
        settings = app.write_file("display.ini", launcher_settings(
            more=[("Display", {"Splash Screen": "splash.bmp"})]))
        code, out, err = self.brand(app.exe, app.file("Out.exe"), "--settings", settings)
        self.assertEqual(code, 0, err)
        self.assertIn("warning: the settings hold a [Display] section", err)
        self.assertTrue(os.path.isfile(app.file("Out.exe")))

    def test_bad_inputs_fail_and_leave_nothing(self):
        app = self.make_app(None, runtime=None)
        app.add_runtime("jre")  # its jvm.dll is a library, not an executable
        damaged = app.write_file("damaged.ico", icon_file(ICON_IMAGES)[:-100])
        ini = app.write_file("ok.ini", BUILT_IN)
        text = app.write_file("notes.txt", "[Application]\n")
        keys_only = app.write_file("keys.ini", "Main Class=standin.Records\n")
        boxdemo = app.install_program(harness.boxdemo_path(), "Other.exe")
        launcher = app.install_launcher()
        out = app.file("Out.exe")
        cases = [
            ("a program that is not the launcher", [boxdemo, out, "--settings", ini],
             "not a launcher: the executable holds no message table 202-230"),
            ("a library", [app.file("jre/bin/client/jvm.dll"), out, "--settings", ini],
             "not a 32- or 64-bit Windows executable"),
            ("a text file", [text, out, "--settings", ini], "not a 32- or 64-bit Windows executable"),
            ("a damaged icon", [launcher, out, "--icon", damaged], "damaged icon file"),
            ("a version number above 65535", [launcher, out, "--file-version", "1.70000"],
             "above 65535"),
            ("a version block over 64 KiB", [launcher, out, "--description", "d" * 33000],
             "exceeds 64 KiB"),
            ("settings without a section", [launcher, out, "--settings", keys_only],
             "holds no [section]"),
            ("in place, a damaged icon", [launcher, "--icon", damaged], "damaged icon file"),
            ("a folder for the launcher", [app.path, out, "--settings", ini], "cannot read"),
            ("an output folder that does not exist", [launcher, app.file("none/Out.exe"), "--settings", ini],
             "cannot write"),
        ]
        with open(launcher, "rb") as f:
            original = f.read()
        before = sorted(os.listdir(app.path))
        for what, args, message in cases:
            with self.subTest(case=what):
                code, _, err = self.brand(*args)
                self.assertEqual(code, 1, err)
                self.assertIn(message, err)
                self.assertEqual(sorted(os.listdir(app.path)), before)
                with open(launcher, "rb") as f:
                    self.assertEqual(f.read(), original)
        # The Windows build fails the same way and leaves the launcher as it was.
        status, output = harness._wine([harness.brand_tool("x86"), harness.to_windows_path(launcher),
                                        "--icon", harness.to_windows_path(damaged)], 60)
        self.assertEqual(status, 1, output)
        self.assertIn("damaged icon file", output)
        self.assertEqual(sorted(os.listdir(app.path)), before)
        with open(launcher, "rb") as f:
            self.assertEqual(f.read(), original)


if __name__ == "__main__":
    unittest.main()
