"""The Linux launcher's end-to-end harness: an application folder per case
(the real launcher copied in under the application's name, its settings
file, the test program's jar), runs with a clean environment, and runtime
folders laid out as links to the machine's real runtimes."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
LAUNCHER = os.environ.get("LINUX_LAUNCHER", os.path.join(REPO, "dist", "linux-x64", "launcher"))
APP_JAR = os.environ.get("LINUX_APP_JAR", os.path.join(REPO, "build", "linux", "tests", "linux", "probe-app.jar"))
SLOW_START = os.environ.get("LINUX_SLOW_START", os.path.join(REPO, "build", "linux", "tests", "linux",
                                                              "liblinux_slow_start.so"))
JDK17 = os.environ.get("JDK17_HOME", "/usr/lib/jvm/java-17-openjdk-amd64")
# The JavaFX program and the system's JavaFX jars it needs; empty where the build found none.
FX_APP_JAR = os.environ.get("LINUX_FX_APP_JAR", "")
FX_JARS = [jar for jar in os.environ.get("LINUX_FX_JARS", "").split(":") if jar]


def other_runtime():
    """A second real runtime (25 or later) when the machine has one, else None."""
    root = "/usr/lib/jvm"
    for name in sorted(os.listdir(root)) if os.path.isdir(root) else []:
        home = os.path.join(root, name)
        release = os.path.join(home, "release")
        if os.path.realpath(home) == os.path.realpath(JDK17) or not os.path.isfile(release):
            continue
        with open(release) as f:
            for line in f:
                if line.startswith("JAVA_VERSION="):
                    major = line.split("=", 1)[1].strip().strip('"').split(".")[0]
                    if major.isdigit() and int(major) >= 25:
                        return home
    return None


def settings_text(main="app.Probe", class_path="\\lib\\probe-app.jar", runtime=None, application=None, extra=None):
    lines = ["[Java Runtime Environment]", "Main Class=" + main]
    for key, value in (runtime or {}).items():
        lines.append("%s=%s" % (key, value))
    lines += ["[Class Path]", "Class Path=" + class_path]
    if application:
        lines.append("[Application]")
        lines += ["%s=%s" % (k, v) for k, v in application.items()]
    if extra:
        lines.append(extra)
    return "\n".join(lines) + "\n"


def clean_environment(**overrides):
    """The variables a user's session has, without the ones that steer the search."""
    # No display either: a case that wants dialogs brings its own.
    env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "VEDA_LAUNCHER_TRACE", "CLASSPATH",
                                                            "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS",
                                                            "DISPLAY", "WAYLAND_DISPLAY")}
    env.setdefault("LC_ALL", "C.UTF-8")
    for key, value in overrides.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    return env


class LinuxCase(unittest.TestCase):
    """A fresh folder per case; an empty search root unless a case lays one out."""

    def setUp(self):
        if not os.path.isfile(LAUNCHER) or not os.path.isfile(APP_JAR):
            self.fail("build the linux preset first: %s, %s" % (LAUNCHER, APP_JAR))
        self.dir = tempfile.mkdtemp(prefix="launcher-linux-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.root = os.path.join(self.dir, "root")
        os.makedirs(os.path.join(self.root, "usr", "lib", "jvm"))
        os.makedirs(os.path.join(self.root, "tmp"))

    def app(self, name="MyApp", settings=None, folder="app", jar=True):
        """An application folder; returns the executable's path."""
        app_dir = os.path.join(self.dir, folder)
        os.makedirs(os.path.join(app_dir, "lib"), exist_ok=True)
        exe = os.path.join(app_dir, name)
        shutil.copy2(LAUNCHER, exe)
        if jar:
            shutil.copy2(APP_JAR, os.path.join(app_dir, "lib", "probe-app.jar"))
        with open(exe + ".ini", "w", encoding="utf-8") as f:
            f.write(settings if settings is not None else settings_text())
        return exe

    def installed(self, name, real=JDK17, parent="usr/lib/jvm"):
        """A runtime folder under the search root: a link to a real runtime."""
        path = os.path.join(self.root, parent, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(real, path)
        return path

    def env(self, **overrides):
        overrides.setdefault("VEDA_LAUNCHER_SEARCH_ROOT", self.root)
        # No java on the search path unless a case puts one there.
        overrides.setdefault("PATH", "/usr/bin:/bin" if not os.path.exists("/usr/bin/java") else self.no_java_path())
        return clean_environment(**overrides)

    def no_java_path(self):
        bin_dir = os.path.join(self.dir, "bin")
        if not os.path.isdir(bin_dir):
            os.makedirs(bin_dir)
            for tool in ("sh", "true", "env"):
                found = shutil.which(tool)
                if found:
                    os.symlink(found, os.path.join(bin_dir, tool))
        return bin_dir

    def run_app(self, exe, args=(), env=None, timeout=60, cwd=None, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        return subprocess.run([exe] + list(args), env=env if env is not None else self.env(), cwd=cwd or self.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, **kwargs)

    def wait_for_file(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path):
                return True
            time.sleep(0.02)
        return False
