"""The start-up cache with the real runtimes: Debian's OpenJDK 17 (a class
list, the detached creation of a static archive, then the archive) and a
runtime 25 when the machine has one (a recording run, the detached creation,
then the ahead-of-time cache)."""
import fcntl
import glob
import os
import resource
import shutil
import signal
import subprocess
import time
import unittest
import zipfile

from linux_harness import JDK17, LinuxCase, other_runtime, settings_text

RUNTIME25 = other_runtime()


class StartupCacheCase(LinuxCase):
    def cache_settings(self, home, cache="auto", parameters="", class_path="\\lib\\probe-app.jar", code="C1"):
        runtime = {"JRE Path": home, "Start-up Cache": cache}
        if parameters:
            runtime["Virtual Machine Parameters"] = parameters
        return settings_text(runtime=runtime, class_path=class_path,
                             extra="[Product Information]\nProduct Name=Cache Test\nProduct Code=" + code)

    def folder(self):
        return os.path.join(self.dir, "cache", "Cache Test", "C1", "veda-launcher-cache")

    def traced(self, exe, args=(), **env):
        """A launch with a fresh trace: the result and the trace's cache lines."""
        trace = os.path.join(self.dir, "trace.txt")
        if os.path.exists(trace):
            os.remove(trace)
        r = self.launch(exe, args, VEDA_LAUNCHER_TRACE=trace, **env)
        with open(trace, encoding="utf-8") as f:
            return r, [line for line in f if "startup cache" in line]

    def cache_env(self, **more):
        return self.env(XDG_CACHE_HOME=os.path.join(self.dir, "cache"), **more)

    def recorded(self, timeout=90):
        """The record and the file it names, once no creation is under way."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            busy = [f for f in glob.glob(os.path.join(self.folder(), "*")) if f.endswith((".job", ".aotconf", ".classlist"))]
            records = glob.glob(os.path.join(self.folder(), "*.rec"))
            if records and not busy:
                with open(records[0]) as f:
                    name, size, _ = f.read().split("\n")[:3]
                return records[0], os.path.join(self.folder(), name), int(size)
            time.sleep(0.05)
        self.fail("no cache was recorded in %s: %s" % (self.folder(), os.listdir(self.folder())))

    @staticmethod
    def held(locks):
        """Whether a creator holds the (one) key lock."""
        if len(locks) != 1:
            return False
        with open(locks[0]) as f:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                return True
            fcntl.flock(f, fcntl.LOCK_UN)
            return False

    def runtimes(self):
        found = [("17", JDK17)]
        if RUNTIME25:
            found.append(("25", RUNTIME25))
        else:
            print("\n  skipped the runtime 25 cases: no runtime 25 or later under /usr/lib/jvm")
        return found

    def launch(self, exe, args=(), timeout=60, **env):
        return self.run_app(exe, list(args), env=self.cache_env(**env), timeout=timeout)


class StartupCacheTest(StartupCacheCase):
    def test_the_second_launch_uses_the_cache_and_damage_changes_no_output(self):
        for version, home in self.runtimes():
            with self.subTest(runtime=version):
                self.setUp()
                args = ["x", "stderr:to error"]
                plain = self.run_app(self.app(settings=self.cache_settings(home, cache="no"), folder="plain"), args,
                                     env=self.cache_env())
                self.assertEqual(plain.returncode, 0, plain.stderr)
                exe = self.app(settings=self.cache_settings(home))
                first = self.launch(exe, args)
                self.assertEqual((first.returncode, first.stdout, first.stderr),
                                 (0, plain.stdout, plain.stderr), "the first (recording) launch")
                record, cache, size = self.recorded()
                self.assertEqual(os.path.getsize(cache), size)

                # The runtime's own log shows the program's class coming from the cache.
                # (-Xlog shapes nothing: the key stays.)
                with open(exe + ".ini", "w") as f:
                    f.write(self.cache_settings(home, parameters="-Xlog:class+load=info"))
                used = self.launch(exe, args)
                self.assertIn(b"app.Probe source: shared objects file", used.stdout)
                with open(exe + ".ini", "w") as f:
                    f.write(self.cache_settings(home))

                # A truncated, a corrupted and a stale cache: the output of a run without the setting.
                with open(cache, "rb") as f:
                    whole = f.read()
                for damage in ("truncated", "corrupted", "stale"):
                    os.chmod(cache, 0o644)
                    with open(cache, "wb") as f:
                        if damage == "truncated":
                            f.write(whole[: len(whole) // 2])
                        elif damage == "corrupted":
                            f.write(whole[:4096] + bytes(b ^ 0x5A for b in whole[4096:8192]) + whole[8192:])
                        else:
                            f.write(whole)
                    if damage == "stale":
                        jar = os.path.join(os.path.dirname(exe), "lib", "probe-app.jar")
                        os.utime(jar, (time.time() + 10, time.time() + 10))
                    r = self.launch(exe, args)
                    self.assertEqual((r.returncode, r.stdout, r.stderr), (0, plain.stdout, plain.stderr), damage)
                    record, cache, size = self.recorded()
                    with open(cache, "rb") as f:
                        whole = f.read()
                # Broken-off files are gone: each key (the stale one's is
                # kept) has its record, the cache it names and its lock.
                named = []
                for name in glob.glob(os.path.join(self.folder(), "*.rec")):
                    with open(name) as f:
                        named += [os.path.basename(name), f.read().split("\n")[0], os.path.basename(name)[:16] + ".lock"]
                self.assertEqual(len(named), 6)
                self.assertEqual(sorted(os.listdir(self.folder())), sorted(named))

    def test_two_concurrent_first_launches_leave_one_valid_cache(self):
        for version, home in self.runtimes():
            with self.subTest(runtime=version):
                self.setUp()
                exe = self.app(settings=self.cache_settings(home))
                env = self.cache_env()
                both = [subprocess.Popen([exe, "wait:200"], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                        for _ in range(2)]
                for p in both:
                    out, err = p.communicate(timeout=120)
                    self.assertEqual(p.returncode, 0, err)
                record, cache, size = self.recorded()
                self.assertEqual(os.path.getsize(cache), size)
                self.assertEqual(len(os.listdir(self.folder())), 3, os.listdir(self.folder()))
                trace = os.path.join(self.dir, "trace.txt")
                self.assertEqual(self.launch(exe, VEDA_LAUNCHER_TRACE=trace).returncode, 0)
                with open(trace, encoding="utf-8") as f:
                    self.assertIn('reason="a valid', f.read())

    def test_every_exit_path_writes_the_archive(self):
        # System.exit on 25 passes through the launcher's watch for its code.
        for how, home in [("exit", home) for _, home in self.runtimes()] + [("signal", JDK17)]:
            with self.subTest(how=how, runtime=home):
                self.setUp()
                exe = self.app(settings=self.cache_settings(home))
                ready = os.path.join(self.dir, "ready")
                if how == "exit":
                    # The java command's own options would end the creation.
                    r = self.launch(exe, ["exit:3"], JDK_JAVA_OPTIONS="--limit-modules=java.base")
                    self.assertEqual(r.returncode, 3)
                else:
                    p = subprocess.Popen([exe, "ready:" + ready, "wait:60000"], env=self.cache_env(),
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertTrue(self.wait_for_file(ready))
                    p.send_signal(signal.SIGTERM)
                    p.communicate(timeout=60)
                    self.assertEqual(p.returncode, 143)
                record, cache, size = self.recorded()
                self.assertEqual(os.path.getsize(cache), size)

    def test_a_running_recording_keeps_its_list_while_another_launch_creates(self):
        exe = self.app(settings=self.cache_settings(JDK17))
        ready = os.path.join(self.dir, "ready")
        running = subprocess.Popen([exe, "ready:" + ready, "wait:60000"], env=self.cache_env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(running.kill)
        self.assertTrue(self.wait_for_file(ready))
        self.assertEqual(self.launch(exe).returncode, 0)
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            names = os.listdir(self.folder())
            if any(n.endswith(".rec") for n in names) and not any(n.endswith(".job") for n in names):
                break
            time.sleep(0.05)
        self.assertIn("-%d.classlist" % running.pid, " ".join(names))
        running.send_signal(signal.SIGTERM)
        running.communicate(timeout=60)
        record, cache, size = self.recorded()
        self.assertEqual(len(os.listdir(self.folder())), 3, os.listdir(self.folder()))

    def test_a_creation_that_fails_is_not_tried_again(self):
        home = os.path.join(self.dir, "runtime")
        os.makedirs(os.path.join(home, "bin"))
        for name in ("lib", "release", "conf"):
            os.symlink(os.path.join(JDK17, name), os.path.join(home, name))
        with open(os.path.join(home, "bin", "java"), "w") as f:
            f.write("#!/bin/sh\nexit 1\n")
        os.chmod(os.path.join(home, "bin", "java"), 0o755)
        exe = self.app(settings=self.cache_settings(home))
        self.assertEqual(self.launch(exe).returncode, 0)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            names = sorted(os.listdir(self.folder()), key=lambda n: os.path.splitext(n)[1])
            if [os.path.splitext(n)[1] for n in names] == [".failed", ".lock"]:
                break
            time.sleep(0.05)
        self.assertEqual([os.path.splitext(n)[1] for n in names], [".failed", ".lock"], names)
        trace = os.path.join(self.dir, "trace.txt")
        r = self.launch(exe, VEDA_LAUNCHER_TRACE=trace)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        with open(trace, encoding="utf-8") as f:
            text = f.read()
        self.assertIn('reason="no valid cache, and its creation failed before"', text)
        self.assertNotIn("-XX:", text)
        # After a while a launch records again, in case the cause has gone.
        with open(os.path.join(self.folder(), names[0]), "w") as f:
            f.write("1\n" + "." * 62)
        os.remove(trace)
        self.assertEqual(self.launch(exe, VEDA_LAUNCHER_TRACE=trace).returncode, 0)
        with open(trace, encoding="utf-8") as f:
            self.assertIn('decision="list the classes for an archive"', f.read())

    def test_a_folder_on_the_class_path_and_an_unwritable_cache_add_nothing(self):
        exe = self.app(settings=self.cache_settings(JDK17, class_path="\\lib\\probe-app.jar;\\classes"))
        os.makedirs(os.path.join(os.path.dirname(exe), "classes", "x"))
        trace = os.path.join(self.dir, "trace.txt")
        r = self.launch(exe, VEDA_LAUNCHER_TRACE=trace)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(trace, encoding="utf-8") as f:
            text = f.read()
        self.assertIn('reason="a non-empty folder on the class or module path (or named by a jar) cannot be archived"', text)
        self.assertNotIn("-XX:", text)

        # A cache folder that cannot be made: no cache, one trace line, the same output.
        exe = self.app(settings=self.cache_settings(JDK17), folder="other")
        blocked = os.path.join(self.dir, "not-a-folder")
        open(blocked, "w").close()
        os.remove(trace)
        r = self.run_app(exe, env=self.env(XDG_CACHE_HOME=blocked, VEDA_LAUNCHER_TRACE=trace))
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(r.stdout, b"main\n")
        with open(trace, encoding="utf-8") as f:
            lines = [l for l in f if "startup cache" in l]
        self.assertEqual(len(lines), 1, lines)
        self.assertIn('reason="the cache folder cannot be written"', lines[0])

    def test_the_cache_keeps_to_a_folder_of_its_own_and_deletes_nothing_else(self):
        cache = os.path.join(self.dir, "cache")
        product = os.path.join(cache, "Cache Test", "C1")
        os.makedirs(product)
        # The product's own data, beside and above the cache's folder, even
        # under names like the cache's.
        theirs = [os.path.join(product, "appdata.db"), os.path.join(product, "0123456789abcdef.rec"),
                  os.path.join(cache, "Cache Test", "app.log"), os.path.join(cache, "other-app.cache")]
        for path in theirs:
            with open(path, "w") as f:
                f.write("theirs\n")
        exe = self.app(settings=self.cache_settings(JDK17))
        self.assertEqual(self.launch(exe).returncode, 0)
        self.recorded()
        # Older keys go: a stale jar makes a new one.
        jar = os.path.join(os.path.dirname(exe), "lib", "probe-app.jar")
        os.utime(jar, (time.time() + 10, time.time() + 10))
        self.assertEqual(self.launch(exe).returncode, 0)
        self.recorded()
        self.assertEqual([p for p in theirs if not os.path.exists(p)], [])
        self.assertEqual(os.stat(self.folder()).st_mode & 0o777, 0o700)

        # A product code that would leave the product's folder: no cache, nothing touched.
        with open(exe + ".ini", "w") as f:
            f.write(self.cache_settings(JDK17, code="../.."))
        r, lines = self.traced(exe)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        self.assertIn('reason="the product\'s name or code is not a single folder name"', lines[0])
        self.assertEqual([p for p in theirs if not os.path.exists(p)], [])

    def test_a_folder_others_may_write_to_and_a_pipe_in_a_files_place_are_not_used(self):
        exe = self.app(settings=self.cache_settings(JDK17))
        os.makedirs(self.folder())
        os.chmod(self.folder(), 0o770)
        r, lines = self.traced(exe)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        self.assertIn('reason="the cache folder is not this user\'s own, or others may write to it"', lines[0])
        self.assertEqual(os.listdir(self.folder()), [])

        # A pipe named like the key's record would hold the launch before the program starts.
        os.chmod(self.folder(), 0o700)
        key = lines[0].split('key="')[1][:16]
        os.mkfifo(os.path.join(self.folder(), key + ".rec"))
        r, lines = self.traced(exe)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        self.assertIn('reason="a file of this key in the cache folder is not this user\'s own"', lines[0])

    def test_the_recording_launch_does_not_wait_for_the_creation(self):
        home = os.path.join(self.dir, "runtime")
        os.makedirs(os.path.join(home, "bin"))
        for name in ("lib", "release", "conf"):
            os.symlink(os.path.join(JDK17, name), os.path.join(home, name))
        stop = os.path.join(self.dir, "stop")
        self.addCleanup(open, stop, "w")
        # A creator that takes a minute, unless the case ends first.
        with open(os.path.join(home, "bin", "java"), "w") as f:
            f.write("#!/bin/sh\ni=0\nwhile [ ! -e '%s' ] && [ $i -lt 1200 ]; do /bin/sleep 0.05; i=$((i+1)); done\nexit 1\n"
                    % stop)
        os.chmod(os.path.join(home, "bin", "java"), 0o755)
        exe = self.app(settings=self.cache_settings(home))
        # (A launch that waits for its creator runs into the time-out.)
        r = self.launch(exe, timeout=20)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not self.held(glob.glob(os.path.join(self.folder(), "*.lock"))):
            time.sleep(0.02)
        # While it holds the key, other launches neither record nor create.
        r, lines = self.traced(exe)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        self.assertIn('reason="no valid cache, and another launch\'s creation of it is under way"', lines[0])

    def test_two_programs_sharing_the_folder_keep_their_caches(self):
        programs = [self.app(settings=self.cache_settings(JDK17)), self.app(settings=self.cache_settings(JDK17), folder="b")]
        for exe in programs:
            self.assertEqual(self.launch(exe).returncode, 0)
            self.recorded()
        for exe in programs + programs:
            r, lines = self.traced(exe)
            self.assertIn('decision="use the archive"', lines[0])

    def test_the_key_sees_a_jar_a_manifest_names_and_a_copy_that_keeps_the_time(self):
        exe = self.app(settings=self.cache_settings(JDK17, class_path="\\lib\\wrapper.jar"))
        lib = os.path.join(os.path.dirname(exe), "lib")
        with zipfile.ZipFile(os.path.join(lib, "wrapper.jar"), "w") as jar:
            jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nClass-Path: probe-app.jar\r\n\r\n")
        for jar in ("probe-app.jar", "wrapper.jar"):
            with self.subTest(replaced=jar):
                self.assertEqual(self.launch(exe).returncode, 0)
                self.recorded()
                r, lines = self.traced(exe)
                self.assertIn('decision="use the archive"', lines[0])
                # Replaced as "cp -p" does: the same size and modification time.
                path = os.path.join(lib, jar)
                shutil.copy2(path, path + ".new")
                os.replace(path + ".new", path)
                r, lines = self.traced(exe)
                self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
                self.assertIn('decision="list the classes for an archive"', lines[0])

    @unittest.skipUnless(RUNTIME25, "no runtime 25 or later under /usr/lib/jvm")
    def test_a_recording_launch_ends_with_the_programs_exit_code(self):
        # A jar whose manifest names a folder of classes: the runtime would
        # refuse the recording at the end.
        exe = self.app(settings=self.cache_settings(RUNTIME25, class_path="\\lib\\wrapper.jar"))
        lib = os.path.join(os.path.dirname(exe), "lib")
        with zipfile.ZipFile(os.path.join(lib, "probe-app.jar")) as jar:
            jar.extractall(os.path.join(lib, "conf"), [n for n in jar.namelist() if n.startswith("app/")])
        with zipfile.ZipFile(os.path.join(lib, "wrapper.jar"), "w") as jar:
            jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nClass-Path: conf/\r\n\r\n")
        r, lines = self.traced(exe)
        self.assertEqual((r.returncode, r.stdout), (0, b"main\n"))
        self.assertIn("(or named by a jar) cannot be archived", lines[0])

        # A recording the runtime cannot write (a file size limit, as a full
        # disk): the runtime aborts, the launch still ends with main's code.
        exe = self.app(settings=self.cache_settings(RUNTIME25), folder="limited")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (2 << 20, 2 << 20))
        r = self.run_app(exe, env=self.cache_env(), preexec_fn=limit)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"main\n", b""))
        self.assertEqual([os.path.splitext(n)[1] for n in os.listdir(self.folder())], [".failed"])
        # The same through System.exit, where the runtime aborts before it
        # ends with the program's code.
        shutil.rmtree(self.folder())
        r = self.run_app(exe, ["exit:5"], env=self.cache_env(), preexec_fn=limit)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (5, b"main [exit:5]\n", b""))
        self.assertEqual([os.path.splitext(n)[1] for n in os.listdir(self.folder())], [".failed"])

    @unittest.skipUnless(RUNTIME25, "no runtime 25 or later under /usr/lib/jvm")
    def test_a_recording_launch_leaves_out_only_the_caches_own_lines(self):
        exe = self.app(settings=self.cache_settings(RUNTIME25))
        r, lines = self.traced(exe, ["stderr:mine"])
        self.assertIn('decision="record for an ahead-of-time cache"', lines[0])
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"main [stderr:mine]\n", b"mine\n"))
        # The runtime's own words on a recording launch reach the user.
        exe = self.app(settings=self.cache_settings(RUNTIME25, parameters="-Xmx100000g"), folder="heap")
        r, lines = self.traced(exe)
        self.assertIn('decision="record for an ahead-of-time cache"', lines[0])
        self.assertEqual(r.returncode, 255)
        self.assertIn(b"Could not reserve enough space", r.stdout + r.stderr)


if __name__ == "__main__":
    unittest.main()
