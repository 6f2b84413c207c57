"""The packaging command's Windows installer under Wine: package-app (built
for this machine) makes the .msi of a program with the stand-in runtime
bundled; msiexec installs it for the user without asking, the installed
executable starts, the file type's registry entries read back open a
document through the registered command (handed to the running first
instance), and msiexec /x removes all of it."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import harness
from harness import LauncherCase, Runtime

DESCRIPTION = """[Package]
Name=MsiApp
Title=Msi App
Version=1.2.3.0
Vendor=Veda Tests
Icon=app.png
Files=app.jar
Targets=windows-x86
Built-in Sections=Java Runtime Environment;Class Path

[Package Runtime]
windows-x86=runtime

[Package File Types]
msitest=Msi test document

[Java Runtime Environment]
Main Class=standin.SecondaryInt

[Class Path]
Class Path=\\lib\\app.jar

[Application]
Single Instance=yes
"""


def wine(*args):
    return harness._wine(list(args), timeout=300)


def registry_default(key):
    """The default value of an HKCU key as reg.exe prints it, or None."""
    status, out = wine("reg", "query", "HKCU\\" + key, "/ve")
    if status != 0:
        return None
    for line in out.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return ""


class PackageMsiTest(LauncherCase):
    def test_install_open_a_document_and_uninstall(self):
        tool = os.path.join(harness.dist_dir(), "host", "package-app")
        if not os.path.isfile(tool) or not shutil.which("wixl"):
            self.fail("needs dist/host/package-app (cmake --build --preset host) and wixl")
        src = tempfile.mkdtemp(prefix="package-", dir=harness.work_root())
        self.addCleanup(shutil.rmtree, src, True)
        with open(os.path.join(src, "MsiApp.package.ini"), "w", encoding="utf-8") as f:
            f.write(DESCRIPTION)
        open(os.path.join(src, "app.jar"), "wb").close()
        subprocess.run(["python3", os.path.join(harness.REPO, "sample", "make_icon.py"), os.path.join(src, "app.png")],
                       check=True)
        runtime = os.path.join(src, "runtime")
        os.makedirs(os.path.join(runtime, "bin", "client"))
        shutil.copyfile(harness.standin_path("x86"), os.path.join(runtime, "bin", "client", "jvm.dll"))
        open(os.path.join(runtime, "bin", "java.dll"), "wb").close()
        # The first instance's main waits, so that a document can be handed to it.
        with open(os.path.join(runtime, "bin", "client", "standin.cfg"), "w") as f:
            f.write("main_waits_ms=60000\nsecondary_result=7\n")

        def package(version):
            with open(os.path.join(src, "MsiApp.package.ini"), "w", encoding="utf-8") as f:
                f.write(DESCRIPTION.replace("1.2.3.0", version))
            made = subprocess.run([tool, os.path.join(src, "MsiApp.package.ini"), "--output", os.path.join(src, version)],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
            self.assertEqual(made.returncode, 0, made.stderr.decode())
            return os.path.join(src, version, "MsiApp-%s-windows-x86.msi" % version)

        # The older version first: the newer one replaces it.
        old = package("1.2.2.0")
        self.assertEqual(wine("msiexec", "/i", harness.to_windows_path(old), "/qn")[0], 0)
        self.addCleanup(wine, "msiexec", "/x", harness.to_windows_path(old), "/qn")
        msi = package("1.2.3.0")

        status, out = wine("msiexec", "/i", harness.to_windows_path(msi), "/qn")
        self.addCleanup(wine, "msiexec", "/x", harness.to_windows_path(msi), "/qn")
        self.assertEqual(status, 0, out)
        status, out = wine("cmd", "/c", "echo", "%LOCALAPPDATA%")
        local = out.strip().splitlines()[-1]
        installed = os.path.join(harness.from_windows_path(local), "Programs", "MsiApp")
        exe = os.path.join(installed, "MsiApp.exe")
        self.assertTrue(os.path.isfile(exe), installed)
        # One entry in the installed programs: 1.2.3 replaced 1.2.2.
        self.assertEqual(self.uninstall_entries(), ["1.2.3"])
        status, out = wine("cmd", "/c", "echo", "%APPDATA%")
        shortcut = os.path.join(harness.from_windows_path(out.strip().splitlines()[-1]),
                                "Microsoft", "Windows", "Start Menu", "Programs", "Msi App.lnk")
        self.assertTrue(os.path.isfile(shortcut), shortcut)

        # The document's command, as the shell reads it, with "%1" filled in.
        self.assertEqual(registry_default("Software\\Classes\\.msitest"), "MsiApp.msitest")
        command = registry_default("Software\\Classes\\MsiApp.msitest\\shell\\open\\command")
        self.assertEqual(command, '"%s\\Programs\\MsiApp\\MsiApp.exe" "%%1"' % local)
        document = "C:\\My Documents\\letter one.msitest"
        rt = Runtime(os.path.join(installed, "jre"), "client")
        # A document opened while the program runs is handed to it, whole.
        first = harness.start_program(exe, args=["first"], records_from={"jre": rt}, timeout=120)
        stop = os.path.join(rt.dll_dir, "standin.stop")
        self.addCleanup(lambda: os.path.isdir(rt.dll_dir) and open(stop, "w").close())
        deadline = time.monotonic() + 60
        while not [e for e in rt.records() if e.get("event") == "main"] and time.monotonic() < deadline:
            time.sleep(0.1)
        r = harness.run_program(exe, raw_cmdline=command.replace("%1", document), records_from={"jre": rt})
        self.assertEqual(r.exit_code, 7, r)
        self.assertEqual([e["args"] for e in rt.records() if e.get("event") == "secondary_main"], [[document]])
        open(stop, "w").close()
        self.assertEqual(self.main_args(first.wait()), ["first"])

        # The stand-in's records are no files of the installer's: they go first.
        os.remove(rt.log)
        os.remove(stop)
        status, out = wine("msiexec", "/x", harness.to_windows_path(msi), "/qn")
        self.assertEqual(status, 0, out)
        self.assertFalse(os.path.exists(installed), os.listdir(installed) if os.path.isdir(installed) else "")
        self.assertIsNone(registry_default("Software\\Classes\\.msitest"))
        self.assertIsNone(registry_default("Software\\Classes\\MsiApp.msitest"))
        self.assertIsNone(registry_default("Software\\Veda Tests\\MsiApp"))
        self.assertFalse(os.path.exists(shortcut))
        self.assertEqual(self.uninstall_entries(), [])

    def test_signed_executable_starts_with_its_built_in_settings(self):
        # The README's signing step: the branded executable signed, then run.
        tool = os.path.join(harness.dist_dir(), "host", "package-app")
        src = tempfile.mkdtemp(prefix="package-", dir=harness.work_root())
        self.addCleanup(shutil.rmtree, src, True)
        with open(os.path.join(src, "MsiApp.package.ini"), "w", encoding="utf-8") as f:
            f.write(DESCRIPTION.replace("windows-x86=runtime", "windows-x86=none"))
        open(os.path.join(src, "app.jar"), "wb").close()
        subprocess.run(["python3", os.path.join(harness.REPO, "sample", "make_icon.py"), os.path.join(src, "app.png")],
                       check=True)
        made = subprocess.run([tool, os.path.join(src, "MsiApp.package.ini")], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300)
        self.assertEqual(made.returncode, 0, made.stderr.decode())
        folder = os.path.join(src, "packages", "windows-x86", "MsiApp")
        key, cert = os.path.join(src, "key.pem"), os.path.join(src, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=Veda Tests",
                        "-keyout", key, "-out", cert], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        exe = os.path.join(folder, "MsiApp.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", exe, "-out", exe + ".signed"],
                       check=True, stdout=subprocess.DEVNULL)
        os.replace(exe + ".signed", exe)
        rt = Runtime(os.path.join(folder, "jre"), "client")
        os.makedirs(rt.dll_dir)
        shutil.copyfile(harness.standin_path("x86"), rt.dll)
        open(os.path.join(folder, "jre", "bin", "java.dll"), "wb").close()
        r = harness.run_program(exe, args=["signed"], records_from={"jre": rt})
        self.assertEqual(r.exit_code, 0, r)
        self.assertEqual(self.one(r, "main")["class"], "standin/SecondaryInt")
        self.assertEqual(self.main_args(r), ["signed"])

    def uninstall_entries(self):
        """The versions of the program's entries among the installed programs."""
        status, out = wine("reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "/s")
        versions, ours = [], False
        for line in out.splitlines():
            fields = line.split("REG_SZ")
            if fields[0].strip() == "DisplayName":
                ours = fields[1].strip() == "Msi App"
            elif fields[0].strip() == "DisplayVersion" and ours:
                versions.append(fields[1].strip())
        return versions


if __name__ == "__main__":
    unittest.main()
