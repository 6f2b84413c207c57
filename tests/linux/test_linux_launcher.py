"""The Linux launcher as a user meets it: the real executable, a real runtime
(Debian's OpenJDK 17), real files, signals and exit codes."""
import os
import re
import shutil
import signal
import subprocess
import time
import unittest

import screen
from linux_harness import (APP_JAR, FX_APP_JAR, FX_JARS, JDK17, LAUNCHER, LinuxCase, clean_environment, other_runtime,
                           settings_text)

NOT_FOUND = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE (%s) from:\n"
             "https://adoptium.net/\n")
LEFT_OUT = "The Java VM options in %s were left out: the Java runtime refused them.\n"
TOO_MANY = "The program asked to be restarted more than 5 times within a minute: it was not restarted again.\n"


def trace_events(path, event):
    """The trace's lines of one event."""
    with open(path, encoding="utf-8") as f:
        return [line for line in f.read().splitlines() if re.search(r" pid=\d+ %s( |$)" % event, line)]


def write_lines(path, *lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))


def elf_header(machine, elf_class=2):
    header = bytearray(64)
    header[0:4] = b"\x7fELF"
    header[4], header[5] = elf_class, 1
    header[16], header[18], header[19] = 3, machine & 0xFF, machine >> 8
    return bytes(header)


class LaunchTest(LinuxCase):
    def setUp(self):
        super().setUp()
        self.installed("java-17-openjdk-amd64", JDK17)

    def test_arguments_exit_codes_and_the_uncaught_exception(self):
        exe = self.app()
        r = self.run_app(exe, ["a b", "日本 😀", "", "property:java.home"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines(),
                         ["main [a b] [日本 😀] [] [property:java.home]", "java.home=" + os.path.realpath(JDK17)])
        self.assertEqual(r.stderr, b"")

        r = self.run_app(exe, ["exit:3"])
        self.assertEqual(r.returncode, 3)

        r = self.run_app(exe, ["throw:x"])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b'Exception in thread "main" java.lang.IllegalStateException: thrown by main: x\n\tat app.Probe.main',
                      r.stderr)

    def test_text_in_the_c_locale_as_the_java_command_takes_it(self):
        exe = self.app()
        args = ["plain", "d\u00e9j\u00e0 \u65e5\u672c"]
        for locale in ("C", "C.UTF-8"):
            with self.subTest(locale=locale):
                env = self.env(LC_ALL=locale)
                ours = self.run_app(exe, args, env=env)
                java = subprocess.run([os.path.join(JDK17, "bin", "java"), "-cp", APP_JAR, "app.Probe"] + args,
                                      env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
                self.assertEqual(ours.returncode, 0, ours.stderr)
                self.assertEqual(ours.stdout, java.stdout)

    def test_the_program_ends_when_its_last_thread_does_and_keeps_its_children(self):
        exe = self.app()
        r = self.run_app(exe, ["wait:300", "child:7"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines()[1:], ["child exit 7", "waited"])

    def test_signals_reach_the_program(self):
        exe = self.app()
        cases = [(signal.SIGTERM, 143), (signal.SIGINT, 130)]
        for sig, code in cases:
            with self.subTest(signal=sig.name):
                ready, hook = os.path.join(self.dir, "ready"), os.path.join(self.dir, "hook")
                for f in (ready, hook):
                    if os.path.exists(f):
                        os.remove(f)
                p = subprocess.Popen([exe, "hook:" + hook, "ready:" + ready, "wait:60000"], env=self.env(),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertTrue(self.wait_for_file(ready), "main did not start")
                # SIGQUIT prints the runtime's thread dump, and the program goes on.
                if sig == signal.SIGTERM:
                    p.send_signal(signal.SIGQUIT)
                p.send_signal(sig)
                out, err = p.communicate(timeout=30)
                self.assertEqual(p.returncode, code, err)
                self.assertTrue(os.path.exists(hook), "the shutdown hook did not run")
                if sig == signal.SIGTERM:
                    self.assertIn(b"Full thread dump", out)

    def test_output_files_and_their_folders(self):
        logs = os.path.join(self.dir, "logs", "new", "deeper")
        exe = self.app(settings=settings_text(application={
            "Output File": "%s/out.log" % logs, "Error File": "%APP_LOGS%\\err.log"}))
        r = self.run_app(exe, ["stderr:to the error file"], env=self.env(APP_LOGS=logs))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"")
        with open(os.path.join(logs, "out.log")) as f:
            self.assertEqual(f.read(), "main [stderr:to the error file]\n")
        with open(os.path.join(logs, "err.log")) as f:
            self.assertEqual(f.read(), "to the error file\n")

    def test_wildcard_class_path_written_for_windows(self):
        exe = self.app(settings=settings_text(class_path="\\lib\\*.jar;C:\\Program Files\\x.jar;\\\\server\\x.jar"))
        trace = os.path.join(self.dir, "trace.log")
        r = self.run_app(exe, ["property:java.class.path"], env=self.env(VEDA_LAUNCHER_TRACE=trace))
        self.assertEqual(r.returncode, 0, r.stderr)
        folder = os.path.dirname(exe)
        self.assertIn("java.class.path=%s/lib/probe-app.jar\n" % folder, r.stdout.decode())
        with open(trace) as f:
            passed = [line for line in f if " passed over " in line]
        self.assertEqual(len(passed), 2, passed)

    def test_windows_places_and_an_output_file_that_cannot_be_opened(self):
        exe = self.app(settings=settings_text(application={"Output File": "%TEMP%\\MyApp\\out.log"}))
        r = self.run_app(exe, ["x"], env=self.env(TEMP=None, TMP=None, TMPDIR=self.dir))
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        with open(os.path.join(self.dir, "MyApp", "out.log")) as f:
            self.assertEqual(f.read(), "main [x]\n")
        # The stream stays as it was, and no exception reaches the terminal.
        exe = self.app(name="Other", settings=settings_text(application={"Output File": "/proc/none/out.log"}))
        r = self.run_app(exe, ["y"])
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"main [y]\n", b""))

    def test_class_path_entries_without_a_leading_separator_lie_in_the_executables_folder(self):
        exe = self.app(settings=settings_text(class_path="lib/*.jar"))
        r = self.run_app(exe, ["property:java.class.path"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("java.class.path=%s/lib/probe-app.jar\n" % os.path.dirname(exe), r.stdout.decode())

    def test_library_path_goes_ahead_of_the_runtimes_own_folders(self):
        exe = self.app(settings=settings_text(runtime={"Library Path": "/opt/native"}))
        env = self.env(LD_LIBRARY_PATH="/user/lib")
        args = ["property:java.library.path", "env:LD_LIBRARY_PATH"]
        r = self.run_app(exe, args, env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        java = subprocess.run([os.path.join(JDK17, "bin", "java"), "-cp", APP_JAR, "app.Probe"] + args, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        default = java.stdout.decode().splitlines()[1].split("=", 1)[1]
        # The distribution's folders behind the configured ones; the program's
        # children inherit the user's variable.
        self.assertEqual(r.stdout.decode().splitlines()[1:],
                         ["java.library.path=/opt/native:%s:%s" % (os.path.dirname(exe), default),
                          "LD_LIBRARY_PATH=/user/lib"])


class JavaCommandParityTest(LinuxCase):
    """What works with the java command works with the launcher."""

    def setUp(self):
        super().setUp()
        self.installed("java-17-openjdk-amd64", JDK17)

    def test_module_options_as_written_for_java_and_the_application_folder(self):
        exe = self.app(settings=settings_text(runtime={
            "Virtual Machine Parameters": "--add-opens java.base/java.lang=ALL-UNNAMED -server -Dhome=%VEDA_APP_HOME%/lib"}))
        r = self.run_app(exe, ["property:home", "opens:java.lang"], cwd="/")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines()[1:],
                         ["home=" + os.path.join(os.path.dirname(exe), "lib"), "opens java.lang true"])

    def test_a_javafx_program_with_its_modules_in_the_applications_folder_started_from_another_folder(self):
        # Debian's runtime finds the JavaFX natives on its default library path.
        if not FX_APP_JAR or not os.path.isfile(FX_APP_JAR):
            self.skipTest("no JavaFX jars were found when the tests were built (Debian: libopenjfx-java)")
        exe = self.app(jar=False, settings=settings_text(main="fx.FxProbe", class_path="\\lib\\fx-probe.jar", runtime={
            "Virtual Machine Parameters": "--module-path=%VEDA_APP_HOME%/lib/fx --add-modules javafx.controls"}))
        lib = os.path.join(os.path.dirname(exe), "lib")
        shutil.copy2(FX_APP_JAR, os.path.join(lib, "fx-probe.jar"))
        os.makedirs(os.path.join(lib, "fx"))
        for jar in FX_JARS:
            shutil.copy(jar, os.path.join(lib, "fx"))
        display = screen.Display()
        self.addCleanup(display.close)
        report, close = os.path.join(self.dir, "shown"), os.path.join(self.dir, "close")
        p = subprocess.Popen([exe, report, close], env=self.env(DISPLAY=display.name), cwd="/",
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        windows = ""
        try:
            deadline = time.monotonic() + 30
            while not os.path.exists(report) and p.poll() is None and time.monotonic() < deadline:
                time.sleep(0.02)
            while os.path.exists(report) and not windows and time.monotonic() < deadline:
                windows = display.xdotool("search", "--name", "^fx probe$")
                time.sleep(0.02)
        finally:
            open(close, "w").close()
            if not os.path.exists(report):
                p.kill()  # a launch that failed waits for its error box to be closed
            out, err = p.communicate(timeout=60)
        self.assertTrue(os.path.exists(report), "the window was not shown: %s%s" % (out.decode(), err.decode()))
        self.assertTrue(windows, "no window \"fx probe\" on the display")
        with open(report, encoding="utf-8") as f:
            self.assertEqual(f.read(), "shown /\n")
        self.assertEqual(p.returncode, 0, err)

    def test_tools_find_the_program_by_its_main_class(self):
        exe = self.app()
        ready, done = os.path.join(self.dir, "ready"), os.path.join(self.dir, "done")
        p = subprocess.Popen([exe, "ready:" + ready, "waitfile:" + done], env=self.env(), cwd=self.dir,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            self.assertTrue(self.wait_for_file(ready), "main did not run")
            jps = subprocess.run([os.path.join(JDK17, "bin", "jps"), "-l"], stdout=subprocess.PIPE, timeout=60)
            self.assertIn("%d app.Probe" % p.pid, jps.stdout.decode().splitlines())
            jcmd = subprocess.run([os.path.join(JDK17, "bin", "jcmd"), "app.Probe", "VM.command_line"],
                                  stdout=subprocess.PIPE, timeout=60)
            self.assertIn("java_command: app.Probe ready:" + ready, jcmd.stdout.decode())
        finally:
            open(done, "w").close()
            p.communicate(timeout=60)

    def test_the_exit_line_of_the_trace_comes_when_the_process_ends(self):
        exe = self.app()
        trace = os.path.join(self.dir, "trace.log")
        r = self.run_app(exe, ["wait:1500"], env=self.env(VEDA_LAUNCHER_TRACE=trace))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(trace, encoding="utf-8") as f:
            lines = f.read().splitlines()
        stamps = [time.strptime(l[:19], "%Y-%m-%d %H:%M:%S") for l in lines]
        seconds = [time.mktime(t) + float(l[19:23]) for t, l in zip(stamps, lines)]
        self.assertIn("exit code=0", lines[-1])
        self.assertGreaterEqual(seconds[-1] - seconds[0], 1.4, lines)

    def test_todays_main_methods_on_a_runtime_that_has_them(self):
        home = other_runtime()
        if not home:
            self.skipTest("no runtime 25 on this machine")
        source = os.path.join(self.dir, "src", "Hello.java")
        os.makedirs(os.path.dirname(source))
        with open(source, "w") as f:
            f.write("class Base { void main() { System.out.println(\"instance main of \" + getClass().getName()); } }\n"
                    "public class Hello extends Base { }\n"
                    "class Plain { static void main(String[] a) { System.out.println(\"static main \" + a.length); } }\n")
        classes = os.path.join(self.dir, "app", "lib", "classes")
        subprocess.run([os.path.join(home, "bin", "javac"), "-d", classes, source], check=True, timeout=120)
        self.installed("temurin-25", home)
        for main, expected in (("Hello", "instance main of Hello"), ("Plain", "static main 2")):
            with self.subTest(main=main):
                exe = self.app(name=main, settings=settings_text(main=main, class_path="\\lib\\classes",
                                                                 runtime={"Minimum Version": "25"}))
                r = self.run_app(exe, ["a", "b"])
                self.assertEqual((r.returncode, r.stdout.decode()), (0, expected + "\n"), r.stderr)


class RuntimeSearchTest(LinuxCase):
    def chosen(self, exe, env, args=("property:java.home",)):
        r = self.run_app(exe, list(args), env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode().splitlines()[1].split("=", 1)[1]

    def test_search_order(self):
        second = other_runtime()
        if not second:
            print("no second runtime on this machine: the search order is checked with one runtime under two names")
        other = second or JDK17
        exe = self.app()
        # Installed runtimes: the newest within the bounds wins.
        self.installed("java-17-openjdk-amd64", JDK17)
        self.installed("jdk-17-again", JDK17)   # the same runtime again: counted once
        if second:
            self.installed("temurin-25", second)
        trace = os.path.join(self.dir, "trace.log")
        env = self.env(VEDA_LAUNCHER_TRACE=trace)
        self.assertEqual(self.chosen(exe, env), os.path.realpath(other))
        with open(trace) as f:
            text = f.read()
        self.assertIn('reason="the same runtime as one seen before"', text)
        # JAVA_HOME comes before the installed runtimes.
        self.assertEqual(self.chosen(exe, self.env(JAVA_HOME=JDK17)), os.path.realpath(JDK17))
        # A runtime bundled beside the executable wins over JAVA_HOME.
        os.symlink(other, os.path.join(os.path.dirname(exe), "jre"))
        self.assertEqual(self.chosen(exe, self.env(JAVA_HOME=JDK17)), os.path.realpath(other))

    def test_bounds_and_foreign_libraries_are_passed_over(self):
        # A runtime for another processor (an aarch64 library), newer than the real one.
        foreign = os.path.join(self.root, "usr", "lib", "jvm", "jdk-99-aarch64")
        os.makedirs(os.path.join(foreign, "lib", "server"))
        with open(os.path.join(foreign, "lib", "server", "libjvm.so"), "wb") as f:
            f.write(elf_header(183))
        with open(os.path.join(foreign, "release"), "w") as f:
            f.write('JAVA_VERSION="99"\n')
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(runtime={"Minimum Version": "11"}))
        trace = os.path.join(self.dir, "trace.log")
        # JAVA_HOME outside the bounds (an old folder name, no release file) is passed over too.
        old = os.path.join(self.dir, "jdk1.8.0_392")
        os.makedirs(os.path.join(old, "lib", "server"))
        with open(os.path.join(old, "lib", "server", "libjvm.so"), "wb") as f:
            f.write(elf_header(62))
        self.assertEqual(self.chosen(exe, self.env(VEDA_LAUNCHER_TRACE=trace, JAVA_HOME=old)), os.path.realpath(JDK17))
        with open(trace) as f:
            text = f.read()
        self.assertRegex(text, r'rejected place="JAVA_HOME" version="1\.8\.0\.392" reason="outside the version bounds')
        self.assertRegex(text, r'rejected place="[^"]*jdk-99-aarch64/" version="99\.0" reason="its libjvm.so is for a processor')

    def test_java_on_the_search_path(self):
        bin_dir = os.path.join(self.dir, "path-bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.join(JDK17, "bin", "java"), os.path.join(bin_dir, "java"))
        exe = self.app()
        self.assertEqual(self.chosen(exe, self.env(PATH=bin_dir + ":" + self.no_java_path())), os.path.realpath(JDK17))

    def test_no_runtime_within_the_bounds(self):
        self.installed("java-17-openjdk-amd64", JDK17)
        exe = self.app(settings=settings_text(runtime={"Minimum Version": "99"}))
        r = self.run_app(exe, [], env=self.env(JAVA_HOME=JDK17))
        self.assertEqual(r.returncode, 255)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr.decode(), NOT_FOUND % "minimum version 99.0")


class OptionsFileTest(LinuxCase):
    """The options file beside the executable and the user's own."""

    def setUp(self):
        super().setUp()
        self.installed("java-17-openjdk-amd64", JDK17)
        self.config = os.path.join(self.dir, "config")
        self.trace = os.path.join(self.dir, "trace.log")

    def launch(self, exe, args):
        if os.path.exists(self.trace):
            os.remove(self.trace)
        return self.run_app(exe, args, env=self.env(XDG_CONFIG_HOME=self.config, VEDA_LAUNCHER_TRACE=self.trace))

    REFUSED = [("unknown option", ["-XX:+NoSuchOption"], "Unrecognized VM option 'NoSuchOption'"),
               ("impossible heap", ["-Xmx100000g"], "Could not reserve enough space for"),
               ("missing agent", ["-agentpath:/nonexistent/libx.so"], "Could not find agent library /nonexistent/"),
               ("inconsistent pair", ["-Xms2g", "-Xmx1g"], "Initial heap size set to a larger value than the maximum")]

    def test_options_the_runtime_refuses_in_the_users_file_are_left_out_once_with_its_words(self):
        runtimes = [("17", JDK17)] + ([("25", other_runtime())] if other_runtime() else [])
        user = os.path.join(self.config, "MyApp", "MyApp.vmoptions")
        for version, home in runtimes:
            exe = self.app(folder="app" + version, settings=settings_text(runtime={"JRE Path": home}))
            for kind, lines, words in self.REFUSED:
                with self.subTest(runtime=version, kind=kind):
                    write_lines(user, *lines)
                    r = self.launch(exe, ["ran"])
                    err = r.stderr.decode()
                    self.assertEqual(r.returncode, 0, err)
                    self.assertTrue(r.stdout.decode().endswith("main [ran]\n"), r.stdout)
                    self.assertEqual(err.count(LEFT_OUT % user), 1, err)
                    self.assertEqual(err.split(LEFT_OUT % user, 1)[1].count(words), 1, err)
                    # Started again once, never in a loop.
                    self.assertEqual(len(trace_events(self.trace, "start again")), 1)

    def test_options_the_runtime_refuses_in_the_shipped_file_stay_an_error(self):
        exe = self.app()
        write_lines(exe + ".vmoptions", "-XX:+NoSuchOption")
        r = self.launch(exe, ["ran"])
        err = r.stderr.decode()
        self.assertEqual((r.returncode, r.stdout), (255, b""), err)
        self.assertIn("JNI exception: failed to create the Java VM", err)
        self.assertIn("Unrecognized VM option 'NoSuchOption'", err.split("JNI exception", 1)[1])
        self.assertEqual(trace_events(self.trace, "start again"), [])


class RestartTest(LinuxCase):
    def setUp(self):
        super().setUp()
        self.installed("java-17-openjdk-amd64", JDK17)

    def test_the_new_run_has_the_starts_arguments_folder_and_environment_in_the_same_process(self):
        start = os.path.join(self.dir, "start")
        os.makedirs(start)
        for override in ("no", "yes"):
            with self.subTest(override_working_dir=override):
                exe = self.app(folder="app-" + override, settings=settings_text(
                    application={"Restart Exit Code": "23", "Override WorkingDir": override}))
                app_dir = os.path.dirname(exe)
                marker = os.path.join(self.dir, "restarted-" + override)
                args = ["a b", "", "property:user.dir", "env:VEDA_LAUNCHER_AGAIN", "env:VEDA_APP_HOME", "env:PATH",
                        "heap", "vmoptions:-Xmx300m", "restartonce:%s:23" % marker]
                # A relative trace file: each line lands in the working
                # directory of its moment.
                env = self.env(XDG_CONFIG_HOME=os.path.join(self.dir, "config-" + override),
                               VEDA_LAUNCHER_TRACE="trace.log")
                p = subprocess.Popen([exe] + args, env=env, cwd=start, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                out, err = p.communicate(timeout=60)
                self.assertEqual(p.returncode, 0, err)
                main = "main " + " ".join("[%s]" % a for a in args)
                runs = [run.splitlines() for run in out.decode().split(main + "\n")]
                self.assertEqual(len(runs), 3, out)
                first, second = runs[1], runs[2]
                runtime_bin = os.path.join(self.root, "usr/lib/jvm/java-17-openjdk-amd64/bin")
                self.assertEqual(first[:4], ["user.dir=" + (start if override == "no" else app_dir),
                                             "VEDA_LAUNCHER_AGAIN=null", "VEDA_APP_HOME=" + app_dir,
                                             "PATH=%s:%s" % (env["PATH"], runtime_bin)])
                self.assertEqual(second, first[:4] + ["heap 300m"])
                self.assertNotEqual(first[4], "heap 300m")
                traces = {}
                for folder in (start, app_dir):
                    path = os.path.join(folder, "trace.log")
                    if os.path.exists(path):
                        with open(path, encoding="utf-8") as f:
                            traces[folder] = f.read().splitlines()
                        os.remove(path)
                pids = {re.search(r" pid=(\d+) ", line).group(1) for lines in traces.values() for line in lines}
                self.assertEqual(pids, {str(p.pid)})
                # The new run's first line: written in the start's folder.
                again = [folder for folder, lines in traces.items() for line in lines if " start again " in line]
                self.assertEqual(again, [start])

    def test_exit_codes_that_end_the_launch(self):
        # A program that asks for restarts without end is stopped after 5;
        # without the key, or with another code, nothing starts again.
        cases = [({"Restart Exit Code": "23"}, 6, TOO_MANY), ({}, 1, ""), ({"Restart Exit Code": "24"}, 1, "")]
        for n, (application, runs, err) in enumerate(cases):
            with self.subTest(application=application):
                exe = self.app(folder="app%d" % n, settings=settings_text(application=application))
                r = self.run_app(exe, ["exit:23"], timeout=60)
                self.assertEqual((r.returncode, r.stderr.decode()), (23, err))
                self.assertEqual(r.stdout.decode().splitlines(), ["main [exit:23]"] * runs)


class ExecutableTest(unittest.TestCase):
    def test_only_the_c_library_and_no_symbol_newer_than_glibc_2_17(self):
        needed = subprocess.run(["objdump", "-p", LAUNCHER], stdout=subprocess.PIPE, check=True).stdout.decode()
        symbols = subprocess.run(["objdump", "-T", LAUNCHER], stdout=subprocess.PIPE, check=True).stdout.decode()
        # The C library's parts that older versions keep apart must be named,
        # or an older system finds dlopen and the thread functions nowhere.
        libraries = sorted(re.findall(r"NEEDED\s+(\S+)", needed))
        self.assertTrue(set(libraries) <= {"libc.so.6", "libdl.so.2", "libpthread.so.0"}, libraries)
        if re.search(r"\sdlopen$", symbols, re.M):
            self.assertIn("libdl.so.2", libraries)
        if re.search(r"\spthread_create$", symbols, re.M):
            self.assertIn("libpthread.so.0", libraries)
        versions = {tuple(int(n) for n in v.split(".")) for v in re.findall(r"GLIBC_([0-9.]+)", symbols)}
        self.assertTrue(versions)
        self.assertLessEqual(max(versions), (2, 17), sorted(versions))


if __name__ == "__main__":
    unittest.main()
