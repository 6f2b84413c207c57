"""The Linux start-up benchmark (see bench/startup-linux.sh)."""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCHER = os.path.join(REPO, "dist", "linux-x64", "launcher")
PROGRAMS = os.path.join(REPO, "build", "linux", "bench", "linux")
JDK17 = os.environ.get("JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64")


def runtimes():
    found = [JDK17]
    root = "/usr/lib/jvm"
    seen = {os.path.realpath(JDK17)}
    for name in sorted(os.listdir(root)):
        home = os.path.join(root, name)
        real = os.path.realpath(home)
        if real in seen or not os.path.isfile(os.path.join(home, "release")):
            continue
        seen.add(real)
        with open(os.path.join(home, "release")) as f:
            version = next((l.split("=", 1)[1].strip().strip('"') for l in f if l.startswith("JAVA_VERSION=")), "")
        if version.split(".")[0].isdigit() and int(version.split(".")[0]) >= 25:
            found.append(home)
    return found


def timed(command, env):
    """Milliseconds from the start to main, to the window's first paint (when
    the program prints one) and to the end of the process."""
    start = time.time_ns()
    out = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True).stdout
    end = time.time_ns()
    marks = dict(line.split() for line in out.decode().splitlines() if len(line.split()) == 2)
    shown = (int(marks["shown"]) * 1000 - start) / 1e6 if "shown" in marks else None
    return {"main": (int(marks["main"]) * 1000 - start) / 1e6, "shown": shown, "whole": (end - start) / 1e6}


def summary(values):
    return "%7.1f ms (%.1f-%.1f)" % (statistics.median(values), min(values), max(values))


def free_display():
    for number in range(90, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            return number
    sys.exit("startup_linux: no free display number")


def start_xvfb():
    number = free_display()
    server = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not os.path.exists("/tmp/.X11-unix/X%d" % number):
        if time.monotonic() > deadline or server.poll() is not None:
            server.kill()
            sys.exit("startup_linux: Xvfb did not start")
        time.sleep(0.05)
    return server, ":%d" % number


class App:
    """The launcher copied in under the program's name, with its settings."""

    def __init__(self, work, name, home, jar, main, cache):
        folder = os.path.join(work, name)
        os.makedirs(folder)
        self.exe = os.path.join(folder, main)
        shutil.copy2(LAUNCHER, self.exe)
        self.cache = os.path.join(work, name + "-cache")
        with open(self.exe + ".ini", "w") as f:
            f.write("[Java Runtime Environment]\nMain Class=%s\nJRE Path=%s\nStart-up Cache=%s\n"
                    "[Class Path]\nClass Path=%s\n[Product Information]\nProduct Name=Bench\nProduct Code=%s\n"
                    % (main, home, "auto" if cache else "no", jar, name))

    def env(self, base):
        return dict(base, XDG_CACHE_HOME=self.cache)

    def settled(self, timeout=120):
        """Waits until a cache is recorded and no creation runs."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            files = glob.glob(os.path.join(self.cache, "**", "*"), recursive=True)
            if any(f.endswith(".rec") for f in files) and not any(f.endswith((".job", ".aotconf", ".classlist")) for f in files):
                return
            time.sleep(0.05)
        sys.exit("startup_linux: no cache was recorded in %s" % self.cache)


def compare(work, home, program, runs, env, label):
    jar = os.path.join(PROGRAMS, program + ".jar")
    tag = os.path.basename(home) + "-" + program
    cached = App(work, tag + "-cached", home, jar, program, True)
    plain = App(work, tag + "-plain", home, jar, program, False)
    java = [os.path.join(home, "bin", "java"), "-cp", jar, program]
    recording = App(work, tag + "-recording", home, jar, program, True)

    # One round: each of the four once, in a rotating order. The recording
    # launch starts from an empty cache; the creation it leaves behind is
    # waited for outside the timings.
    names = ("cache", "plain", "java", "recording")
    results = {name: {"main": [], "shown": [], "whole": []} for name in names}
    commands = {"cache": ([cached.exe], cached.env(env)), "plain": ([plain.exe], plain.env(env)),
                "java": (java, env), "recording": ([recording.exe], recording.env(env))}
    timed([cached.exe], cached.env(env))
    cached.settled()
    for i in range(runs + 1):
        for name in names[i % 4:] + names[:i % 4]:
            if name == "recording":
                shutil.rmtree(recording.cache, ignore_errors=True)
            t = timed(*commands[name])
            if name == "recording":
                recording.settled()
            if i:  # the first round warms the file caches
                for what, value in t.items():
                    results[name][what].append(value)
    recording = results.pop("recording")

    print("\nruntime %s, %s" % (os.path.realpath(home), label))
    whats = [("main", "start to main"), ("shown", "first window"), ("whole", "whole run")]
    for what, text in whats:
        if results["java"][what][0] is None:
            continue
        base = statistics.median(results["java"][what])
        print("  %-14s" % text)
        for name, title in (("cache", "launcher, Start-up Cache=auto"), ("plain", "launcher, no cache"),
                            ("java", "java -cp")):
            values = results[name][what]
            print("    %-31s %s   %+6.1f %% against java" % (title, summary(values),
                                                               100 * (statistics.median(values) / base - 1)))
        values = recording[what]
        print("    %-31s %s   %+6.1f %% against java" % ("launcher, recording launch", summary(values),
                                                           100 * (statistics.median(values) / base - 1)))
    if results["java"]["shown"][0] is not None:
        tail = [w - s for w, s in zip(recording["whole"], recording["shown"])]
        plain_tail = [w - s for w, s in zip(results["plain"]["whole"], results["plain"]["shown"])]
        print("  recording launch's extra time at exit: %.1f ms (window to end %s against %s without the cache)"
              % (statistics.median(tail) - statistics.median(plain_tail), summary(tail), summary(plain_tail)))


def paired(work, home, program, pairs, env, label):
    """The launcher against java, in pairs (which one goes first alternates):
    with a valid cache, and a recording launch (from an empty cache, its
    creation waited for outside the timings); each pair's ratio, their median
    and how many pairs the launcher won. One run says something on a busy
    machine."""
    jar = os.path.join(PROGRAMS, program + ".jar")
    tag = os.path.basename(home) + "-" + program
    cached = App(work, tag + "-paired", home, jar, program, True)
    recording = App(work, tag + "-paired-recording", home, jar, program, True)
    java = [os.path.join(home, "bin", "java"), "-cp", jar, program]
    timed([cached.exe], cached.env(env))
    cached.settled()
    timed([cached.exe], cached.env(env))  # warms the file caches
    what = "shown" if program != "Trivial" else "main"

    def record():
        shutil.rmtree(recording.cache, ignore_errors=True)
        t = timed([recording.exe], recording.env(env))
        recording.settled()
        return t

    print("\nruntime %s, %s, %s against java, %d pairs" % (os.path.realpath(home), label,
                                                      "first window" if what == "shown" else "start to main", pairs))
    for title, launch in (("launcher with the cache", lambda: timed([cached.exe], cached.env(env))),
                          ("recording launch", record)):
        ratios = []
        for i in range(pairs):
            if i % 2:
                b = timed(java, env)[what]
                a = launch()[what]
            else:
                a = launch()[what]
                b = timed(java, env)[what]
            ratios.append(a / b)
        faster = sum(1 for r in ratios if r < 1)
        print("  %-24s median ratio %.3f (%.3f-%.3f); the launcher faster in %d of %d pairs"
              % (title, statistics.median(ratios), min(ratios), max(ratios), faster, pairs))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--paired":
        return main_paired(int(sys.argv[2]) if len(sys.argv) > 2 else 31)
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 21
    for needed in (LAUNCHER, os.path.join(PROGRAMS, "Trivial.jar"), os.path.join(PROGRAMS, "SwingSample.jar")):
        if not os.path.isfile(needed):
            sys.exit("startup_linux: build the linux preset first (%s)" % needed)
    work = tempfile.mkdtemp(prefix="bench-linux-")
    server, display = start_xvfb()
    try:
        env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "VEDA_LAUNCHER_TRACE", "JAVA_TOOL_OPTIONS")}
        env["DISPLAY"] = display
        print("runs: %d of each, alternated; medians (lowest-highest); Xvfb on %s" % (runs, display))
        for home in runtimes():
            compare(work, home, "Trivial", runs, env, "the trivial program")
            compare(work, home, "SwingSample", runs, env, "the Swing program (300 components, a menu, a table)")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


def main_paired(pairs):
    for needed in (LAUNCHER, os.path.join(PROGRAMS, "SwingSample.jar")):
        if not os.path.isfile(needed):
            sys.exit("startup_linux: build the linux preset first (%s)" % needed)
    work = tempfile.mkdtemp(prefix="bench-linux-")
    server, display = start_xvfb()
    try:
        env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "VEDA_LAUNCHER_TRACE", "JAVA_TOOL_OPTIONS")}
        env["DISPLAY"] = display
        for home in runtimes():
            paired(work, home, "SwingSample", pairs, env, "the Swing program")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
