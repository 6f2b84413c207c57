"""Starting the virtual machine end to end: the option list the runtime is
created with, the stack of the virtual-machine thread, loading the runtime
library, creation failures, the main class, and how main's end becomes the
process exit code."""

import os
import re
import shutil
import time
import unittest

import harness
from harness import LauncherCase, launcher_settings

NO_CLASS_PATH = "Java Class Path was not specified in INI file."
CREATE_FAILED = "JNI exception: failed to create the Java VM\nReason: %s.\n"
NO_ENTRY_POINT = "Windows exception: cannot find CreateJavaVM JNI (errno = 127).\n"
ERROR_BAD_EXE_FORMAT = 193
JNI_VERSION_1_1, JNI_VERSION_1_2 = 0x00010001, 0x00010002


def physical_memory_kib():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1])
    raise unittest.SkipTest("no MemTotal in /proc/meminfo")


class OptionListTest(LauncherCase):
    def test_order_of_options_and_hooks(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(jre={
                    "Library Path": "C:\\libs",
                    "Virtual Machine Parameters": "-Dfirst=1 -Xmx64m -Dfirst=2",
                }), arch=arch)
                r = app.run(env={"Path": "C:\\base", "APPDATA": app.win_path + "\\appdata"})
                self.assertExit(r, 0)
                create = self.one(r, "create")
                self.assertEqual(create["options"], [
                    # The hooks first: the runtime's words about a refused
                    # option must reach the launcher.
                    "vfprintf",
                    "abort",
                    "exit",
                    "-Djava.library.path=C:\\libs;%s\\;.;C:\\base;%s\\jre\\lib"
                    % (app.win_path, app.win_path),
                    "-Djava.class.path=%s\\app.jar" % app.win_path,
                    "-Dfirst=1",
                    "-Xmx64m",
                    "-Dfirst=2",
                    # What the java command sets: tools name the process by it.
                    "-Dsun.java.command=standin.Records",
                    # Where the program may write the user's options.
                    "-Dveda.launcher.vmoptions=%s\\appdata\\App\\App.vmoptions" % app.win_path,
                ])
                self.assertEqual(create["extra"], ["hook"] * 3 + [None] * 7)
                self.assertEqual(create["version"], JNI_VERSION_1_2)
                self.assertFalse(create["ignore_unrecognized"])
                self.assertEqual(create["result"], 0)

    def test_class_path(self):
        app = self.make_app()
        for name in ("lib/a.jar", "lib/b.jar", "lib/notes.txt"):
            app.write_file(name, b"")
        ext = os.path.join(app.case_dir, "ext")
        for name in ("x.jar", "y.jar"):
            app.write_file(os.path.join(ext, name), b"")
        A, E = app.win_path, harness.to_windows_path(ext)
        exe = harness.to_windows_path(app.exe)
        cases = [
            # (Class Path, Embedded Jar, environment, entries; a set where the order
            # is the file system's)
            ("\\app.jar", "", {}, [A + "\\app.jar"]),
            ("\\lib\\*.jar", "", {}, {A + "\\lib\\a.jar", A + "\\lib\\b.jar"}),
            ("\\lib\\?.jar", "", {}, {A + "\\lib\\a.jar", A + "\\lib\\b.jar"}),
            ("\\lib\\b.jar;\\app.jar;\\lib\\a.jar", "", {},
             [A + "\\lib\\b.jar", A + "\\app.jar", A + "\\lib\\a.jar"]),
            ("lib\\a.jar;\\app.jar", "", {}, [A + "\\app.jar"]),
            ("\\missing.jar;\\app.jar;\\lib\\*.zip", "", {}, [A + "\\app.jar"]),
            ("C:\\nowhere\\x.jar;\\app.jar", "", {}, ["C:\\nowhere\\x.jar", A + "\\app.jar"]),
            ("\\\\server\\share\\s.jar", "", {}, ["\\\\server\\share\\s.jar"]),
            (E + "\\*.jar", "", {}, {E + "\\x.jar", E + "\\y.jar"}),
            ("%E2E_EXT%\\x.jar", "", {"E2E_EXT": E}, [E + "\\x.jar"]),
            ("%E2E_EXT%\\nothing.jar", "", {"E2E_EXT": E}, [E + "\\nothing.jar"]),
            ("%E2E_REL%", "", {"E2E_REL": "\\app.jar"}, [A + "\\app.jar"]),
            (";;\\app.jar;", "", {}, [A + "\\app.jar"]),
            ("\\..\\ext\\x.jar", "", {}, [A + "\\..\\ext\\x.jar"]),
            ("\\li*", "", {}, [A + "\\lib"]),
            ("", "yes", {}, exe),
            ("\\app.jar", "YES", {}, A + "\\app.jar;" + exe),
        ]
        for value, embedded, env, entries in cases:
            with self.subTest(class_path=value, embedded=embedded):
                app.write_ini(launcher_settings(class_path=value, app={"Embedded Jar": embedded}))
                r = app.run(env=env)
                self.assertExit(r, 0)
                option = self.options(r)[0]
                self.assertTrue(option.startswith("-Djava.class.path="), option)
                value = option[len("-Djava.class.path="):]
                if isinstance(entries, str):
                    self.assertEqual(value, entries)
                    continue
                # No empty last entry: the runtime would read it as the current directory.
                self.assertFalse(value.endswith(";"), value)
                got = value.split(";")
                if isinstance(entries, set):
                    self.assertEqual(len(got), len(entries), value)
                    got = set(got)
                self.assertEqual(got, entries)

    def test_no_class_path(self):
        app = self.make_app()
        cases = [("", ""), ("", "no"), ("lib\\app.jar", ""), ("\\missing.jar", ""), (None, "")]
        for value, embedded in cases:
            with self.subTest(class_path=value, embedded=embedded):
                app.write_ini(launcher_settings(class_path=value, app={"Embedded Jar": embedded}))
                r = app.run()
                self.assertExit(r, -1)
                self.assertOneBox(r, NO_CLASS_PATH)
                # The runtime library is loaded before the options are built.
                self.assertEqual(r.events(), ["loaded"])

    def test_parameters_are_split_and_unquoted(self):
        cases = [
            # (Virtual Machine Parameters, environment, options after the class path)
            ('-Dname="a b" -Xmx64m', {}, ["-Dname=a b", "-Xmx64m"]),
            ("-Da=1    -Db=2", {}, ["-Da=1", "-Db=2"]),
            ('-Dq="x""y', {}, ['-Dq=x"y']),
            ('-Dp="a b"c" d"', {}, ["-Dp=a bc d"]),
            ('-Dz="abc', {}, ['-Dz="abc']),
            ('-Dz="abc -Dy=1', {}, ['-Dz="abc', "-Dy=1"]),
            ("-Dv=%E2E_SPACED% -Dw=1", {"E2E_SPACED": "p q"}, ["-Dv=p q", "-Dw=1"]),
            ("-Du=%E2E_UNSET%", {"E2E_UNSET": None}, ["-Du=%E2E_UNSET%"]),
            ("-Dx=1 -Dx=2 -Dx=1", {}, ["-Dx=1", "-Dx=2", "-Dx=1"]),
            ("-Dt=1\t-Du=2", {}, ["-Dt=1\t-Du=2"]),
            ("-D\u00e4=\u00f6\u20ac", {}, ["-D\u00e4=\u00f6\u20ac"]),
        ]
        app = self.make_app()
        for value, env, expected in cases:
            with self.subTest(value=value):
                app.write_ini(launcher_settings(jre={"Virtual Machine Parameters": value}))
                r = app.run(env=env)
                self.assertExit(r, 0)
                self.assertEqual(self.options(r)[1:], expected)

    def test_long_values_are_read_whole(self):
        app = self.make_app()
        for count in (10, 40, 400):
            params = ["-Dkey%03d=%s" % (i, "v" * (i % 7)) for i in range(count)]
            value = " ".join(params)
            with self.subTest(length=len(value)):
                app.write_ini(launcher_settings(jre={"Virtual Machine Parameters": value},
                                                class_path=";".join(["\\app.jar"] * count)))
                r = app.run()
                self.assertExit(r, 0)
                options = self.options(r)
                self.assertEqual(options[0],
                                 "-Djava.class.path=" + ";".join([app.win_path + "\\app.jar"] * count))
                self.assertEqual(options[1:], params)


class MemoryShareTest(LauncherCase):
    """Heap and stack sizes given as a share of the machine's memory."""

    PARAMETERS = ["-Xmx100P", "-Xmx50P", "-Xmx33p", "-Xmx1.5P", "-Xmx50:256:512P",
                  "-Xmx50:2048:512P", "-Xms1:0:1P", "-Xmx1:2P", "-Xmx0:0:0P", "-Xmxx1P",
                  "-Xmx25000P", "-Xmx100:5000000P", "-Xmx512m", "-Dlimit=50P", "-Xmx50T",
                  "-Xms10t"]

    def expected(self, base):
        # The shares used here come out the same in exact and in double
        # arithmetic, whatever the machine's memory.
        def share(percent, minimum=0, maximum=0):
            size = base * percent // 100
            if maximum and size > maximum * 1024:
                size = maximum * 1024
            if minimum * 1024 > size:
                size = minimum * 1024
            return size
        return [
            "-Xmx%dK" % share(100), "-Xmx%dK" % share(50), "-Xmx%dK" % share(33),
            "-Xmx%dK" % share(15), "-Xmx%dK" % share(50, 256, 512),
            "-Xmx%dK" % share(50, 2048, 512),
            "-Xms%dK" % share(1, 0, 1), "-Xmx%dK" % share(1, 2), "-Xmx0K", "-Xmxx%dK" % share(1),
            "-Xmx%dK" % share(25000), "-Xmx%dK" % share(100, 5000000), "-Xmx512m", "-Dlimit=50P",
        ]

    def test_shares_are_rewritten_to_kibibytes(self):
        total = physical_memory_kib()
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(
                    jre={"Virtual Machine Parameters": " ".join(self.PARAMETERS)}), arch=arch)
                r = app.run()
                self.assertExit(r, 0)
                options = self.options(r)[1:]
                self.assertEqual(len(options), len(self.PARAMETERS), options)
                # The base is the physical memory as the system reports it.
                base = int(options[0][len("-Xmx"):-1])
                self.assertLessEqual(abs(base - total), total // 100, (base, total))
                self.assertEqual(options[:-2], self.expected(base))
                # "T": the address space left to the process.
                virtual = options[-2:]
                self.assertRegex(virtual[0], r"^-Xmx[1-9][0-9]*K$")
                self.assertRegex(virtual[1], r"^-Xms[1-9][0-9]*K$")
                half, tenth = int(virtual[0][4:-1]), int(virtual[1][4:-1])
                self.assertAlmostEqual(half / 5, tenth, delta=half / 50)
                if arch == "x86":
                    self.assertLess(half, 2 * 1024 * 1024)


class StackSizeTest(LauncherCase):
    """The stack of the virtual-machine thread: from -Xss, else the
    runtime's default, else the system's."""

    RUNTIME_DEFAULT = 4 * 1024 * 1024

    def test_stack_of_the_vm_thread(self):
        cases = [
            # (parameters, runtime default, expected reservation, runtime asked[,
            # result of the runtime's answer])
            ("-Xss3m", self.RUNTIME_DEFAULT, 3 << 20, False),
            ("-Xss3M", self.RUNTIME_DEFAULT, 3 << 20, False),
            ("-Xss3072k", self.RUNTIME_DEFAULT, 3 << 20, False),
            ("-Xss3145728", self.RUNTIME_DEFAULT, 3 << 20, False),
            ("-Xss3m -Xss5m", self.RUNTIME_DEFAULT, 5 << 20, False),
            ("-Xss0:3:3P", self.RUNTIME_DEFAULT, 3 << 20, False),
            ("-Xss5m -Xssx", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss5g", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss4096m", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss4194304k", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss4294967296", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss8589934595", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("-Xss3m1", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True),
            ("", self.RUNTIME_DEFAULT, self.RUNTIME_DEFAULT, True, -3),
            ("", 0, "system", True),
            ("", -1, "system", True),
        ]
        for arch in ("x86", "x64"):
            app = self.make_app(arch=arch)
            system = harness.pe_stack_reserve(app.exe)
            for params, default, expected, asked, *rest in cases:
                result = rest[0] if rest else 0
                with self.subTest(arch=arch, params=params, default=default, result=result):
                    app.write_ini(launcher_settings(jre={"Virtual Machine Parameters": params}))
                    # The result of the query does not matter, only the size.
                    app.runtimes[os.path.abspath(app.file("jre/bin/client"))].write_cfg(
                        {"default_stack": default, "default_args_result": result})
                    r = app.run()
                    self.assertExit(r, 0)
                    create = self.one(r, "create")
                    self.assertFalse(create["main_thread"], create)
                    self.assertEqual(create["stack_reserve"],
                                     system if expected == "system" else expected)
                    queries = self.records(r, "default_args")
                    self.assertEqual([q["version"] for q in queries],
                                     [JNI_VERSION_1_1] if asked else [])

    def test_thread_that_cannot_be_made_runs_on_the_main_thread(self):
        # A 3 GiB stack cannot be reserved in a 32-bit process.
        app = self.make_app(launcher_settings(jre={"Virtual Machine Parameters": "-Xss3g"}))
        r = app.run(["a"])
        self.assertExit(r, 0)
        self.assertNoBox(r)
        create = self.one(r, "create")
        self.assertTrue(create["main_thread"], create)
        self.assertIn("-Xss3g", create["options"])
        self.assertEqual(self.main_args(r), ["a"])
        self.assertEqual(self.one(r, "main")["thread"], self.one(r, "loaded")["thread"])


class LibraryLoadTest(LauncherCase):
    def test_library_that_cannot_be_loaded(self):
        for arch in ("x86", "x64"):
            for what, data in [("garbage", b"this is no image" * 64), ("empty", b""),
                               ("MZ only", b"MZ" + b"\0" * 510)]:
                with self.subTest(arch=arch, file=what):
                    app = self.make_app(launcher_settings(), runtime=None, arch=arch)
                    app.write_file("jre/bin/java.dll", b"")
                    app.write_file("jre/bin/client/jvm.dll", data)
                    r = app.run()
                    self.assertExit(r, -1)
                    self.assertOneBox(r, "Failed to load Java VM library: %s\\jre\\bin\\client"
                                         "\\jvm.dll (errno = %d).\n"
                                      % (app.win_path, ERROR_BAD_EXE_FORMAT))

    def test_library_without_the_entry_points(self):
        for arch in ("x86", "x64"):
            standin = harness.standin_path(arch)
            system_dir = "syswow64" if arch == "x86" else "system32"
            system_dll = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c", "windows",
                                      system_dir, "version.dll")
            cases = [
                ("JNI_CreateJavaVM", "JNI_CreateJavaVX"),
                ("JNI_GetDefaultJavaVMInitArgs", "JNI_GetDefaultJavaVMInitArgX"),
                ("system library", None),
            ]
            for old, new in cases:
                with self.subTest(arch=arch, missing=old):
                    app = self.make_app(launcher_settings(), arch=arch)  # records kept
                    dll = app.file("jre/bin/client/jvm.dll")
                    if new:
                        harness.rename_export(standin, dll, old, new)
                    elif os.path.isfile(system_dll):
                        shutil.copyfile(system_dll, dll)
                    else:
                        self.skipTest("no %s in the Wine prefix" % system_dll)
                    r = app.run()
                    self.assertExit(r, -1)
                    self.assertOneBox(r, NO_ENTRY_POINT)
                    if new:
                        # The library itself was loaded; nothing was created.
                        self.assertEqual(r.events(), ["loaded"])


    def test_the_runtimes_libraries_never_come_from_the_current_directory(self):
        # The runtime's library loads a library by its bare name while it
        # loads, as real ones import their C runtime. A decoy of it waits in
        # the current directory (a document's folder); the runtime's own is
        # in its bin folder.
        app = self.make_app(launcher_settings(), cfg={"load_dependency": 1})
        dependency = os.path.join(os.path.dirname(harness.standin_path(self.arch)), "standin_dep.dll")
        with open(dependency, "rb") as f:
            library = f.read()
        app.write_file("jre/bin/standin_dep.dll", library)
        app.write_file("documents/standin_dep.dll", library)
        r = app.run(cwd=app.file("documents"))
        self.assertExit(r, 0)
        (loaded,) = [e for e in r.records if e.get("event") == "dependency"]
        self.assertEqual(loaded["path"].lower(), (app.win_path + "\\jre\\bin\\standin_dep.dll").lower())
        # Only while the runtime loads: the program's own loads search as before.
        (directory,) = [e for e in r.records if e.get("event") == "dll_directory"]
        self.assertEqual(directory["path"], "")


class CreationFailureTest(LauncherCase):
    REASONS = [(-1, "unknown"), (-2, "thread detached from VM"), (-3, "JNI version error"),
               (-4, "not enough memory"), (-5, "VM already created"), (-6, "invalid arguments"),
               (-7, ""), (1, ""), (-100, "")]

    def test_creation_result_becomes_the_reason(self):
        app = self.make_app(launcher_settings())
        rt = app.runtimes[os.path.abspath(app.file("jre/bin/client"))]
        for result, reason in self.REASONS:
            with self.subTest(result=result):
                rt.write_cfg({"create_result": result})
                r = app.run(["a"])
                self.assertExit(r, -1)
                self.assertOneBox(r, CREATE_FAILED % reason)
                self.assertEqual(self.one(r, "create")["result"], result)
                self.assertEqual(r.events(), ["loaded", "default_args", "create"])

    def test_unknown_option_is_not_ignored(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(
                    jre={"Virtual Machine Parameters": "-Dok=1 -Xbogus"}), arch=arch)
                r = app.run()
                self.assertExit(r, -1)
                # The runtime's own words: a windowed program shows them nowhere else.
                self.assertOneBox(r, CREATE_FAILED % "unknown" + "Unrecognized option: -Xbogus\n")
                create = self.one(r, "create")
                self.assertEqual(create["unrecognized"], ["-Xbogus"])
                self.assertEqual(self.records(r, "destroy"), [])


LEFT_OUT = "The Java VM options in %s were left out: the Java runtime refused them.\n"
TOO_MANY_RESTARTS = "The program asked to be restarted more than 5 times within a minute: it was not restarted again.\n"
NO_HEAP = "Error occurred during initialization of VM\nCould not reserve enough space for object heap\n"


class OptionsFileTest(LauncherCase):
    """The options files under Windows: read beside the executable and in the
    user's folder; a user's file the runtime refuses (creation fails, or the
    runtime ends the process while creating) is left out in a new start,
    which the first process waits for."""

    def test_a_refused_user_file_is_left_out_and_the_program_starts(self):
        for arch, content, words in (("x86", "-Dmine=1\r\n-XX:Bogus\r\n", "Unrecognized option: -XX:Bogus\n"),
                                     ("x64", "# more\r\n-Xmx100000g\r\n", NO_HEAP)):
            with self.subTest(arch=arch, words=words):
                app = self.make_app(launcher_settings(jre={"Virtual Machine Parameters": "-Xmx64m"}), arch=arch,
                                    name="app-" + arch)
                app.write_file("App.vmoptions", "-Dshipped=\u00e4\r\n".encode("utf-16"))
                app.write_file("appdata/App/App.vmoptions", content.encode("utf-8"))
                user_file = app.win_path + "\\appdata\\App\\App.vmoptions"
                r = app.run(["doc"], env={"APPDATA": app.win_path + "\\appdata"})
                self.assertExit(r, 0)
                self.assertOneBox(r, LEFT_OUT % user_file + words)
                first, second = self.records(r, "create")
                self.assertNotEqual(first["pid"], second["pid"])
                self.assertIn("-Dshipped=\u00e4", first["options"])
                self.assertEqual([o for o in first["options"] if o in ("-Dmine=1", "-Xmx100000g")][:1],
                                 ["-Dmine=1" if arch == "x86" else "-Xmx100000g"])
                self.assertEqual(second["options"][3:6], ["-Djava.class.path=%s\\app.jar" % app.win_path,
                                                          "-Xmx64m", "-Dshipped=\u00e4"])
                self.assertIn("-Dveda.launcher.vmoptions=" + user_file, second["options"])
                self.assertEqual(self.main_args(r), ["doc"])


    def test_the_shipped_options_never_fall_back(self):
        # The runtime ends the process while it creates the virtual machine:
        # the launch still says why, in the runtime's words, and ends with -1.
        # The user's good file is tried without once, and is not blamed.
        app = self.make_app(launcher_settings(jre={"Virtual Machine Parameters": "-Xmx100000g"}))
        app.write_file("appdata/App/App.vmoptions", b"-Dmine=1\r\n")
        r = app.run(env={"APPDATA": app.win_path + "\\appdata"})
        self.assertExit(r, -1)
        self.assertOneBox(r, CREATE_FAILED % "unknown" + NO_HEAP)
        first, second = self.records(r, "create")
        self.assertIn("-Dmine=1", first["options"])
        self.assertNotIn("-Dmine=1", second["options"])


class RuntimeOutputTest(LauncherCase):
    def test_the_runtimes_own_log_file_gets_its_lines(self):
        # The runtime writes its log through the launcher, with a stream of
        # its own C library: the lines land in the file, not elsewhere.
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(jre={"Virtual Machine Parameters": "-Xlog:gc:file=gc.log"}),
                                    arch=arch, name="log-" + arch)
                r = app.run(cwd=app.case_dir)
                self.assertExit(r, 0)
                with open(os.path.join(app.case_dir, "gc.log"), encoding="ascii") as f:
                    self.assertEqual(f.read(), "[info][gc] Using Serial\n")


class RestartTest(LauncherCase):
    """"Restart Exit Code": the first process starts each run and waits for
    it; whatever started the launcher gets the last run's exit code."""

    def test_a_program_that_asks_runs_again_with_the_same_arguments_in_both_builds(self):
        for console in (False, True):
            with self.subTest(console=console):
                app = self.make_app(launcher_settings(app={"Restart Exit Code": "23"}),
                                    cfg={"exit_runs": 1, "exit_code": 23}, name="app-%s" % console)
                if console:
                    app.install_launcher(console=True)
                r = app.run(["doc one"])
                self.assertExit(r, 0)
                self.assertNoBox(r)
                mains = self.records(r, "main")
                self.assertEqual([m["args"] for m in mains], [["doc one"], ["doc one"]])
                self.assertEqual([e["code"] for e in self.records(r, "exit_hook")], [23])
                # Each run is a process of its own, started by the first.
                self.assertNotEqual(mains[0]["pid"], mains[1]["pid"])

    def test_a_program_that_asks_without_end_is_stopped(self):
        app = self.make_app(launcher_settings(main_class="standin.Exits", app={"Restart Exit Code": "23"}),
                            cfg={"exit_code": 23})
        r = app.run(timeout=120)
        self.assertExit(r, 23)
        self.assertEqual(len(self.records(r, "main")), 6)
        self.assertOneBox(r, TOO_MANY_RESTARTS)


class MainClassTest(LauncherCase):
    def test_missing_main_class(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(main_class="com.example.App"), arch=arch)
                r = app.run(["a"])
                self.assertExit(r, -1)
                self.assertOneBox(r, "Could not find the main class com/example/App.\n")
                self.assertIn("com/example/App", [f["name"] for f in self.records(r, "find_class")])
                describe = self.one(r, "describe")
                self.assertEqual(describe["class"], "java/lang/NoClassDefFoundError")
                self.assertEqual(describe["text"],
                                 "java.lang.NoClassDefFoundError: com/example/App")
                self.assertEqual(self.records(r, "main"), [])
                vm_thread = self.one(r, "create")["thread"]
                self.assertEqual(self.one(r, "detach")["thread"], vm_thread)
                self.assertEqual(self.one(r, "destroy")["thread"], self.one(r, "loaded")["thread"])

    def test_main_class_name_beyond_ascii(self):
        # The runtime gets the name in its own (modified UTF-8) form.
        name = "com/example/\u00c4pp\u65e5\U0001F600"
        app = self.make_app(launcher_settings(main_class=name.replace("/", ".")))
        r = app.run()
        self.assertExit(r, -1)
        self.assertEqual(len(r.texts), 1, r)
        self.assertTrue(r.texts[0].startswith("Could not find the main class com/example/"),
                        r.texts)
        self.assertIn(name, [f["name"] for f in self.records(r, "find_class")])
        self.assertEqual(self.one(r, "describe")["text"], "java.lang.NoClassDefFoundError: " + name)

    def test_class_without_main(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(main_class="standin.NoMain"), arch=arch)
                r = app.run()
                self.assertExit(r, -1)
                # The runtime left its exception pending: it is described and
                # no message is shown.
                self.assertNoBox(r)
                self.assertEqual(self.one(r, "describe")["class"], "java/lang/NoSuchMethodError")
                self.assertEqual(self.records(r, "main"), [])
                self.one(r, "detach")
                self.one(r, "destroy")

    def test_main_class_in_slash_form(self):
        app = self.make_app(launcher_settings(main_class="standin/Records"))
        r = app.run()
        self.assertExit(r, 0)
        self.assertEqual(self.one(r, "main")["class"], "standin/Records")


class JniFailureTest(LauncherCase):
    """JNI calls of the main-class sequence that fail inside the runtime: the
    stand-in fails the chosen call as a runtime out of memory does."""

    def test_each_failing_call_ends_the_launch(self):
        # (settings' main class, stand-in config, arguments, the one box or
        # None, the exception described or None, main reached)
        cases = [
            ("standin.Records", {"fail": "NewCharArray:1"}, ["a"],
             "Failed to load Main Class: standin/Records.\n", None, False),
            ("standin.Records", {"fail": "GetStringUTFChars:1"}, [],
             None, "java/lang/OutOfMemoryError", False),
            ("standin.NoMain", {"quiet_missing_method": 1}, [],
             "No main method found in specified class.\n", None, False),
            ("standin.Records", {"fail": "NewObjectArray:1"}, ["a"],
             None, "java/lang/OutOfMemoryError", False),
            # The first string is the class name, the second the argument.
            ("standin.Records", {"fail": "NewCharArray:2"}, ["a"],
             None, "java/lang/OutOfMemoryError", False),
            ("standin.Records", {"fail": "DetachCurrentThread:1"}, ["a"], None, None, True),
        ]
        for arch in ("x86", "x64"):
            for main_class, cfg, args, box, described, reached in cases:
                with self.subTest(arch=arch, cfg=cfg):
                    app = self.make_app(launcher_settings(main_class=main_class), arch=arch, cfg=cfg)
                    r = app.run(args)
                    self.assertExit(r, -1)
                    if box:
                        self.assertOneBox(r, box)
                    else:
                        self.assertNoBox(r)
                    descriptions = [d["class"] for d in self.records(r, "describe")]
                    self.assertEqual(descriptions, [described] if described else [])
                    self.assertEqual(len(self.records(r, "main")), 1 if reached else 0)
                    self.assertEqual(len(self.records(r, "injected_failure")), 0 if "quiet_missing_method" in cfg else 1)
                    # The thread leaves the runtime on every path, so the
                    # teardown's destroy does not wait for it.
                    self.assertEqual(self.one(r, "detach")["thread"], self.one(r, "create")["thread"])
                    self.one(r, "destroy")


class MainEndTest(LauncherCase):
    """How the end of main becomes the process exit code."""

    def test_normal_return(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(), arch=arch)
                r = app.run(["x"])
                self.assertExit(r, 0)
                self.assertNoBox(r)
                events = [e for e in r.events() if e != "find_class"]
                self.assertEqual(events, ["loaded", "default_args", "create", "main", "detach",
                                          "destroy"])
                launcher_thread = self.one(r, "loaded")["thread"]
                create = self.one(r, "create")
                self.assertFalse(create["main_thread"])
                self.assertNotEqual(create["thread"], launcher_thread)
                self.assertEqual(self.one(r, "main")["thread"], create["thread"])
                detach = self.one(r, "detach")
                self.assertEqual(detach["thread"], create["thread"])
                self.assertTrue(detach["attached"])
                self.assertEqual(self.one(r, "destroy")["thread"], launcher_thread)
                self.assertEqual(self.one(r, "default_args")["thread"], launcher_thread)

    def test_exception_escaping_main(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(main_class="standin.Throws"), arch=arch)
                r = app.run(["x"])
                self.assertExit(r, 1)
                self.assertNoBox(r)
                self.assertEqual(self.main_args(r), ["x"])
                events = r.events()
                self.assertEqual(events[-3:], ["main", "detach", "destroy"])
                self.assertEqual(self.one(r, "detach")["thread"], self.one(r, "create")["thread"])

    def test_program_calls_exit(self):
        cases = [(42, "0x0000002A"), (0, "0x00000000"), (-5, "0xFFFFFFFB")]
        for arch in ("x86", "x64"):
            app = self.make_app(launcher_settings(main_class="standin.Exits"), arch=arch)
            rt = app.runtimes[os.path.abspath(app.file("jre/bin/client"))]
            for code, code_hex in cases:
                with self.subTest(arch=arch, code=code):
                    rt.write_cfg({"exit_code": code})
                    r = app.run()
                    self.assertExit(r, code)
                    self.assertEqual(r.exit_code_hex, code_hex)
                    self.assertNoBox(r)
                    hook = self.one(r, "exit_hook")
                    self.assertEqual(hook["code"], code)
                    self.assertEqual(hook["thread"], self.one(r, "create")["thread"])
                    self.assertEqual(r.events()[-2:], ["exit_hook", "exit"])

    def test_launcher_waits_for_a_long_main(self):
        app = self.make_app(launcher_settings(main_class="standin.Sleeps"),
                            cfg={"sleep_ms": 1000})
        r = app.run()
        self.assertExit(r, 0)
        self.assertGreaterEqual(r.raw["elapsed_ms"], 1000)
        self.assertEqual(r.events()[-2:], ["detach", "destroy"])


class StartupCacheTest(LauncherCase):
    def test_a_runtime_17_lists_its_classes_and_the_detached_creator_makes_the_archive_for_the_next_launch(self):
        app = self.make_app(launcher_settings(jre={"Start-up Cache": "auto"}, more=[
            ("Product Information", [("Product Name", "Cache Test"), ("Product Code", "C1")])]), vm="server")
        app.write_file("jre/release", b'IMPLEMENTOR="Example"\nJAVA_VERSION="17.0.2"\n')
        app.write_file("jre/bin/server/classes.jsa", b"")
        with open(harness.java_standin_path(), "rb") as f:
            app.write_file("jre/bin/java.exe", f.read())
        local = os.path.join(app.case_dir, "local")
        product = os.path.join(local, "Cache Test", "C1")
        folder = os.path.join(product, "veda-launcher-cache")
        os.makedirs(folder)
        # Left by a launch of another key whose process is gone: tidied away.
        with open(os.path.join(folder, "00000000000000ff-4000000.classlist"), "w") as f:
            f.write("java/lang/Object\n")
        # The product's own files, even under a cache's name: never touched.
        theirs = [os.path.join(product, "appdata.db"), os.path.join(product, "00000000000000ff-4000000.classlist")]
        for path in theirs:
            with open(path, "w") as f:
                f.write("theirs\n")
        env = {"LOCALAPPDATA": harness.to_windows_path(local)}
        wfolder = re.escape(harness.to_windows_path(folder))
        r = app.run(env=env)
        self.assertExit(r, 0)
        options = self.options(r)
        self.assertEqual(options[0], "-Djava.class.path=%s\\app.jar" % app.win_path)
        self.assertRegex(options[1], r"^-XX:DumpLoadedClassList=%s\\[0-9a-f]{16}-[0-9]+\.classlist$" % wfolder)
        self.assertEqual(options[2:], ["-Xlog:cds=off", "-Xlog:cds+dynamic=off"])

        # The launcher, started again detached, runs java.exe and records its archive.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            names = sorted(os.listdir(folder))
            if any(n.endswith(".rec") for n in names) and not any(n.endswith(".job") for n in names):
                break
            time.sleep(0.1)
        self.assertEqual([os.path.splitext(n)[1] for n in names], [".jsa", ".lock", ".rec"], names)
        self.assertEqual([p for p in theirs if not os.path.exists(p)], [])
        with open(os.path.join(folder, names[2]), encoding="utf-8") as f:
            self.assertNotEqual(f.read().split("\n")[3], "0", "the archive's change time")
        with open(app.file("jre/bin/java-calls.txt"), encoding="utf-8") as f:
            call = f.read().split("\n")
        list_option = options[1].split("=", 1)[1]
        # The virtual machine the launch used, then the dump.
        self.assertEqual(call[:6], ["-server", "-Xshare:dump", "-XX:SharedClassListFile=" + list_option,
                                    "-XX:SharedArchiveFile=" + list_option[:-len(".classlist")] + ".jsa",
                                    "-Xlog:disable", "-Djava.class.path=%s\\app.jar" % app.win_path])

        r = app.run(env=env)
        self.assertExit(r, 0)
        self.assertEqual(self.options(r)[1], "-XX:SharedArchiveFile=%s\\%s" % (harness.to_windows_path(folder), names[0]))

    def test_a_cache_folder_others_may_write_to_is_not_used(self):
        app = self.make_app(launcher_settings(jre={"Start-up Cache": "auto"}, more=[
            ("Product Information", [("Product Name", "Cache Test"), ("Product Code", "C1")])]), vm="server")
        app.write_file("jre/release", b'IMPLEMENTOR="Example"\nJAVA_VERSION="17.0.2"\n')
        app.write_file("jre/bin/server/classes.jsa", b"")
        app.write_file("jre/bin/java.exe", b"")
        local = os.path.join(app.case_dir, "local")
        folder = os.path.join(local, "Cache Test", "C1", "veda-launcher-cache")
        os.makedirs(folder)
        # Writable by everybody: the system grants the world write access.
        os.chmod(folder, 0o777)
        r = app.run(env={"LOCALAPPDATA": harness.to_windows_path(local)})
        self.assertExit(r, 0)
        self.assertEqual(self.options(r), ["-Djava.class.path=%s\\app.jar" % app.win_path])
        self.assertEqual(os.listdir(folder), [])


if __name__ == "__main__":
    unittest.main()
