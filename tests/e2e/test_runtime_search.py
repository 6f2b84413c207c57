"""Runtime search end to end: "JRE Path", the runtime beside the executable,
the vendors' registry keys in both registry views, the choice among the
runtimes found, and the processor check of the chosen library.

A launch that finds no runtime shows the missing-runtime dialog (cancelled
here: the launch then ends with -1); a launch of the paired product ends
with -1 and no message in this build."""

import os
import re
import unittest

import harness
from harness import LauncherCase, launcher_settings

JDK = r"HKLM\SOFTWARE\JavaSoft\Java Development Kit"
JRE = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
RJRE = r"HKLM\SOFTWARE\JRockit\Java Runtime Environment"
RJDK = r"HKLM\SOFTWARE\JRockit\Java Development Kit"
IBM = r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment"
KITS = (JDK, RJDK)
VENDOR_ROOTS = [(r"HKLM\SOFTWARE\%s" % v, view)
                for v in ("JavaSoft", "JRockit", "IBM") for view in (32, 64)]
OWN_VIEW = {"x86": 32, "x64": 64}
OTHER_ARCH = {"x86": "x64", "x64": "x86"}
# "Pair Product" of the cases below names a program in a folder that does
# not exist (ERROR_PATH_NOT_FOUND).
PAIR_NOT_STARTED = "Windows exception: C:\\pair\\Pair.exe (errno = 3).\n"


def reg(key, subkey, home, *vms, view=None, arch=None, java_home="plain"):
    """One registered runtime: `home` names a folder of the case (a kit's
    runtime is placed in its jre folder); vms are the jvm.dll folders placed
    there (default client). java_home: "plain", "slash" (trailing
    backslash), "missing" (no JavaHome value), "empty", or "nojvm" (a folder
    without any jvm.dll)."""
    return dict(key=key, subkey=subkey, home=home, vms=vms or ("client",), view=view, arch=arch,
                java_home=java_home)


def setUpModule():
    # No vendor key may be left from elsewhere: a case that expects no
    # runtime would otherwise find one.
    harness.reg_apply(deletes=VENDOR_ROOTS)


def tearDownModule():
    harness.reg_apply(deletes=VENDOR_ROOTS)


class RegistryCase(LauncherCase):
    """Registers runtimes of one case (removing every vendor key first) and
    runs the launcher; `expect` names the home whose jvm.dll must be loaded
    (and the vm folder), None when nothing may be found (the missing-runtime
    dialog is cancelled) or "pair" when the paired product is to start."""

    def run_case(self, regs, expect, jre=(), arch=None, main_class="standin.Exits", beside=False,
                 jre_path=None, app=(), cfg=None, env=None):
        arch = arch or self.arch
        folder = self.make_app(None, runtime="jre" if beside else None, arch=arch)
        homes = os.path.join(folder.case_dir, "homes")
        adds = []
        runtime_homes = {}
        for r in regs:
            home = os.path.join(homes, r["home"])
            rt_home = os.path.join(home, "jre") if r["key"] in KITS else home
            runtime_homes[r["home"]] = rt_home
            if r["java_home"] == "nojvm":
                os.makedirs(os.path.join(rt_home, "bin"), exist_ok=True)
                open(os.path.join(rt_home, "bin", "java.dll"), "wb").close()
            else:
                for vm in r["vms"]:
                    folder.add_runtime(rt_home, arch=r["arch"] or arch, vm=vm, cfg=cfg)
            key = "%s\\%s" % (r["key"], r["subkey"])
            view = r["view"] or OWN_VIEW[arch]
            if r["java_home"] == "missing":
                adds.append((key, "Version", r["subkey"], view))
            elif r["java_home"] == "empty":
                adds.append((key, "JavaHome", "", view))
            else:
                value = harness.to_windows_path(home) + ("\\" if r["java_home"] == "slash" else "")
                adds.append((key, "JavaHome", value, view))
        settings = dict(jre)
        if jre_path is not None:
            if jre_path not in runtime_homes:
                folder.add_runtime(os.path.join(homes, jre_path), arch=arch)
                runtime_homes[jre_path] = os.path.join(homes, jre_path)
            settings["JRE Path"] = harness.to_windows_path(runtime_homes[jre_path])
        folder.write_ini(launcher_settings(main_class=main_class, jre=settings, app=app))
        harness.reg_apply(deletes=VENDOR_ROOTS, adds=adds)
        r = folder.run(press=harness.IDCANCEL if expect is None else None, env=env)
        if expect == "pair":
            # The paired product is started instead; this one does not exist.
            self.assertExit(r, -1)
            self.assertOneBox(r, PAIR_NOT_STARTED)
            self.assertEqual(r.records, [])
            return r
        self.assertNoBox(r)
        if expect is None:
            self.assertRuntimeDialogCancelled(r)
            return r
        home, vm = expect if isinstance(expect, tuple) else (expect, "client")
        home = folder.win_path + "\\jre" if home == "beside" else harness.to_windows_path(
            runtime_homes[home])
        self.assertExit(r, 0)
        self.assertEqual(self.loaded(r), ["%s\\bin\\%s\\jvm.dll" % (home, vm)])
        return r


class DpiAwarenessTest(RegistryCase):
    def test_the_program_gets_the_awareness_its_runtimes_java_command_gives(self):
        # Java 8's own executable is system aware; later ones scale per
        # monitor. Asked before the first window (the splash), and a box
        # before the runtime is known settles it as system awareness.
        # (Wine 8 makes every process per-monitor aware and refuses a
        # change, so the program's record shows 2 whatever is asked: the
        # trace shows what the launcher asked for.)
        trace = os.path.join(harness.work_root(), "dpi-trace-%d.log" % os.getpid())
        for version, asked in (("1.8.0_402", "system"), ("17", "per monitor")):
            with self.subTest(version=version):
                if os.path.exists(trace):
                    os.remove(trace)
                r = self.run_case([reg(JRE, version, "a")], "a", cfg={"record_dpi": 1},
                                  env={"VEDA_LAUNCHER_TRACE": harness.to_windows_path(trace)})
                with open(trace, encoding="utf-8") as f:
                    lines = [l for l in f if "dpi awareness" in l]
                self.assertEqual(len(lines), 1, lines)
                self.assertIn('asked="%s"' % asked, lines[0])
                (dpi,) = [e for e in r.records if e.get("event") == "dpi"]
                self.assertIn(dpi["awareness"], (1, 2), r.records)


class RegistrySearchTest(RegistryCase):
    # (what, extra settings, registered runtimes, expected home[, vm])
    CASES = [
        ("runtime environment", {}, [reg(JRE, "1.6.0_24", "a")], "a"),
        ("development kit through its jre folder", {}, [reg(JDK, "1.7.0", "k")], "k"),
        ("highest version of either kind", {},
         [reg(JRE, "1.6.0", "a"), reg(JDK, "1.7.0", "k")], "k"),
        ("favor_JRE puts the kind before the version", {"JVM Source": "favor_JRE"},
         [reg(JRE, "1.6.0", "a"), reg(JDK, "1.7.0", "k")], "a"),
        ("favor_JRE still accepts a kit", {"JVM Source": "favor_JRE"},
         [reg(JDK, "1.8.0", "k")], "k"),
        ("favor_JDK", {"JVM Source": "favor_JDK"},
         [reg(JRE, "1.8.0", "a"), reg(JDK, "1.7.0", "k")], "k"),
        ("only_JDK ignores runtime environments", {"JVM Source": "only_JDK"},
         [reg(JRE, "1.8.0", "a")], None),
        ("only_JRE ignores kits", {"JVM Source": "only_JRE"},
         [reg(JRE, "1.6.0", "a"), reg(JDK, "1.8.0", "k")], "a"),
        ("unknown JVM Source searches no key", {"JVM Source": "favour_JRE"},
         [reg(JRE, "1.6.0", "a")], None),
        ("JVM Source is compared exactly", {"JVM Source": "FAVOR_JRE"},
         [reg(JRE, "1.6.0", "a")], None),
        ("preferred versions: first item that matches", {"Preferred versions": "1.5;1.6"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0_24", "b"), reg(JRE, "1.6.0_10", "c")], "b"),
        ("preferred version with an update", {"Preferred versions": "1.6.0_10"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0_24", "b"), reg(JRE, "1.6.0_10", "c")], "c"),
        ("preferred version 1.6.0 is a pattern like 1.6", {"Preferred versions": "1.6.0;1.7"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.1_5", "b"), reg(JRE, "1.6.0_10", "c")], "b"),
        ("preferred 1.0 stands for every 1.x", {"Preferred versions": "1.0"},
         [reg(JRE, "2.0.0", "a"), reg(JRE, "1.5.0", "b")], "b"),
        ("a zero before a number is no wildcard", {"Preferred versions": "1.0.0_24"},
         [reg(JRE, "1.5.0_24", "a"), reg(JRE, "1.0.0_24", "b")], "b"),
        ("no preferred version found: the highest", {"Preferred versions": "1.9"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0_24", "b")], "a"),
        ("version bounds", {"Minimum Version": "1.6", "Maximum Version": "1.6.0_30"},
         [reg(JRE, "1.5.0", "a"), reg(JRE, "1.6.0_24", "b"), reg(JRE, "1.7.0", "c")], "b"),
        ("maximum is inclusive", {"Maximum Version": "1.6.0_24"},
         [reg(JRE, "1.6.0_24", "a"), reg(JRE, "1.6.0_25", "b")], "a"),
        ("versions compare as numbers", {"Maximum Version": "1.9"},
         [reg(JRE, "1.9.0_5", "a"), reg(JRE, "1.10.0", "b")], "a"),
        ("maximum fills missing numbers with 65535", {"Maximum Version": "1.7"},
         [reg(JRE, "1.7.0_80", "a"), reg(JRE, "1.8.0", "b")], "a"),
        ("minimum above every runtime", {"Minimum Version": "1.8"},
         [reg(JRE, "1.7.0", "a")], None),
        ("minimum equal to maximum", {"Minimum Version": "1.6.0_24", "Maximum Version": "1.6.0_24"},
         [reg(JRE, "1.6.0_23", "a"), reg(JRE, "1.6.0_24", "b"), reg(JRE, "1.6.0_25", "c")], "b"),
        ("registrations without a usable home are passed over", {},
         [reg(JRE, "1.9.0", "m", java_home="missing"), reg(JRE, "1.8.0", "e", java_home="empty"),
          reg(JRE, "1.7.0", "n", java_home="nojvm"), reg(JRE, "1.6.0", "a")], "a"),
        ("home with a trailing backslash", {}, [reg(JRE, "1.6.0", "a", java_home="slash")], "a"),
        ("kit home with a trailing backslash", {},
         [reg(JDK, "1.6.0", "k", java_home="slash")], "k"),
        ("jrockit searches only its own keys", {"VM Provider": "jrockit"},
         [reg(JRE, "1.8.0", "a"), reg(RJRE, "1.6.0", "r")], "r"),
        ("jrockit kit", {"VM Provider": "jrockit"}, [reg(RJDK, "1.6.0", "rk")], "rk"),
        ("ibm", {"VM Provider": "ibm"}, [reg(JRE, "1.8.0", "a"), reg(IBM, "1.6.0", "i")], "i"),
        ("provider names ignore case", {"VM Provider": "FAVOR_IBM"},
         [reg(JRE, "1.8.0", "a"), reg(IBM, "1.5.0", "i")], "i"),
        ("favor_sun", {"VM Provider": "favor_sun"},
         [reg(IBM, "1.8.0", "i"), reg(JRE, "1.6.0", "a")], "a"),
        ("favor_jrockit", {"VM Provider": "favor_jrockit"},
         [reg(JRE, "1.8.0", "a"), reg(RJRE, "1.6.0", "r")], "r"),
        ("only_JRE: the vendor preference does not count",
         {"VM Provider": "favor_jrockit", "JVM Source": "only_JRE"},
         [reg(JRE, "1.8.0", "a"), reg(RJRE, "1.6.0", "r")], "a"),
        ("any: the highest of every vendor", {"VM Provider": "any"},
         [reg(IBM, "1.8.0", "i"), reg(JRE, "1.6.0", "a"), reg(RJRE, "1.7.0", "r")], "i"),
        ("default vendor is JavaSoft only", {},
         [reg(IBM, "1.8.0", "i"), reg(RJRE, "1.8.0", "r")], None),
        ("unknown provider keeps the default", {"VM Provider": "sun"},
         [reg(RJRE, "1.8.0", "r"), reg(JRE, "1.6.0", "a")], "a"),
        ("favor_server puts server runtimes first", {"JVM Type": "favor_server"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0", "s", "server")], ("s", "server")),
        ("default type: the highest version", {},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0", "s", "server")], "a"),
        ("server type rejects client runtimes", {"JVM Type": "server"},
         [reg(JRE, "1.7.0", "a")], None),
        ("server type", {"JVM Type": "server"},
         [reg(JRE, "1.7.0", "a"), reg(JRE, "1.6.0", "s", "server")], ("s", "server")),
        ("favor_server: a runtime environment with both is checked client first",
         {"JVM Type": "favor_server"},
         [reg(JRE, "1.7.0", "b", "client", "server"), reg(JRE, "1.6.0", "s", "server")],
         ("s", "server")),
        ("favor_server: the final library is the server one", {"JVM Type": "favor_server"},
         [reg(JRE, "1.7.0", "b", "client", "server")], ("b", "server")),
        ("favor_server: a kit with both counts as server", {"JVM Type": "favor_server"},
         [reg(JDK, "1.7.0", "k", "client", "server"), reg(JRE, "1.6.0", "s", "server")],
         ("k", "server")),
    ]

    # Cases run for the 64-bit launcher too (registered in its own view).
    CORE = ("runtime environment", "development kit through its jre folder",
            "favor_JRE puts the kind before the version",
            "preferred versions: first item that matches",
            "version bounds", "registrations without a usable home are passed over",
            "jrockit searches only its own keys", "favor_server puts server runtimes first")

    def test_choice_among_registered_runtimes(self):
        for what, jre, regs, expect in self.CASES:
            with self.subTest(case=what):
                self.run_case(regs, expect, jre=jre)

    def test_choice_by_the_64_bit_launcher(self):
        cases = {c[0]: c for c in self.CASES}
        for what in self.CORE:
            _, jre, regs, expect = cases[what]
            with self.subTest(case=what):
                r = self.run_case(regs, expect, jre=jre, arch="x64")
                self.assertEqual(self.one(r, "loaded")["bits"], 64)

    def test_configured_and_beside_runtimes_come_first(self):
        regs = [reg(JRE, "1.6.0", "a")]
        with self.subTest("JRE Path"):
            self.run_case(regs, "p", jre_path="p", beside=True)
        with self.subTest("beside the executable"):
            self.run_case(regs, "beside", beside=True)
        with self.subTest("JRE Path without a runtime"):
            self.run_case(regs, "a", jre={"JRE Path": harness.work_root()})
        with self.subTest("JRE Path without a runtime of the required type"):
            self.run_case(regs + [reg(JRE, "1.5.0", "s", "server")], ("s", "server"),
                          jre={"JVM Type": "server"}, jre_path="p")


class RegistryViewTest(RegistryCase):
    """Each launcher reads its own registry view; the other view is read
    only for the paired product, which is then started instead."""

    def test_views(self):
        pair = {"Pair Product": "C:\\pair\\Pair.exe"}
        for arch in ("x86", "x64"):
            own, other = OWN_VIEW[arch], 96 - OWN_VIEW[arch]
            foreign = OTHER_ARCH[arch]
            elsewhere = reg(JRE, "1.8.0", "f", view=other, arch=foreign)
            here = reg(JRE, "1.6.0", "a", view=own)
            cases = [
                ("other view only", [elsewhere], (), None),
                ("other view only, paired product", [elsewhere], pair, "pair"),
                ("own view first", [elsewhere, here], (), "a"),
                ("own view first, paired product", [elsewhere, here], pair, "a"),
            ]
            for what, regs, app, expect in cases:
                with self.subTest(arch=arch, case=what):
                    r = self.run_case(regs, expect, arch=arch, app=app)
                    if expect not in (None, "pair"):
                        self.assertEqual(self.one(r, "loaded")["bits"], 32 if arch == "x86" else 64)


class VmThreadEndTest(RegistryCase):
    """After main returns the thread waits for good only for a runtime from
    the IBM key; the program then ends through System.exit."""

    def test_ibm_runtime_keeps_the_process(self):
        r = self.run_case([reg(IBM, "1.6.0", "i")], "i", jre={"VM Provider": "ibm"},
                          main_class="standin.Exits")
        self.assertEqual([x["code"] for x in self.records(r, "exit_hook")], [0])

        folder = self.make_app(launcher_settings(jre={"VM Provider": "ibm"}), runtime=None)
        home = os.path.join(folder.case_dir, "ibm")
        folder.add_runtime(home)
        harness.reg_apply(deletes=VENDOR_ROOTS,
                          adds=[(IBM + "\\1.6.0", "JavaHome", harness.to_windows_path(home), 32)])
        r = folder.run(timeout=2)
        self.assertTrue(r.timed_out, r)
        self.assertEqual(self.main_args(r), [])
        self.assertEqual(self.records(r, "detach"), [])

    def test_ibm_provider_with_a_runtime_from_elsewhere_ends(self):
        for what in ("JRE Path", "beside the executable"):
            with self.subTest(runtime=what):
                app = self.make_app(runtime="jre" if what != "JRE Path" else "rt")
                jre = {"VM Provider": "ibm"}
                if what == "JRE Path":
                    jre["JRE Path"] = app.win_path + "\\rt"
                app.write_ini(launcher_settings(jre=jre))
                r = app.run(timeout=10)
                self.assertExit(r, 0)
                self.one(r, "detach")
                self.one(r, "destroy")

    def test_any_provider_with_a_javasoft_runtime_ends(self):
        r = self.run_case([reg(JRE, "1.8.0", "a"), reg(IBM, "1.6.0", "i")], "a",
                          jre={"VM Provider": "any"}, main_class="standin.Records")
        self.one(r, "detach")
        self.one(r, "destroy")


class JrePathTest(LauncherCase):
    """The configured runtime folder ("JRE Path")."""

    def test_path_with_or_without_trailing_backslash(self):
        # An unloadable jvm.dll makes the launcher name the exact path it used.
        app = self.make_app(runtime=None)
        home = os.path.join(app.case_dir, "rt")
        app.write_file(os.path.join(home, "bin", "client", "jvm.dll"), b"not an image")
        win = harness.to_windows_path(home)
        for value in (win, win + "\\"):
            with self.subTest(value=value):
                app.write_ini(launcher_settings(jre={"JRE Path": value}))
                r = app.run()
                self.assertExit(r, -1)
                self.assertOneBox(r, "Failed to load Java VM library: %s\\bin\\client\\jvm.dll "
                                     "(errno = 193).\n" % win)

    def test_unusable_path_falls_through_to_the_runtime_beside(self):
        app = self.make_app()
        empty = os.path.join(app.case_dir, "empty")
        only_java = os.path.join(app.case_dir, "nojvm")
        os.makedirs(empty)
        os.makedirs(os.path.join(only_java, "bin"))
        open(os.path.join(only_java, "bin", "java.dll"), "wb").close()
        for value in (harness.to_windows_path(empty), harness.to_windows_path(only_java),
                      harness.to_windows_path(os.path.join(app.case_dir, "missing"))):
            with self.subTest(value=value):
                app.write_ini(launcher_settings(jre={"JRE Path": value}))
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(self.loaded(r), [app.win_path + "\\jre\\bin\\client\\jvm.dll"])

    def test_jvm_type_chooses_the_library(self):
        cases = [
            # (JVM Type, vm folders present, vm loaded or None)
            ("", ["client", "server"], "client"),
            ("", ["server"], "server"),
            ("", ["classic", "hotspot"], "classic"),
            ("", ["hotspot", "jrockit", "server"], "hotspot"),
            ("", ["jrockit", "server"], "server"),
            ("", ["jrockit"], "jrockit"),
            ("server", ["client", "classic", "hotspot", "jrockit"], None),
            ("server", ["client", "server"], "server"),
            ("Server", ["client", "server"], "client"),
            ("favor_server", ["client", "server"], "server"),
            ("favor_server", ["classic", "client"], "client"),
            ("favor_server", ["hotspot", "classic"], "classic"),
            ("favor_server", ["jrockit"], "jrockit"),
        ]
        for jvm_type, vms, loaded in cases:
            with self.subTest(jvm_type=jvm_type, vms=vms):
                app = self.make_app(runtime=None)
                home = os.path.join(app.case_dir, "rt")
                for vm in vms:
                    app.add_runtime(home, vm=vm)
                app.write_ini(launcher_settings(jre={"JRE Path": harness.to_windows_path(home),
                                                     "JVM Type": jvm_type}))
                r = app.run(press=harness.IDCANCEL if loaded is None else None)
                self.assertNoBox(r)
                if loaded is None:
                    self.assertRuntimeDialogCancelled(r)
                else:
                    self.assertExit(r, 0)
                    self.assertEqual(self.loaded(r), ["%s\\bin\\%s\\jvm.dll"
                                                      % (harness.to_windows_path(home), loaded)])

    def test_runtime_for_another_processor(self):
        pair = {"Pair Product": "C:\\pair\\Pair.exe"}
        for arch in ("x86", "x64"):
            foreign = OTHER_ARCH[arch]
            cases = [
                # (runtime image, settings of "Application", outcome)
                (foreign, {}, "load fails"),
                (foreign, pair, "pair"),
                (arch, pair, "runs"),
                ("garbage", pair, "load fails"),
            ]
            for image, app_items, outcome in cases:
                with self.subTest(arch=arch, image=image, pair=bool(app_items)):
                    app = self.make_app(runtime=None, arch=arch)
                    home = os.path.join(app.case_dir, "rt")
                    dll = os.path.join(home, "bin", "client", "jvm.dll")
                    if image == "garbage":
                        app.write_file(dll, b"MZ" + b"\0" * 200)
                    else:
                        app.add_runtime(home, arch=image)
                    app.write_ini(launcher_settings(jre={"JRE Path": harness.to_windows_path(home)},
                                                    app=app_items))
                    r = app.run()
                    if outcome == "runs":
                        self.assertExit(r, 0)
                        self.assertNoBox(r)
                        self.assertEqual(self.loaded(r), [harness.to_windows_path(dll)])
                    elif outcome == "pair":
                        # The paired product is started instead; it does not exist.
                        self.assertExit(r, -1)
                        self.assertOneBox(r, PAIR_NOT_STARTED)
                        self.assertEqual(r.records, [])
                    else:
                        self.assertExit(r, -1)
                        self.assertOneBox(r, "Failed to load Java VM library: %s (errno = 193).\n"
                                          % harness.to_windows_path(dll))
                        self.assertEqual(r.records, [])

    def test_processor_check_reads_the_image_headers(self):
        # Images made from the stand-ins: only a valid image for the partner
        # build's processor leads to the paired product; anything else
        # (another processor, no valid image) is loaded.
        pair = {"Pair Product": "C:\\pair\\Pair.exe"}
        cases = [
            # (launcher, stand-in copied, machine, signature, paired product started)
            ("x86", "x86", 0x01C4, None, False),    # ARM: no build hosts it
            ("x86", "x86", 0x8664, None, True),
            ("x86", "x64", 0x014C, None, False),    # claims i386: loaded (and fails)
            ("x86", "x64", None, b"PX\0\0", False),  # no valid image
            ("x64", "x64", 0xAA64, None, False),    # ARM64
            ("x64", "x64", 0x014C, None, True),
            ("x64", "x86", 0x8664, None, False),
            ("x64", "x86", None, b"NE\0\0", False),
        ]
        for arch, image, machine, signature, paired in cases:
            with self.subTest(arch=arch, image=image, machine=machine, signature=signature):
                app = self.make_app(runtime=None, arch=arch)
                home = os.path.join(app.case_dir, "rt")
                dll = os.path.join(home, "bin", "client", "jvm.dll")
                harness.patch_image(harness.standin_path(image), dll, machine=machine,
                                    signature=signature)
                app.write_ini(launcher_settings(jre={"JRE Path": harness.to_windows_path(home)},
                                                app=pair))
                r = app.run()
                self.assertExit(r, -1)
                self.assertEqual(r.records, [])
                if paired:
                    self.assertOneBox(r, PAIR_NOT_STARTED)
                else:
                    self.assertEqual(len(r.texts), 1, r)
                    self.assertRegex(r.texts[0], r"^Failed to load Java VM library: %s "
                                                 r"\(errno = [1-9][0-9]*\)\.\n$"
                                     % re.escape(harness.to_windows_path(dll)))

    def test_jre_path_is_used_as_written(self):
        app = self.make_app(runtime="rt")
        cases = [
            # (JRE Path, environment, outcome)
            ("%E2E_RUNTIME%", {"E2E_RUNTIME": app.win_path + "\\rt"}, None),
            # The library is loaded by its full path, made from the working directory.
            ("rt", {}, "Failed to load Java VM library: %s\\rt\\bin\\client\\jvm.dll (errno = 193).\n"
             % app.win_path),
        ]
        app.write_file("rt/bin/client/jvm.dll", b"no image")
        for value, env, message in cases:
            with self.subTest(value=value):
                app.write_ini(launcher_settings(jre={"JRE Path": value},
                                                app={"Override WorkingDir": "Yes"}))
                r = app.run(env=env, press=harness.IDCANCEL if message is None else None)
                self.assertExit(r, -1)
                if message is None:
                    self.assertRuntimeDialogCancelled(r)  # not expanded: nothing found
                else:
                    # The message names the path exactly as it was loaded.
                    self.assertOneBox(r, message)

    def test_runtime_beside_is_not_checked_for_its_processor(self):
        app = self.make_app(launcher_settings(app={"Pair Product": "C:\\pair\\Pair.exe"}),
                            runtime_arch="x64")
        r = app.run()
        self.assertExit(r, -1)
        self.assertOneBox(r, "Failed to load Java VM library: %s\\jre\\bin\\client\\jvm.dll "
                             "(errno = 193).\n" % app.win_path)


class RuntimeBesideTest(LauncherCase):
    """The runtime beside the executable: its own folder, then jre\\, each
    only with bin\\java.dll; without one, nothing (never the working
    directory)."""

    def test_places_beside_the_executable(self):
        settings = launcher_settings()
        own = "own"
        cases = [
            # (homes with java.dll, homes without, working directory home, loaded home or None)
            (["", "jre"], [], None, ""),
            (["jre"], [], None, "jre"),
            ([], ["jre"], None, None),
            ([], ["jre"], own, None),
            ([], [], own, None),
        ]
        for with_java, without_java, cwd_home, loaded in cases:
            with self.subTest(with_java=with_java, without_java=without_java, cwd=cwd_home):
                app = self.make_app(settings, runtime=None)
                for home in with_java:
                    app.add_runtime(home or app.path)
                for home in without_java:
                    app.add_runtime(home, java_dll=False)
                cwd = None
                if cwd_home:
                    cwd = os.path.join(app.case_dir, "start")
                    app.add_runtime(os.path.join(cwd))
                r = app.run(cwd=cwd, press=harness.IDCANCEL if loaded is None else None)
                self.assertNoBox(r)
                if loaded is None:
                    self.assertRuntimeDialogCancelled(r)
                    continue
                self.assertExit(r, 0)
                expected = app.win_path + ("\\" + loaded if loaded else "")
                self.assertEqual(self.loaded(r), [expected + "\\bin\\client\\jvm.dll"])

    def test_java_dll_in_the_folder_hides_the_jre_subfolder(self):
        app = self.make_app(launcher_settings())  # complete runtime in jre\
        app.write_file("bin/java.dll", b"")        # the folder itself claims to be one
        r = app.run(press=harness.IDCANCEL)
        self.assertNoBox(r)
        self.assertRuntimeDialogCancelled(r)


if __name__ == "__main__":
    unittest.main()
