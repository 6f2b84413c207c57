"""The packaging command end to end: the sample program packaged for all
three targets on this machine (dist/host/package-app, the launchers of
dist/), its Linux archive unpacked and run with the runtime jlink made from
the machine's JDK, its desktop entry validated and its window class compared
with a real window's, its .deb checked by lintian, installed and removed."""
import os
import shutil
import struct
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile
import zlib

import screen
from linux_harness import JDK17, REPO, clean_environment

PACKAGE_APP = os.environ.get("PACKAGE_APP", os.path.join(REPO, "dist", "host", "package-app"))
# A name no real package has, so that installing it touches nothing else.
PACKAGE = "veda-package-test"


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600, **kwargs)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="launcher-package-")
        src = os.path.join(cls.dir, "src")
        os.makedirs(src)
        # The sample's jar, built here: the Linux build does not make it.
        sources = [os.path.join(REPO, "sample", "src", "demo", "HelloApp.java")]
        classes = os.path.join(cls.dir, "classes")
        subprocess.run([os.path.join(JDK17, "bin", "javac"), "--release", "8", "-nowarn", "-d", classes] + sources,
                       check=True, stderr=subprocess.DEVNULL)
        subprocess.run([os.path.join(JDK17, "bin", "jar"), "cf", os.path.join(src, "hello.jar"), "-C", classes, "."],
                       check=True)
        subprocess.run(["python3", os.path.join(REPO, "sample", "make_icon.py"), os.path.join(src, "HelloApp.png")],
                       check=True)
        with open(os.path.join(REPO, "sample", "HelloApp.package.ini"), encoding="utf-8") as f:
            text = f.read().replace("[Package]\n", "[Package]\nPackage Name=%s\n" % PACKAGE)
        cls.description = os.path.join(src, "HelloApp.package.ini")
        with open(cls.description, "w", encoding="utf-8") as f:
            f.write(text)
        cls.out = os.path.join(cls.dir, "packages")
        cls.result = run([PACKAGE_APP, cls.description, "--output", cls.out],
                         env=clean_environment(JAVA_HOME=JDK17, SOURCE_DATE_EPOCH="1767225600"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, True)

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr.decode())

    def unpacked(self):
        target = os.path.join(self.dir, "unpacked")
        if not os.path.isdir(target):
            with tarfile.open(os.path.join(self.out, "HelloApp-1.0.0.0-linux-x64.tar.gz")) as tar:
                tar.extractall(target)
        return os.path.join(target, "HelloApp")

    def test_made_every_delivery(self):
        for name in ("HelloApp-1.0.0.0-windows-x64.zip", "HelloApp-1.0.0.0-windows-x86.zip",
                     "HelloApp-1.0.0.0-linux-x64.tar.gz", "%s_1.0.0.0_amd64.deb" % PACKAGE):
            self.assertTrue(os.path.isfile(os.path.join(self.out, name)), name)
        with zipfile.ZipFile(os.path.join(self.out, "HelloApp-1.0.0.0-windows-x64.zip")) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(sorted(n for n in z.namelist() if not n.endswith("/")),
                             ["HelloApp/HelloApp.exe", "HelloApp/HelloApp.ini", "HelloApp/lib/hello.jar"])
        # Nothing of the work in progress is left beside the output.
        self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("packages")], ["packages"])

    def test_archive_modes_and_a_run_with_its_own_runtime(self):
        with tarfile.open(os.path.join(self.out, "HelloApp-1.0.0.0-linux-x64.tar.gz")) as tar:
            modes = {m.name: (m.mode, m.uid) for m in tar.getmembers()}
        self.assertEqual(modes["HelloApp/HelloApp"], (0o755, 0))
        self.assertEqual(modes["HelloApp/jre/bin/java"], (0o755, 0))
        self.assertEqual(modes["HelloApp/lib/hello.jar"], (0o644, 0))
        self.assertEqual(modes["HelloApp/jre/lib"], (0o755, 0))
        exe = os.path.join(self.unpacked(), "HelloApp")
        # A desktop hands a local file over as a file:// address.
        result = run([exe, "file:///tmp/a%20b.hello", "hello-app://open"], env=clean_environment(), cwd=self.dir)
        out = result.stdout.decode()
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertIn("  [/tmp/a b.hello]\n  [hello-app://open]\n", out)
        self.assertIn(" from %s\n" % os.path.join(self.unpacked(), "jre"), out)
        # The runtime has its class-data archive (the start-up cache needs it).
        self.assertTrue(os.path.isfile(os.path.join(self.unpacked(), "jre", "lib", "server", "classes.jsa")))

    def test_desktop_entry_is_valid_and_names_the_real_window_class(self):
        entry = os.path.join(self.out, "linux-x64", "share", "applications", PACKAGE + ".desktop")
        check = run(["desktop-file-validate", entry])
        self.assertEqual((check.returncode, check.stdout.decode()), (0, ""))
        with open(entry, encoding="utf-8") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(fields["Exec"], "/opt/%s/HelloApp %%U" % PACKAGE)
        self.assertEqual(fields["MimeType"], "application/x-%s-hello;x-scheme-handler/hello-app;" % PACKAGE)
        for size in (16, 48, 256):
            self.assertTrue(os.path.isfile(os.path.join(self.out, "linux-x64", "share", "icons", "hicolor",
                                                        "%dx%d" % (size, size), "apps", PACKAGE + ".png")))
        display = screen.Display()
        self.addCleanup(display.close)
        exe = os.path.join(self.unpacked(), "HelloApp")
        env = clean_environment(DISPLAY=display.name, XDG_CONFIG_HOME=os.path.join(self.dir, "config"))
        output = open(os.path.join(self.dir, "first.txt"), "w+")
        self.addCleanup(output.close)
        app = subprocess.Popen([exe], env=env, cwd=self.dir, stdout=output, stderr=subprocess.DEVNULL)
        self.addCleanup(app.wait, 10)
        self.addCleanup(app.kill)
        window = ""
        deadline = time.monotonic() + 60
        while not window and time.monotonic() < deadline and app.poll() is None:
            window = display.xdotool("search", "--name", "^Hello from the launcher$").split()
            window = window[0] if window else ""
            time.sleep(0.1)
        self.assertTrue(window, "the sample's window did not appear")
        wm_class = run(["xprop", "-display", display.name, "-id", window, "WM_CLASS"]).stdout.decode()
        # WM_CLASS(STRING) = "instance", "class": the desktop matches the class.
        self.assertEqual(wm_class.split('"')[3], fields["StartupWMClass"], wm_class)
        # A document opened from the desktop meanwhile goes to the running
        # program (single instance) as one path; its answer is the count.
        second = run([exe, "file:///tmp/second%20doc.hello"], env=env, cwd=self.dir)
        self.assertEqual(second.returncode, 1, second.stderr.decode())
        output.seek(0)
        self.assertIn("Handed over by a later launch: /tmp/second doc.hello\n", output.read())

    def test_a_bad_description_names_its_lines_and_writes_nothing(self):
        bad = os.path.join(self.dir, "bad")
        os.makedirs(os.path.join(bad, "x64", "bin", "server"))
        # An x64 library where windows-x86 needs an x86 one.
        shutil.copyfile(os.path.join(REPO, "dist", "x64", "launcher.exe"), os.path.join(bad, "x64", "bin", "server", "jvm.dll"))
        raw = b"".join(b"\0" + b"\x80" * 300 * 3 for _ in range(200))
        chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                    struct.pack(">I", zlib.crc32(kind + data)))
        with open(os.path.join(bad, "wide.png"), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 300, 200, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
        with open(os.path.join(bad, "Bad.package.ini"), "w") as f:
            f.write("[Package]\nName=Bad\nVersion=1.0.0.0\nVendor=V\nMaintainer=V <v@example.com>\n"
                    "Icon=wide.png\nFiles=missing.jar\n[Package Runtime]\nwindows-x64=%s\nwindows-x86=x64\n" % JDK17)
        result = run([PACKAGE_APP, os.path.join(bad, "Bad.package.ini")])
        self.assertEqual(result.returncode, 1)
        errors = result.stderr.decode().splitlines()
        prefix = os.path.join(bad, "Bad.package.ini")
        self.assertEqual([e.split(": error: ")[0] for e in errors], [prefix + ":6", prefix + ":7", prefix + ":9", prefix + ":10"])
        for line, says in zip(errors, ("is 300 x 200 pixels", "missing.jar: no such file",
                                       "is a runtime for Linux, not for windows-x64",
                                       "is a runtime for x64; windows-x86 needs one for x86")):
            self.assertIn(says, line)
        self.assertFalse(any(n.startswith("packages") for n in os.listdir(bad)))

    def test_deb_passes_lintian_installs_and_removes(self):
        deb = os.path.join(self.out, "%s_1.0.0.0_amd64.deb" % PACKAGE)
        lintian = run(["lintian", "--fail-on", "error", deb])
        report = lintian.stdout.decode()
        self.assertEqual(lintian.returncode, 0, report)
        self.assertNotIn("E: ", report)
        if os.geteuid() != 0:
            self.skipTest("installing a package needs root")
        self.addCleanup(run, ["dpkg", "--purge", PACKAGE])
        install = run(["dpkg", "-i", deb])
        self.assertEqual(install.returncode, 0, install.stderr.decode())
        self.assertEqual(os.path.realpath("/usr/bin/" + PACKAGE), "/opt/%s/HelloApp" % PACKAGE)
        result = run(["/usr/bin/" + PACKAGE, "installed"], env=clean_environment(), cwd=self.dir)
        self.assertIn("  [installed]\n", result.stdout.decode())
        self.assertIn(" from /opt/%s/jre\n" % PACKAGE, result.stdout.decode())
        remove = run(["dpkg", "--purge", PACKAGE])
        self.assertEqual(remove.returncode, 0, remove.stderr.decode())
        for path in ("/opt/" + PACKAGE, "/usr/bin/" + PACKAGE, "/usr/share/applications/%s.desktop" % PACKAGE):
            self.assertFalse(os.path.lexists(path), path)


if __name__ == "__main__":
    unittest.main()
