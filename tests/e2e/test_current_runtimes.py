"""Current runtimes end to end: the registry keys of Java 9 and later and of
the current vendors' installers (each in both registry views), JAVA_HOME
with its release file, the library taken by its full path, and the trace
file that explains the search (VEDA_LAUNCHER_TRACE).

A launch that finds no runtime, and one that would start the paired
product, end with -1 and no message in this build."""

import os
import re
import unittest

import harness
from harness import LauncherCase, launcher_settings

OWN_VIEW = {"x86": 32, "x64": 64}
OTHER_ARCH = {"x86": "x64", "x64": "x86"}
PAIR = {"Pair Product": "C:\\pair\\Pair.exe"}
# The paired program of these cases does not exist: the pair launch reports it.
PAIR_MISSING = ["Windows exception: C:\\pair\\Pair.exe (errno = 3).\n"]

# Every vendor root the search reads; removed before each case.
ROOTS = [(r"HKLM\SOFTWARE\%s" % v, view)
         for v in ("JavaSoft", "JRockit", "IBM", "Eclipse Adoptium", "AdoptOpenJDK",
                   r"Microsoft\JDK", "Azul Systems")
         for view in (32, 64)]

# (family, key of one installed runtime, value naming its home, version in
# the key, further values of the version subkey, version the trace shows)
FAMILIES = [
    ("JavaSoft JDK", r"HKLM\SOFTWARE\JavaSoft\JDK\17.0.9", "JavaHome", {}, "17.0.9"),
    ("JavaSoft JRE", r"HKLM\SOFTWARE\JavaSoft\JRE\21", "JavaHome", {}, "21.0"),
    ("Eclipse Adoptium JDK", r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path", {},
     "17.0.9.9"),
    ("Eclipse Adoptium JDK openj9", r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\11.0.21.9\openj9\MSI", "Path",
     {}, "11.0.21.9"),
    ("Eclipse Adoptium JRE", r"HKLM\SOFTWARE\Eclipse Adoptium\JRE\17.0.9.9\hotspot\MSI", "Path", {},
     "17.0.9.9"),
    ("Eclipse Adoptium JRE openj9", r"HKLM\SOFTWARE\Eclipse Adoptium\JRE\11.0.21.9\openj9\MSI", "Path",
     {}, "11.0.21.9"),
    ("AdoptOpenJDK JDK", r"HKLM\SOFTWARE\AdoptOpenJDK\JDK\11.0.2.9\hotspot\MSI", "Path", {},
     "11.0.2.9"),
    ("AdoptOpenJDK JDK openj9", r"HKLM\SOFTWARE\AdoptOpenJDK\JDK\16.0.1.9\openj9\MSI", "Path", {},
     "16.0.1.9"),
    ("AdoptOpenJDK JRE", r"HKLM\SOFTWARE\AdoptOpenJDK\JRE\15.0.2.7\hotspot\MSI", "Path", {},
     "15.0.2.7"),
    ("AdoptOpenJDK JRE openj9", r"HKLM\SOFTWARE\AdoptOpenJDK\JRE\11.0.9.11\openj9\MSI", "Path", {},
     "11.0.9.11"),
    ("Microsoft JDK", r"HKLM\SOFTWARE\Microsoft\JDK\21.0.1.12\hotspot\MSI", "Path", {}, "21.0.1.12"),
    ("Azul Zulu", r"HKLM\SOFTWARE\Azul Systems\Zulu\zulu-17", "InstallationPath",
     {"CurrentVersion": "17.0.9"}, "17.0.9"),
]

TIME_PID = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid=(\d+) ")


def setUpModule():
    harness.reg_apply(deletes=ROOTS)


def tearDownModule():
    harness.reg_apply(deletes=ROOTS)


def read_trace(path):
    """[(pid, event text)] of a trace file, checking each line's frame."""
    with open(path, "rb") as f:
        data = f.read().decode("utf-8")
    assert data.endswith("\r\n"), data[-80:]
    out = []
    for line in data[:-2].split("\r\n"):
        m = TIME_PID.match(line)
        assert m, "no time stamp and process id: %r" % line
        out.append((int(m.group(1)), line[m.end():]))
    return out


def view_name(key, view):
    """How the trace names a registry key: HKLM\\Software\\...\\ (NN-bit view)."""
    return "HKLM\\Software\\%s (%d-bit view)" % (key.split("\\", 2)[2], view)


class CurrentCase(LauncherCase):
    def trace_path(self, app):
        return os.path.join(app.case_dir, "trace.log")

    def run_traced(self, app, **kw):
        path = self.trace_path(app)
        if os.path.exists(path):
            os.unlink(path)
        env = dict(kw.pop("env", {}))
        env["VEDA_LAUNCHER_TRACE"] = harness.to_windows_path(path)
        r = app.run(env=env, **kw)
        # The search's lines (a box settles the DPI awareness: not the search's).
        return r, [text for _, text in read_trace(path) if not text.startswith("dpi awareness")] \
            if os.path.exists(path) else []


class RegistryFamilyTest(CurrentCase):
    """Each family alone on the machine, in the launcher's own view (the
    32-bit view for the 32-bit launcher, the 64-bit view for the 64-bit
    one), and in the other view through the paired product."""

    def register(self, app, family, view, arch):
        _, key, value_name, extra, _ = family
        home = os.path.join(app.case_dir, "jdk")
        app.add_runtime(home, arch=arch, vm="server")
        adds = [(key, value_name, harness.to_windows_path(home), view)]
        adds += [(key, name, data, view) for name, data in extra.items()]
        harness.reg_apply(deletes=ROOTS, adds=adds)
        return home

    def test_each_family_in_the_own_view(self):
        for arch in ("x86", "x64"):
            for family in FAMILIES:
                with self.subTest(arch=arch, family=family[0]):
                    app = self.make_app(launcher_settings(main_class="standin.Records"), runtime=None,
                                        arch=arch)
                    home = self.register(app, family, OWN_VIEW[arch], arch)
                    r = app.run()
                    self.assertExit(r, 0)
                    self.assertNoBox(r)
                    self.assertEqual(self.loaded(r), [harness.to_windows_path(home) +
                                                      "\\bin\\server\\jvm.dll"])
                    self.assertEqual(self.one(r, "loaded")["bits"], OWN_VIEW[arch])

    def test_each_family_in_the_other_view(self):
        # Found only with "Pair Product", which then starts instead; the
        # trace shows where the runtime was found.
        for family in FAMILIES:
            arch = "x86"
            other = 64
            with self.subTest(family=family[0]):
                app = self.make_app(launcher_settings(app=PAIR), runtime=None, arch=arch)
                home = self.register(app, family, other, OTHER_ARCH[arch])
                r, events = self.run_traced(app)
                self.assertExit(r, -1)
                self.assertEqual(r.texts, PAIR_MISSING)
                self.assertEqual(r.records, [])
                place = view_name(family[1], other)
                self.assertIn('chosen place="%s" version="%s" library="%s\\bin\\server\\jvm.dll" among=1'
                              % (place, family[4], harness.to_windows_path(home)), events)
                self.assertIn('paired product reason="the runtime chosen is registered in the other '
                              'registry view"', events)

                # Without the paired product the other view is not read:
                # nothing is found and the user is asked for a runtime.
                app.write_ini(launcher_settings())
                r, events = self.run_traced(app, press=harness.IDCANCEL)
                self.assertRuntimeDialogCancelled(r)
                self.assertFalse([e for e in events if "64-bit view" in e], events)


class JavaHomeTest(CurrentCase):
    """JAVA_HOME, after the registry, within the version bounds its release
    file allows, and only with a library this launcher (or the paired
    program) can load."""

    def test_inside_and_outside_the_bounds(self):
        cases = [
            # (release file, settings, found)
            ('JAVA_VERSION="17.0.9"\n', {}, True),
            ('JAVA_VERSION="17.0.9"\n', {"Minimum Version": "1.8", "Maximum Version": "17"}, True),
            ('JAVA_VERSION="17.0.9"\n', {"Maximum Version": "11"}, False),
            ('JAVA_VERSION="1.8.0_392"\n', {"Minimum Version": "11"}, False),
            (None, {}, True),
            (None, {"Minimum Version": "1.8"}, False),
        ]
        for release, jre, found in cases:
            with self.subTest(release=release, jre=jre):
                app = self.make_app(launcher_settings(jre=jre), runtime=None)
                home = os.path.join(app.case_dir, "java home")
                app.add_runtime(home, vm="server")
                if release:
                    app.write_file(os.path.join(home, "release"), release)
                r = app.run(env={"JAVA_HOME": harness.to_windows_path(home)},
                            press=None if found else harness.IDCANCEL)
                self.assertNoBox(r)
                if found:
                    self.assertExit(r, 0)
                    self.assertEqual(self.loaded(r), [harness.to_windows_path(home) +
                                                      "\\bin\\server\\jvm.dll"])
                else:
                    self.assertRuntimeDialogCancelled(r)

    def test_registered_runtime_comes_first(self):
        app = self.make_app(launcher_settings(), runtime=None)
        registered = os.path.join(app.case_dir, "registered")
        app.add_runtime(registered, vm="server")
        home = os.path.join(app.case_dir, "home")
        app.add_runtime(home, vm="server")
        harness.reg_apply(deletes=ROOTS, adds=[(r"HKLM\SOFTWARE\JavaSoft\JDK\11", "JavaHome",
                                                harness.to_windows_path(registered), 32)])
        try:
            r = app.run(env={"JAVA_HOME": harness.to_windows_path(home)})
        finally:
            harness.reg_apply(deletes=ROOTS)
        self.assertExit(r, 0)
        self.assertEqual(self.loaded(r), [harness.to_windows_path(registered) + "\\bin\\server\\jvm.dll"])

    def test_old_kit_layout_and_processor(self):
        cases = [
            # (runtime's processor, settings of "Application", outcome)
            ("x86", {}, "runs"),
            ("x64", {}, "passed over"),
            ("x64", PAIR, "paired"),
        ]
        for image, app_items, outcome in cases:
            with self.subTest(image=image, pair=bool(app_items)):
                app = self.make_app(launcher_settings(app=app_items), runtime=None)
                home = os.path.join(app.case_dir, "jdk8")
                app.add_runtime(os.path.join(home, "jre"), arch=image, vm="client")
                app.write_file(os.path.join(home, "release"), 'JAVA_VERSION="1.8.0_392"\n')
                r, events = self.run_traced(app, env={"JAVA_HOME": harness.to_windows_path(home)},
                                            press=harness.IDCANCEL if outcome == "passed over" else None)
                # Never a load failure (message 222) for a library of another
                # processor: the paired start, or the dialog that asks for a runtime.
                self.assertEqual([t for t in r.texts if t is not None],
                                 PAIR_MISSING if outcome == "paired" else [])
                if outcome == "passed over":
                    self.assertRuntimeDialogCancelled(r)
                dll = harness.to_windows_path(home) + "\\jre\\bin\\client\\jvm.dll"
                if outcome == "runs":
                    self.assertExit(r, 0)
                    self.assertEqual(self.loaded(r), [dll])
                    continue
                self.assertExit(r, -1)
                self.assertEqual(r.records, [])
                self.assertIn('candidate place="JAVA_HOME" version="1.8.0.392" processor="x64" '
                              'library="%s"' % dll, events)
                if outcome == "paired":
                    self.assertEqual(events[-2], 'chosen place="JAVA_HOME" library="%s" processor="x64" '
                                                 'paired product="yes"' % dll)
                else:
                    self.assertIn('rejected place="JAVA_HOME" version="1.8.0.392" reason="its jvm.dll '
                                  'is for a processor neither this launcher nor ""Pair Product"" '
                                  'serves"', events)


class AbsoluteLibraryTest(CurrentCase):
    def test_relative_jre_path_loads_the_library_it_validated(self):
        # The same relative path exists in the working directory and beside
        # the executable; the one found through the working directory must
        # be the one loaded, not the one the system's library search would
        # find first in the executable's folder.
        app = self.make_app(launcher_settings(jre={"JRE Path": "rt"}), runtime=None)
        beside = app.add_runtime("rt")
        in_cwd = app.add_runtime(os.path.join(app.cwd, "rt"))
        r = app.run()
        self.assertExit(r, 0)
        self.assertNoBox(r)
        self.assertEqual(self.loaded(r), [harness.to_windows_path(in_cwd.dll)])
        self.assertEqual(beside.records(), [])
        self.assertEqual(in_cwd.records()[0]["event"], "loaded")


class TraceTest(CurrentCase):
    def test_trace_of_a_search_with_rejections(self):
        app = self.make_app(launcher_settings(
            main_class="standin.Exits",
            jre={"JVM Type": "server", "Minimum Version": "11", "JRE Path": "nowhere",
                 "Virtual Machine Parameters": '-Xmx64m "-Dtitle=Two words"'}),
            runtime=None, cfg=None)
        homes = os.path.join(app.case_dir, "homes")
        client_only = app.add_runtime(os.path.join(homes, "client17"), vm="client")
        old = app.add_runtime(os.path.join(homes, "jre8"), vm="server")
        chosen = app.add_runtime(os.path.join(homes, "ms21"), vm="server")
        chosen.write_cfg({"exit_code": 7})
        W = harness.to_windows_path
        harness.reg_apply(deletes=ROOTS, adds=[
            (r"HKLM\SOFTWARE\JavaSoft\JDK\17", "JavaHome", W(client_only.home), 32),
            (r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment\1.8", "JavaHome", W(old.home), 32),
            (r"HKLM\SOFTWARE\Microsoft\JDK\21.0.1.12\hotspot\MSI", "Path", W(chosen.home), 32),
            (r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path",
             W(os.path.join(homes, "removed")), 32),
        ])
        try:
            r, events = self.run_traced(app)
            self.assertExit(r, 7)
            self.assertEqual(self.loaded(r), [W(chosen.dll)])

            # A second launch appends to the same file.
            app.write_ini(launcher_settings(main_class="standin.Records", jre={"JRE Path": W(old.home)}))
            second = app.run(env={"VEDA_LAUNCHER_TRACE": W(self.trace_path(app))})
            self.assertExit(second, 0)
        finally:
            harness.reg_apply(deletes=ROOTS)

        view = lambda key: view_name(key, 32)
        expected = [
            'look place="JRE Path" home="nowhere\\"',
            'rejected place="JRE Path" version="-" reason="no jvm.dll"',
            'look place="beside the executable" home="(none)"',
            'look place="%s" value="JavaHome" subkeys=0'
            % view(r"HKLM\SOFTWARE\JavaSoft\Java Development Kit\<version>"),
            'look place="%s" value="JavaHome" subkeys=1'
            % view(r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment\<version>"),
            'rejected place="%s" version="1.8" reason="outside the version bounds (""Minimum Version"", '
            '""Maximum Version"")"' % view(r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment\1.8"),
            'skipped place="%s" reason="not searched for ""VM Provider"""'
            % view(r"HKLM\SOFTWARE\JRockit\Java Runtime Environment\<version>"),
            'rejected place="%s" version="17.0" reason="no jvm.dll of the ""JVM Type"" asked for"'
            % view(r"HKLM\SOFTWARE\JavaSoft\JDK\17"),
            'look place="%s" value="Path" subkeys=1'
            % view(r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\<version>\hotspot\MSI"),
            'rejected place="%s" version="17.0.9.9" reason="no jvm.dll"'
            % view(r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI"),
            'rejected place="%s" version="17.0.9.9" reason="the key names no home folder"'
            % view(r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\openj9\MSI"),
            'candidate place="%s" version="21.0.1.12" kind="development kit" processor="x86" home="%s\\" '
            'server="yes" preferred="yes"'
            % (view(r"HKLM\SOFTWARE\Microsoft\JDK\21.0.1.12\hotspot\MSI"), W(chosen.home)),
            'chosen place="%s" version="21.0.1.12" library="%s" among=1'
            % (view(r"HKLM\SOFTWARE\Microsoft\JDK\21.0.1.12\hotspot\MSI"), W(chosen.dll)),
            'vm option index=0 text="-Djava.class.path=%s\\app.jar"' % app.win_path,
            'vm option index=1 text="-Xmx64m"',
            'vm option index=2 text="-Dtitle=Two words"',
            'exit hook code=7',
        ]
        lines = read_trace(self.trace_path(app))
        first_pid = lines[0][0]
        first = [text for pid, text in lines if pid == first_pid]
        for line in expected:
            self.assertIn(line, first)
        # In the order they happened.
        positions = [first.index(line) for line in expected]
        self.assertEqual(positions, sorted(positions))
        # The exit hook ends the process: the launcher's own exit line is the second launch's.
        self.assertFalse([t for t in first if t.startswith("exit code")], first)
        second_lines = [text for pid, text in lines if pid != first_pid]
        self.assertEqual(second_lines[-1], "exit code=0")
        self.assertIn('chosen place="JRE Path" library="%s" processor="x86" paired product="no"' % W(old.dll),
                      second_lines)
        # One event per line: 16 or more from the first launch, none mixed in between.
        self.assertEqual(lines, [(p, t) for p, t in lines if p == first_pid] +
                         [(p, t) for p, t in lines if p != first_pid])


if __name__ == "__main__":
    unittest.main()
