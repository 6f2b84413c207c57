"""The Linux start-up benchmark (see bench/startup-linux.sh)."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCHER = os.path.join(REPO, "dist", "linux-x64", "launcher")
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
    start = time.time_ns()
    out = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True).stdout
    end = time.time_ns()
    first = int(out.split()[1]) * 1000
    return (first - start) / 1e6, (end - start) / 1e6


def summary(values):
    return "%7.1f ms (%.1f-%.1f)" % (statistics.median(values), min(values), max(values))


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 21
    if not os.path.isfile(LAUNCHER):
        sys.exit("startup_linux: build the linux preset first (%s)" % LAUNCHER)
    work = tempfile.mkdtemp(prefix="bench-linux-")
    try:
        classes = os.path.join(work, "classes")
        subprocess.run([os.path.join(JDK17, "bin", "javac"), "--release", "11", "-d", classes,
                        os.path.join(REPO, "bench", "linux", "Trivial.java")], check=True)
        jar = os.path.join(work, "trivial.jar")
        subprocess.run([os.path.join(JDK17, "bin", "jar"), "cf", jar, "-C", classes, "."], check=True)
        env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "VEDA_LAUNCHER_TRACE", "JAVA_TOOL_OPTIONS")}
        print("runs: %d of each, alternated; medians (lowest-highest)" % runs)
        for home in runtimes():
            app = os.path.join(work, os.path.basename(home))
            os.makedirs(app)
            exe = os.path.join(app, "Trivial")
            shutil.copy2(LAUNCHER, exe)
            with open(exe + ".ini", "w") as f:
                f.write("[Java Runtime Environment]\nMain Class=Trivial\nJRE Path=%s\n"
                        "[Class Path]\nClass Path=%s\n" % (home, jar))
            java = [os.path.join(home, "bin", "java"), "-cp", jar, "Trivial"]
            ours = {"main": [], "whole": []}
            theirs = {"main": [], "whole": []}
            for i in range(runs + 1):
                order = [(exe, ours), (java, theirs)] if i % 2 else [(java, theirs), (exe, ours)]
                for command, into in order:
                    to_main, whole = timed([command] if isinstance(command, str) else command, env)
                    if i:  # the first round warms the caches
                        into["main"].append(to_main)
                        into["whole"].append(whole)
            print("\nruntime %s" % os.path.realpath(home))
            for what, label in (("main", "start to main"), ("whole", "whole run")):
                ratio = statistics.median(ours[what]) / statistics.median(theirs[what])
                print("  %-14s launcher %s   java %s   ratio %.3f" % (label, summary(ours[what]),
                                                                       summary(theirs[what]), ratio))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
