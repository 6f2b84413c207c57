"""Single instance with the real launcher and the real runtime: the hand-over
in both forms, the answer as exit code, a first instance that ends while
answering, a stale socket taken over, and many launches at once."""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from linux_harness import JDK17, SLOW_START, LinuxCase, settings_text

ODD_ARGUMENTS = ["with space", "grüße ✓ 日本"]


def socket_name(executable, product_code=""):
    """The socket's file name: FNV-1a (64 bits) of the real path, a zero byte and the Product Code."""
    hash_ = 0xcbf29ce484222325
    for byte in os.fsencode(os.path.realpath(executable)) + b"\0" + product_code.encode("utf-8"):
        hash_ = ((hash_ ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "si-%016x.sock" % hash_


class SingleInstanceCase(LinuxCase):
    def setUp(self):
        super().setUp()
        self.runtime_dir = tempfile.mkdtemp(prefix="xdg-", dir=self.dir)  # mode 0700
        # The user's folder under the case's stand-in for the system's root.
        self.folder = os.path.join(self.root, "tmp", "veda-launcher-%d" % os.geteuid())
        self.log = os.path.join(self.dir, "single.log")
        self.ready = os.path.join(self.dir, "ready")
        self.stop = os.path.join(self.dir, "stop")
        self.started = []
        self.addCleanup(self.end_all)

    def end_all(self):
        open(self.stop, "w").close()
        for process in self.started:
            try:
                process.communicate(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()

    def single_app(self, main):
        return self.app(settings=settings_text(main=main, application={"Single Instance": "yes"}))

    def launch(self, exe, args, env):
        process = subprocess.Popen([exe] + list(args), env=env, cwd=self.dir, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.started.append(process)
        return process

    def first_args(self, *extra):
        return ["log:" + self.log, "ready:" + self.ready, "stop:" + self.stop] + list(extra)

    def wait_until_ready(self, processes, ready):
        """Polls for the ready file; fails at once when every process has ended."""
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if time.monotonic() > deadline or all(p.poll() is not None for p in processes):
                for p in processes:
                    p.kill()
                self.fail("no first instance's main started: %r" % ([p.communicate() for p in processes],))
            time.sleep(0.02)

    def start_first(self, exe, env, ready=None):
        ready = ready or self.ready
        first = self.launch(exe, ["log:" + self.log, "ready:" + ready, "stop:" + self.stop], env)
        self.wait_until_ready([first], ready)
        return first

    def second(self, exe, args, env, code):
        done = self.run_app(exe, args, env=env, timeout=30)
        self.assertEqual(done.returncode, code, done.stderr.decode(errors="replace"))

    def log_lines(self, kind="secondary", count=1):
        deadline = time.monotonic() + 20
        while True:
            lines = []
            if os.path.exists(self.log):
                with open(self.log, encoding="utf-8") as f:
                    lines = [line.rstrip("\n") for line in f if line.startswith(kind + " ")]
            if len(lines) >= count or time.monotonic() > deadline:
                return lines
            time.sleep(0.02)

    def stop_first(self, first, code=0):
        open(self.stop, "w").close()
        self.assertEqual(first.wait(timeout=30), code)

    def test_void_form_hands_arguments_over_through_the_folder_under_tmp_whatever_the_session_says(self):
        exe = self.single_app("app.SingleVoid")
        # A launch from cron or su has no runtime folder; one from the
        # desktop has it: both meet in the same place.
        first = self.start_first(exe, self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=None))
        env = self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=self.runtime_dir)
        socket_path = os.path.join(self.folder, socket_name(exe))
        self.assertTrue(os.path.exists(socket_path))
        self.assertEqual(os.listdir(self.runtime_dir), [])
        self.assertEqual(os.lstat(self.folder).st_mode & 0o777, 0o700)
        self.second(exe, ODD_ARGUMENTS, env, 0)
        self.assertEqual(self.log_lines(), ["secondary 2 [with space] [grüße ✓ 日本]"])
        self.stop_first(first)
        # The teardown removes the socket.
        self.assertFalse(os.path.exists(socket_path))

    def test_int_form_answers_with_the_exit_code_and_never_with_success_when_the_first_instance_ends(self):
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=self.runtime_dir)
        first = self.start_first(exe, env)
        self.assertTrue(os.path.exists(os.path.join(self.folder, socket_name(exe))))
        self.second(exe, ["answer:7"] + ODD_ARGUMENTS, env, 7)
        # secondaryMain halts the first instance before it answers: -1.
        self.second(exe, ["halt:5"], env, 255)
        self.assertEqual(first.wait(timeout=30), 5)
        self.assertEqual(self.log_lines(count=2),
                         ["secondary 3 [answer:7] [with space] [grüße ✓ 日本]", "secondary 1 [halt:5]"])

    def test_stale_socket_of_a_killed_first_instance_is_taken_over(self):
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=self.runtime_dir)
        crashed = self.start_first(exe, env)
        crashed.send_signal(signal.SIGKILL)
        crashed.wait(timeout=30)
        socket_path = os.path.join(self.folder, socket_name(exe))
        self.assertTrue(os.path.exists(socket_path), "the killed instance leaves its socket")
        first = self.start_first(exe, env, ready=self.ready + "2")
        self.assertEqual(len(self.log_lines("main", 2)), 2)
        self.second(exe, ["answer:9"], env, 9)
        self.assertEqual(self.log_lines(), ["secondary 1 [answer:9]"])
        self.stop_first(first)

    def test_a_removed_socket_file_is_made_again_by_the_first_instance(self):
        exe = self.single_app("app.SingleInt")
        trace = os.path.join(self.dir, "trace.log")
        env = self.env(JAVA_HOME=JDK17, VEDA_LAUNCHER_TRACE=trace)
        first = self.start_first(exe, env)
        socket_path = os.path.join(self.folder, socket_name(exe))
        os.remove(socket_path)  # a temp cleaner
        start = time.monotonic()
        self.second(exe, ["answer:4"], env, 4)
        self.assertLess(time.monotonic() - start, 5)
        with open(trace, encoding="utf-8") as f:
            self.assertIn('restored="yes"', f.read())
        self.stop_first(first)

    def test_a_launch_that_cannot_reach_the_first_instance_says_why_at_once(self):
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17)
        first = self.start_first(exe, env)
        # A first instance that cannot make its socket again (stopped here):
        # its lock still says it lives.
        first.send_signal(signal.SIGSTOP)
        self.addCleanup(first.send_signal, signal.SIGCONT)
        deadline = time.monotonic() + 10
        while True:
            with open("/proc/%d/stat" % first.pid) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "T":
                    break
            self.assertLess(time.monotonic(), deadline, "the first instance did not stop")
            time.sleep(0.01)
        os.remove(os.path.join(self.folder, socket_name(exe)))
        start = time.monotonic()
        done = self.run_app(exe, ["answer:4"], env=env, timeout=30)
        self.assertEqual(done.returncode, 255)
        self.assertIn(b"cannot be reached", done.stderr)
        self.assertLess(time.monotonic() - start, 8)
        first.send_signal(signal.SIGCONT)
        self.stop_first(first)

    def test_a_folder_others_may_enter_receives_no_socket(self):
        exe = self.single_app("app.SingleInt")
        os.makedirs(self.folder)
        os.chmod(self.folder, 0o755)
        trace = os.path.join(self.dir, "trace.log")
        first = self.start_first(exe, self.env(JAVA_HOME=JDK17, VEDA_LAUNCHER_TRACE=trace))
        self.assertEqual(os.listdir(self.folder), [])
        with open(trace, encoding="utf-8") as f:
            self.assertIn('reason="no private folder to meet in"', f.read())
        self.stop_first(first)

    def test_the_ending_first_instance_removes_its_socket_before_it_lets_go_of_the_lock(self):
        # Its removal slowed: a launch waiting meanwhile becomes the next
        # first instance only once the old socket file is gone, so its own
        # socket is never removed under it.
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17)
        strace = shutil.which("strace")
        if not strace:
            self.skipTest("no strace")
        slowed = [strace, "-f", "-qq", "--seccomp-bpf", "-o", "/dev/null", "-e", "trace=unlink",
                  "-e", "inject=unlink:delay_enter=1500000"]
        ending = subprocess.Popen(slowed + [exe] + self.first_args(), env=env, cwd=self.dir,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.started.append(ending)
        self.wait_until_ready([ending], self.ready)
        trace = os.path.join(self.dir, "trace.log")
        socket_path = os.path.join(self.folder, socket_name(exe))
        open(self.stop, "w").close()
        # Once its listener is closed, the next launch waits for the lock.
        deadline = time.monotonic() + 30
        while self.connections(socket_path) > 0:
            self.assertLess(time.monotonic(), deadline, "the first instance did not end")
            time.sleep(0.01)
        ready = self.ready + "2"
        waiting = self.launch(exe, ["log:" + self.log, "ready:" + ready, "stop:" + self.stop + "2"],
                              dict(env, VEDA_LAUNCHER_TRACE=trace))
        self.assertEqual(ending.wait(timeout=60), 0)
        self.wait_until_ready([waiting], ready)
        self.second(exe, ["answer:9"], env, 9)
        with open(trace, encoding="utf-8") as f:
            self.assertNotIn("restored=", f.read())
        open(self.stop + "2", "w").close()
        self.assertEqual(waiting.wait(timeout=30), 0)

    def test_a_document_handed_over_while_the_first_instance_restarts_reaches_the_new_run(self):
        exe = self.app(settings=settings_text(main="app.SingleInt", application={
            "Single Instance": "yes", "Restart Exit Code": "23"}))
        trace = os.path.join(self.dir, "trace.log")
        env = self.env(JAVA_HOME=JDK17)
        # The new start held back before and after it: the document's launch
        # comes while the ending run goes, and the new run is slow to set up.
        trigger = os.path.join(self.dir, "restart")
        first_args = self.first_args("restart:%s:23" % trigger)
        first = self.launch(exe, first_args, dict(env, LD_PRELOAD=SLOW_START, VEDA_LAUNCHER_TRACE=trace))
        self.wait_until_ready([first], self.ready)
        os.remove(self.ready)
        open(trigger, "w").close()
        deadline = time.monotonic() + 30
        while not self.read(trace).count('result="started again"'):
            self.assertLess(time.monotonic(), deadline, "the program did not ask for a restart")
            time.sleep(0.01)
        document = ["log:" + self.log, "document.txt", "answer:5"]
        done = self.run_app(exe, document, env=env, timeout=30)
        self.wait_until_ready([first], self.ready)
        # The ending run had run its last Java code before the document's
        # launch began: a hand-over can only reach the new run. Never lost,
        # never a second first instance.
        self.maxDiff = None
        self.assertEqual((done.returncode, self.log_lines("main", 2), self.log_lines()),
                         (5, ["main 4 " + " ".join("[%s]" % a for a in first_args)] * 2,
                          ["secondary 3 " + " ".join("[%s]" % a for a in document)]), done.stderr)
        self.assertNotIn("restored=", self.read(trace), "the ending run made its socket again")
        self.stop_first(first)

    @staticmethod
    def read(path):
        with open(path if os.path.exists(path) else os.devnull, encoding="utf-8") as f:
            return f.read()

    def connections(self, socket_path):
        """Sockets bound to the path: the listener and the connections it accepted."""
        with open("/proc/net/unix") as f:
            return sum(1 for line in f if line.rstrip("\n").endswith(" " + socket_path))

    def test_launches_waiting_when_the_first_instance_ends_before_main_are_not_lost(self):
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=self.runtime_dir)
        held = self.launch(exe, self.first_args(), dict(env, SINGLE_HOLD=os.path.join(self.dir, "never")))
        socket_path = os.path.join(self.folder, socket_name(exe))
        self.assertTrue(self.wait_for_file(socket_path))
        waiting = {n: self.launch(exe, self.first_args("answer:%d" % n), env) for n in range(1, 6)}
        deadline = time.monotonic() + 20
        while self.connections(socket_path) < 6:
            self.assertLess(time.monotonic(), deadline, "the launches did not connect")
            time.sleep(0.02)
        held.kill()
        held.wait(timeout=30)
        # One of them becomes the first instance; the others hand over to it.
        self.wait_until_ready(list(waiting.values()), self.ready)
        mains = self.log_lines("main")
        self.assertEqual(len(mains), 1, mains)
        new_first = next(n for n in waiting if "[answer:%d]" % n in mains[0])
        for n, process in waiting.items():
            if n != new_first:
                self.assertEqual(process.wait(timeout=30), n)
        self.assertEqual(len(self.log_lines(count=4)), 4)
        self.stop_first(waiting[new_first])

    def test_load_every_argument_list_arrives_once_and_whole(self):
        exe = self.single_app("app.SingleInt")
        env = self.env(JAVA_HOME=JDK17, XDG_RUNTIME_DIR=self.runtime_dir)

        def args(n):
            return self.first_args("id:%d" % n, "answer:%d" % (n + 1), "sp ace %d" % n, "ü✓%d" % n)

        # The first instance and a burst of 10 together: one of them wins.
        burst = {n: self.launch(exe, args(n), env) for n in range(11)}
        self.wait_until_ready(list(burst.values()), self.ready)
        start = time.monotonic()
        load = {n: self.launch(exe, args(n), env) for n in range(11, 61)}
        mains = self.log_lines("main")
        self.assertEqual(len(mains), 1, mains)
        first_id = next(n for n in burst if "[id:%d]" % n in mains[0])
        for n, process in list(burst.items()) + list(load.items()):
            if n == first_id:
                continue
            code = process.wait(timeout=60)
            self.assertEqual(code, (n + 1) & 0xFF, "launch %d: %r" % (n, process.communicate()))
        elapsed = time.monotonic() - start
        lines = self.log_lines(count=60)
        expected = {" ".join(["secondary 7"] + ["[%s]" % a for a in args(n)]) for n in range(61) if n != first_id}
        self.assertEqual(len(lines), 60)
        self.assertEqual(set(lines), expected)
        print("\nload: 50 launches answered in %.2f s after the burst of 10" % elapsed)
        self.stop_first(burst[first_id])


if __name__ == "__main__":
    unittest.main()
