"""Launch control end to end: the settings file beside the executable (and
the built-in settings under it), the per-user copy, the command line that
reaches main, the working directory and the environment the runtime sees."""

import os
import shutil
import tempfile
import unittest

import harness
import images
from harness import LauncherCase, launcher_settings, settings_text

NO_MAIN_CLASS = "Main class was not specified in INI file."
JRE = "Java Runtime Environment"
VMP = "Virtual Machine Parameters"


class MissingMainClassTest(LauncherCase):
    """Without a main class the launch stops before any runtime is looked at."""

    CASES = [
        ("no settings file", None),
        ("empty settings file", ""),
        ("empty Main Class", launcher_settings(main_class="")),
        ("blank Main Class", launcher_settings(main_class="   ")),
        ("no Main Class key", launcher_settings(main_class=None)),
        ("Main Class in another section",
         launcher_settings(main_class=None, app={"Main Class": "standin.Records"})),
    ]

    def test_message_210_and_no_runtime_loaded(self):
        for arch in ("x86", "x64"):
            for what, settings in self.CASES:
                with self.subTest(arch=arch, case=what):
                    app = self.make_app(settings, arch=arch)
                    r = app.run()
                    self.assertExit(r, -1)
                    self.assertOneBox(r, NO_MAIN_CLASS)
                    self.assertEqual(r.records, [])

    def test_settings_of_another_name_are_not_read(self):
        app = self.make_app(None)
        app.write_ini(launcher_settings(), name="Other.ini")
        app.write_ini(launcher_settings(), name="App.exe.ini")
        r = app.run()
        self.assertExit(r, -1)
        self.assertOneBox(r, NO_MAIN_CLASS)

    def test_settings_file_takes_the_name_before_the_last_dot(self):
        app = self.make_app(None)
        app.install_launcher(name="My.App.exe")
        app.write_ini(launcher_settings(), name="My.ini")
        self.assertOneBox(app.run(), NO_MAIN_CLASS)
        app.write_ini(launcher_settings(), name="My.App.ini")
        r = app.run()
        self.assertExit(r, 0)
        self.assertNoBox(r)
        self.assertEqual(self.main_args(r), [])


class SettingsFileTest(LauncherCase):
    def test_minimal_settings_run_main_with_the_slash_name(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                app = self.make_app(launcher_settings(), arch=arch)
                r = app.run()
                self.assertExit(r, 0)
                self.assertNoBox(r)
                self.assertEqual(self.one(r, "loaded")["bits"], 32 if arch == "x86" else 64)
                self.assertIn("standin/Records", [f["name"] for f in self.records(r, "find_class")])
                self.assertEqual(self.one(r, "main")["class"], "standin/Records")

    def test_non_ascii_folder_and_program_name(self):
        name = "\u00c4pp \u00fc \u65e5\u672c"
        app = self.make_app(None, name=name)
        app.install_launcher(name="\u00c4pp.exe")
        app.write_ini(launcher_settings(main_class=""))
        r = app.run()
        self.assertExit(r, -1)
        self.assertOneBox(r, NO_MAIN_CLASS)
        self.assertEqual(r.records, [])

        app.write_ini(launcher_settings())
        r = app.run(["\u00e4"])
        self.assertExit(r, 0)
        self.assertNoBox(r)
        self.assertEqual(self.loaded(r), [app.win_path + "\\jre\\bin\\client\\jvm.dll"])
        self.assertEqual(self.main_args(r), ["\u00e4"])

    def test_settings_text_in_each_encoding(self):
        # A value with characters of the ANSI code page reaches the runtime
        # as the same characters, whichever way the file is encoded.
        settings = launcher_settings(
            jre={"Virtual Machine Parameters": "-Dname=\u00c4\u00f6\u00df"})
        for encoding in ("utf-16", "mbcs"):
            with self.subTest(encoding=encoding):
                app = self.make_app(settings, name="\u00c4pp \u00fc", encoding=encoding)
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(self.options(r), [
                    "-Djava.class.path=%s\\app.jar" % app.win_path,
                    "-Dname=\u00c4\u00f6\u00df",
                ])

    def test_sections_are_found_among_many(self):
        # Dozens of other sections before the launcher's own, names in any
        # letter case, and a "+" section found the same way.
        filler = [("Other Section Number %02d" % i, {"Key": "value %d" % i}) for i in range(60)]
        text = settings_text(*filler + [
            ("JAVA RUNTIME ENVIRONMENT", {"Main Class": "standin.Records"}),
            ("java runtime environment+", {"Virtual Machine Parameters": "-Dplus=1"}),
            ("class path", {"Class Path": "\\app.jar"}),
        ])
        self.assertGreater(len(text), 2000)
        app = self.make_app(text)
        r = app.run()
        self.assertExit(r, 0)
        self.assertNoBox(r)
        self.assertEqual(self.options(r), ["-Djava.class.path=%s\\app.jar" % app.win_path,
                                           "-Dplus=1"])


class CommandLineTest(LauncherCase):
    """How the command line is split into the arguments of main."""

    CASES = [
        ("", []),
        ("a", ["a"]),
        ('a "b c" d', ["a", "b c", "d"]),
        ("a    b", ["a", "b"]),
        ("   a b   ", ["a", "b"]),
        ('""', [""]),
        ('a "" b', ["a", "", "b"]),
        ('"" ""', ["", ""]),
        ('"quoted"tail', ["quoted", "tail"]),
        ('"a""b"', ["a", "b"]),
        ('"unterminated rest  of line', ["unterminated rest  of line"]),
        ('a "unterminated', ["a", "unterminated"]),
        ("a\tb", ["a\tb"]),
        ("\ta", ["\ta"]),
        ("a\t", ["a"]),
        ('x\\"y', ['x\\"y']),
        ('say"hi there"', ['say"hi', 'there"']),
        ("C:\\dir\\ \\\\server\\share\\", ["C:\\dir\\", "\\\\server\\share\\"]),
        ("%PATH% %%", ["%PATH%", "%%"]),
        ("\u00e4 \u65e5\u672c \U0001F600", ["\u00e4", "\u65e5\u672c", "\U0001F600"]),
        ("-nosplash /nosplash -NOSPLASH", ["-nosplash", "/nosplash", "-NOSPLASH"]),
    ]

    def setUp(self):
        # A blank in the folder name: the program path must be quoted.
        self.app = self.make_app(launcher_settings(), name="my app")

    def test_arguments_reach_main_exactly(self):
        for raw, expected in self.CASES:
            with self.subTest(raw=raw):
                r = self.app.run(raw_args=raw)
                self.assertExit(r, 0)
                self.assertNoBox(r)
                self.assertEqual(self.main_args(r), expected)

    def test_program_name_forms(self):
        exe = harness.to_windows_path(self.app.exe)
        plain = self.make_app(launcher_settings())  # no blank in its path
        plain_exe = harness.to_windows_path(plain.exe)
        cases = [
            (plain, '%s a "b c"' % plain_exe, ["a", "b c"]),
            (self.app, '   "%s"  a' % exe, ["a"]),
            (self.app, '"%s"x y' % exe, ["x", "y"]),
            (self.app, '"%s"' % exe, []),
        ]
        for app, cmdline, expected in cases:
            with self.subTest(cmdline=cmdline):
                r = app.run(raw_cmdline=cmdline)
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), expected)

    def test_many_and_long_arguments(self):
        many = ["arg%d" % i for i in range(400)]
        long_one = "".join(chr(0x41 + i % 26) for i in range(8000))
        for args in (many, [long_one, "", long_one[:10]]):
            with self.subTest(count=len(args)):
                r = self.app.run(args)
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), args)


class CmdSettingTest(LauncherCase):
    """The "Cmd" items follow the command-line arguments."""

    def test_cmd_items_follow_the_command_line(self):
        cases = [
            # (Cmd, command line, environment, arguments of main)
            ("x", "a", None, ["a", "x"]),
            ('"y z" w', '"a b"', None, ["a b", "y z", "w"]),
            ('v "" u', "", None, ["v", "u"]),
            ("%E2E_CMD_ITEMS% last", "first", {"E2E_CMD_ITEMS": "p q"},
             ["first", "p", "q", "last"]),
            ("%E2E_CMD_UNSET%", "", {"E2E_CMD_UNSET": None}, ["%E2E_CMD_UNSET%"]),
            ("-nosplash", "-nosplash", None, ["-nosplash", "-nosplash"]),
            ("\U0001F600 \u65e5\u672c", "", None, ["\U0001F600", "\u65e5\u672c"]),
        ]
        app = self.make_app()
        for cmd, raw, env, expected in cases:
            with self.subTest(cmd=cmd, raw=raw):
                app.write_ini(launcher_settings(app={"Cmd": cmd}))
                r = app.run(raw_args=raw, env=env)
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), expected)

    def test_values_of_any_length(self):
        # The settings are read whole around the sizes of the read buffer.
        app = self.make_app()
        for length in (254, 255, 256, 257, 510, 511, 512, 513, 5000):
            value = "".join(chr(0x61 + i % 26) for i in range(length))
            with self.subTest(length=length):
                app.write_ini(launcher_settings(app={"Cmd": value}))
                r = app.run()
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), [value])

    def test_splash_switch_only_from_the_command_line(self):
        # The switch counts only as a whole command-line argument written
        # exactly so; "Cmd" tokens join the arguments after the check.
        cases = [
            # (Cmd, arguments, splash shown)
            ("", [], True),
            ("", ["-nosplash"], False),
            ("", ["a", "/nosplash"], False),
            ("", ["-NOSPLASH"], True),
            ("", ["/NoSplash"], True),
            ("", ["-nosplash2"], True),
            ("-nosplash", [], True),
            ("/nosplash", ["x"], True),
        ]
        # VM creation waits a little, so that a splash, if any, is up by main.
        app = self.make_app(cfg={"create_sleep_ms": 600})
        app.write_file("splash.bmp", images.bmp(images.solid(8, 8, (255, 0, 0))))
        for cmd, args, splash in cases:
            with self.subTest(cmd=cmd, args=args):
                app.write_ini(launcher_settings(
                    app={"Cmd": cmd},
                    more=[("Display", {"Splash Screen": harness.to_windows_path(app.file("splash.bmp"))})]))
                r = app.run(args)
                self.assertNoBox(r)
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), args + ([cmd] if cmd else []))
                self.assertEqual(self.one(r, "main")["splash"], splash)
                self.assertEqual(any(w["class"] == "SplashScreenWindow" for w in r.windows), splash, r.windows)


class WorkingDirectoryTest(LauncherCase):
    """A relative "JRE Path" is found through the working directory, which
    "Override WorkingDir" moves to the executable's folder."""

    def test_relative_runtime_path(self):
        cases = [
            # (Override WorkingDir, start in the application folder, found)
            ("Yes", False, True),
            ("yes", False, True),
            ("YES", False, True),
            ("", False, False),
            ("no", False, False),
            ("true", False, False),
            ("", True, True),
        ]
        app = self.make_app(runtime="rt")
        for override, in_app, found in cases:
            with self.subTest(override=override, in_app=in_app):
                app.write_ini(launcher_settings(jre={"JRE Path": "rt"},
                                                app={"Override WorkingDir": override}))
                r = app.run(cwd=app.path if in_app else None,
                            press=None if found else harness.IDCANCEL)
                self.assertNoBox(r)
                if found:
                    self.assertExit(r, 0)
                    self.assertEqual(self.loaded(r), [app.win_path + "\\rt\\bin\\client\\jvm.dll"])
                else:
                    # Nothing found: the missing-runtime dialog, cancelled, ends the launch.
                    self.assertRuntimeDialogCancelled(r)


class SwitchValuesTest(LauncherCase):
    """Switch values: some are compared ignoring case, some exactly."""

    def test_failure_check_ignores_case(self):
        app = self.make_app()
        for value, stops in [("Yes", True), ("yes", True), ("YES", True), ("y", False),
                             ("", False), ("true", False), ("Yes ", True)]:
            with self.subTest(value=value):
                app.write_ini(launcher_settings(main_class="standin.Throws",
                                                app={"Failure Check": value}))
                # Stop in the exception dialog, when one shows.
                r = app.run(press=[2])
                self.assertEqual(self.main_args(r), [])
                if stops:
                    self.assertEqual(r.titles, ["Java Exception"])
                    # The program is stopped through System.exit(-1).
                    self.assertExit(r, -1)
                    self.assertEqual([x["code"] for x in self.records(r, "exit_hook")], [-1])
                    self.assertEqual(self.records(r, "destroy"), [])
                else:
                    self.assertNoBox(r)
                    self.assertExit(r, 1)
                    self.assertEqual(self.records(r, "exit_hook"), [])
                    self.one(r, "destroy")

    def test_single_instance_only_for_exact_yes(self):
        # A launch alone runs the program whatever the value; whether later
        # launches hand over (exactly "yes", and no service) is covered by
        # test_single_instance.
        app = self.make_app()
        cases = [("yes", "", True), ("Yes", "", False), ("YES", "", False), ("", "", False),
                 ("yes", "service", False), ("yes", "Service", True)]
        for value, app_type, single in cases:
            with self.subTest(value=value, app_type=app_type):
                app.write_ini(launcher_settings(app={"Single Instance": value,
                                                     "Application Type": app_type}))
                r = app.run()
                self.assertNoBox(r)
                self.assertExit(r, 0)
                self.assertEqual(self.main_args(r), [])


class PerUserCopyTest(LauncherCase):
    """A per-user copy of the settings under APPDATA may supply "JRE Path"."""

    PRODUCT = [("Product Information", {"Product Name": "A/B:C*?", "Product Code": "pc1"})]

    def setUp(self):
        self.app = self.make_app()  # also has a runtime beside the executable (jre)
        self.configured = self.app.add_runtime(os.path.join(self.app.case_dir, "configured"))
        self.personal = self.app.add_runtime(os.path.join(self.app.case_dir, "personal"))
        self.appdata = os.path.join(self.app.case_dir, "appdata")
        self.copy = os.path.join(self.appdata, "ABC", "pc1", "App.ini")
        os.makedirs(os.path.dirname(self.copy))

    def write_copy(self, jre_path):
        items = [("Main Class", "standin.Throws"), ("Virtual Machine Parameters", "-Dcopy=1")]
        if jre_path is not None:
            items.append(("JRE Path", jre_path))
        text = settings_text(("Java Runtime Environment", items))
        with open(self.copy, "wb") as f:
            f.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))

    def test_jre_path_from_the_copy(self):
        configured = self.configured.win_home
        personal = self.personal.win_home
        beside = self.app.win_path + "\\jre"
        cases = [
            # (Application Type, copy's JRE Path or None, copy present, runtime used)
            ("", personal, True, personal),
            ("", None, True, beside),       # the copy hides the file's value
            ("", personal, False, configured),
            ("service", personal, True, configured),
            ("Service", personal, True, personal),
        ]
        for app_type, copy_path, present, used in cases:
            with self.subTest(app_type=app_type, copy=copy_path, present=present):
                if present:
                    self.write_copy(copy_path)
                elif os.path.exists(self.copy):
                    os.unlink(self.copy)
                self.app.write_ini(launcher_settings(jre={"JRE Path": configured},
                                                     app={"Application Type": app_type},
                                                     more=self.PRODUCT))
                r = self.app.run(env={"APPDATA": harness.to_windows_path(self.appdata)})
                self.assertExit(r, 0)
                self.assertEqual(self.loaded(r), [used + "\\bin\\client\\jvm.dll"])
                # Only "JRE Path" comes from the copy.
                self.assertEqual(self.one(r, "main")["class"], "standin/Records")
                self.assertEqual(self.options(r)[1:], [])


class BuiltInSettingsTest(LauncherCase):
    """Settings built into the executable, with the settings file over them."""

    BUILT_IN = settings_text(
        ("Java Runtime Environment", [("Main Class", "standin.Records"),
                                      ("Virtual Machine Parameters", "-Dbuilt=in")]),
        ("Class Path", [("Class Path", "\\app.jar")]),
        ("Application", [("Cmd", "fromBuiltIn")]),
        ("Display", [("Splash Screen", "splash.bmp")]),
    )

    # Quirks of the built-in text: blanks around keys and values, a section
    # name in other letter case, a repeated header, a line without a key,
    # CR LF line ends and text beyond the ANSI code page.
    QUIRKS = "\r\n".join([
        "[Java Runtime Environment]",
        "  Main Class  =  standin.Records  ",
        "=-Dnokey=1",
        "[java runtime environment]",
        "Virtual Machine Parameters=-Dlower=1",
        "[Class Path]",
        "Class Path=\\app.jar",
        "[Java Runtime Environment]",
        "Virtual Machine Parameters=-Dsecond=1",
        "[Application]",
        "Cmd=\u00c4\u65e5 \"two words\"",
        "",
    ])

    @classmethod
    def setUpClass(cls):
        cls.tools = tempfile.mkdtemp(prefix="builtin-", dir=harness.work_root())
        cls.exes = {}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tools, ignore_errors=True)

    def built(self, key, text, arch="x86", encoding="utf-8"):
        if key not in self.exes:
            out = os.path.join(self.tools, "%s-%s.exe" % (key, arch))
            self.exes[key] = harness.embed_settings(out, text, arch=arch, encoding=encoding)
        return self.exes[key]

    def app_with(self, exe, settings, arch="x86"):
        app = self.make_app(None, arch=arch)
        app.install_program(exe, "App.exe")
        if settings is not None:
            app.write_ini(settings)
        return app

    def test_file_values_over_built_in_values(self):
        cases = [
            # (settings file, parameters after the class path, arguments of main)
            (None, ["-Dbuilt=in"], ["fromBuiltIn"]),
            (settings_text((JRE, {VMP: "-Dfile=1"})), ["-Dfile=1"], ["fromBuiltIn"]),
            (settings_text((JRE, {VMP: ""})), ["-Dbuilt=in"], ["fromBuiltIn"]),
            (settings_text((JRE + "+", {VMP: "-Dplus=1"})), ["-Dbuilt=in", "-Dplus=1"],
             ["fromBuiltIn"]),
            (settings_text((JRE, {VMP: "-Dfile=1"}), (JRE + "+", {VMP: "-Dplus=1"})),
             ["-Dfile=1"], ["fromBuiltIn"]),
            (settings_text(("Application+", {"Cmd": "more"})), ["-Dbuilt=in"],
             ["fromBuiltIn", "more"]),
            (settings_text(("Application", {"Cmd": "own"})), ["-Dbuilt=in"], ["own"]),
            # The display settings come from the file alone: a built-in or
            # "+" splash image is not used.
            (settings_text(("Display+", {"Splash Screen": "splash.bmp"})), ["-Dbuilt=in"],
             ["fromBuiltIn"]),
            # The "+" value joins the built-in one with a blank, also here.
            (settings_text((JRE + "+", {"Main Class": "standin.Throws"})),
             None, None),
        ]
        for arch in ("x86", "x64"):
            exe = self.built("plain-" + arch, self.BUILT_IN, arch=arch)
            for settings, params, args in cases:
                with self.subTest(arch=arch, settings=settings):
                    app = self.app_with(exe, settings, arch)
                    r = app.run()
                    if params is None:
                        self.assertExit(r, -1)
                        self.assertOneBox(r, "Could not find the main class "
                                             "standin/Records standin/Throws.\n")
                        self.assertEqual(self.records(r, "main"), [])
                        continue
                    self.assertNoBox(r)
                    self.assertExit(r, 0)
                    self.assertEqual(self.options(r),
                                     ["-Djava.class.path=%s\\app.jar" % app.win_path] + params)
                    self.assertEqual(self.main_args(r), args)

    def test_built_in_text_quirks(self):
        for encoding in ("utf-16", "utf-8"):
            with self.subTest(encoding=encoding):
                exe = self.built("quirks-" + encoding, self.QUIRKS, encoding=encoding)
                app = self.app_with(exe, None)
                r = app.run()
                self.assertExit(r, 0)
                self.assertNoBox(r)
                self.assertEqual(self.one(r, "main")["class"], "standin/Records")
                self.assertEqual(self.options(r), ["-Djava.class.path=%s\\app.jar" % app.win_path])
                self.assertEqual(self.main_args(r), ["\u00c4\u65e5", "two words"])

    def test_byte_order_mark_in_utf8_text(self):
        exe = self.built("bom", b"\xef\xbb\xbf" + self.BUILT_IN.encode("utf-8"))
        r = self.app_with(exe, None).run()
        self.assertExit(r, 0)
        self.assertEqual(self.main_args(r), ["fromBuiltIn"])


class EnvironmentTest(LauncherCase):
    """What the runtime finds in the environment. Parameters are expanded
    after the environment is prepared, so -D options show the variables."""

    SHOW = "-Dpath=%VEDA_JVM_PATH% -Dhome=%VEDA_JVM_HOME% -Dsearch=%Path%"

    def shown(self, r):
        return dict(o.split("=", 1) for o in self.options(r) if o.startswith("-D"))

    def test_runtime_variables_and_search_path(self):
        for arch in ("x86", "x64"):
            app = self.make_app(arch=arch)
            server = app.add_runtime(os.path.join(app.case_dir, "srv"), arch=arch, vm="server")
            beside = app.win_path + "\\jre"
            cases = [
                # (extra settings, environment, runtime home, vm, search path before the runtime)
                ({}, {}, beside, "client", "C:\\base"),
                ({"System Path": "C:\\Tools"}, {}, beside, "client", "C:\\Tools;C:\\base"),
                ({"System Path": "C:\\Tools;"}, {}, beside, "client", "C:\\Tools;C:\\base"),
                ({"System Path": "%E2E_TOOLS%"}, {"E2E_TOOLS": "C:\\T 1"}, beside, "client",
                 "C:\\T 1;C:\\base"),
                ({"JRE Path": server.win_home}, {"VEDA_JVM_HOME": "C:\\stale"}, server.win_home,
                 "server", "C:\\base"),
            ]
            for jre, env, home, vm, search in cases:
                with self.subTest(arch=arch, settings=jre, env=env):
                    app.write_ini(launcher_settings(
                        jre=dict(jre, **{"Virtual Machine Parameters": self.SHOW})))
                    r = app.run(env=dict(env, Path="C:\\base"))
                    self.assertExit(r, 0)
                    self.assertEqual(self.shown(r), {
                        "-Djava.class.path": app.win_path + "\\app.jar",
                        "-Dpath": "%s\\bin\\%s\\jvm.dll" % (home, vm),
                        "-Dhome": home,
                        "-Dsearch": "%s;%s\\bin" % (search, home),
                    })

    def test_library_path_option(self):
        app = self.make_app()
        folder = app.win_path + "\\"
        lib = app.win_path + "\\jre\\lib"
        cases = [
            # (Library Path, environment, option or None)
            ("", {}, None),
            ("C:\\libs", {}, "C:\\libs;%s;.;C:\\base;%s" % (folder, lib)),
            ("C:\\libs;", {}, "C:\\libs;%s;.;C:\\base;%s" % (folder, lib)),
            ("C:\\a;C:\\b", {}, "C:\\a;C:\\b;%s;.;C:\\base;%s" % (folder, lib)),
            ("%E2E_LIBS%", {"E2E_LIBS": "D:\\x y"}, "D:\\x y;%s;.;C:\\base;%s" % (folder, lib)),
        ]
        for value, env, expected in cases:
            with self.subTest(value=value):
                app.write_ini(launcher_settings(jre={"Library Path": value,
                                                     "Virtual Machine Parameters": "-Dz=1"}))
                r = app.run(env=dict(env, Path="C:\\base"))
                self.assertExit(r, 0)
                options = self.options(r)
                if expected is None:
                    self.assertEqual(options[0], "-Djava.class.path=%s\\app.jar" % app.win_path)
                else:
                    self.assertEqual(options[0], "-Djava.library.path=" + expected)
                    self.assertEqual(options[1], "-Djava.class.path=%s\\app.jar" % app.win_path)
                self.assertEqual(options[-1], "-Dz=1")
                self.assertEqual(len(options), 2 if expected is None else 3)


if __name__ == "__main__":
    unittest.main()
