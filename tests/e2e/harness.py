"""End-to-end harness: runs Windows programs under Wine through e2e_runner.exe
and reads back exit codes, message boxes, windows and stand-in runtime logs.

The caller keeps a Wine environment running (source wine_env.sh and call
wine_env_start, as run_e2e.sh does). Located through environment variables:

  E2E_DIST         folder with x86/launcher.exe and x64/launcher.exe
                   (default <repo>/dist)
  E2E_RUNNER       e2e_runner.exe (default $BUILD_ROOT/e2e/e2e_runner.exe)
  E2E_BOXDEMO      e2e_boxdemo.exe (default: beside the runner); the 64-bit
                   one is E2E_BOXDEMO64 (default: e2e_boxdemo64.exe beside it)
  E2E_STANDIN_X86  stand-in jvm.dll, 32-bit
  E2E_STANDIN_X64  stand-in jvm.dll, 64-bit
  E2E_BRAND_HOST   brand-launcher built for this machine
                   (default <dist>/host/brand-launcher)
  E2E_BRANDCHECK   e2e_brandcheck.exe (default: beside the runner)
  E2E_SPLASH_STANDIN_X86  stand-in splashscreen.dll (default: beside jvm.dll)
  E2E_JAVA_STANDIN_X86  stand-in java.exe (default: beside jvm.dll)
  E2E_WORK         scratch folder (default: a fresh temporary one)
  E2E_KEEP=1       keep case folders after the tests, for post-mortems
  E2E_REQUIRE_ALL=1  fail instead of skipping when the launcher or the
                   stand-in is missing (for CI, where both must exist)
"""

import atexit
import itertools
import json
import os
import shutil
import struct
import signal
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# What a MessageBoxW with a NULL caption shows (Windows and Wine agree).
DEFAULT_BOX_TITLE = "Error"
# The ANSI code page of the test prefix (Wine derives it from the locale,
# which wine_env.sh pins to C.UTF-8). test_bench checks it.
ANSI_CODEPAGE = 1252
ANSI_ENCODING = "cp1252"

IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7

# The caption of the dialog that asks for a runtime folder when none is found.
RUNTIME_DIALOG_TITLE = "JRE Not Found"

# Variables a Java launcher may react to. Wine hands the whole Unix
# environment to Windows programs, so the host's would leak into the tests.
HOST_ONLY_VARIABLES = (
    "JAVA_HOME", "JRE_HOME", "JDK_HOME", "J2SDKDIR", "J2REDIR", "CLASSPATH",
    "_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS",
    # The launcher's own trace: a case that wants one names its file.
    "VEDA_LAUNCHER_TRACE",
)


# ------------------------------------------------------------------ locating

def _build_root():
    return os.environ.get("BUILD_ROOT") or os.path.join(REPO, "build")


def _require_all():
    return os.environ.get("E2E_REQUIRE_ALL") == "1"


def _locate(var, default, what):
    """Path from `var`, else `default`. Missing: a failure when the variable
    was set (or E2E_REQUIRE_ALL=1), a skip otherwise."""
    given = os.environ.get(var)
    path = given or default
    if path and os.path.isfile(path):
        return os.path.abspath(path)
    if given or _require_all():
        raise FileNotFoundError("%s not found: %s (from %s)" % (what, path, var))
    raise unittest.SkipTest("%s not available (set %s)" % (what, var))


def dist_dir():
    return os.environ.get("E2E_DIST") or os.path.join(REPO, "dist")


def launcher_path(arch="x86", console=False):
    """The windowed launcher, or with console set its console flavour."""
    _check_arch(arch)
    given = os.environ.get("E2E_DIST")
    path = os.path.join(dist_dir(), arch, "launcher-console.exe" if console else "launcher.exe")
    if os.path.isfile(path):
        return path
    if given or _require_all():
        raise FileNotFoundError("launcher not found: " + path)
    raise unittest.SkipTest("no launcher build at %s (set E2E_DIST)" % path)


def runner_path():
    path = os.environ.get("E2E_RUNNER") or os.path.join(_build_root(), "e2e", "e2e_runner.exe")
    if not os.path.isfile(path):
        # The bench itself is not optional: without it nothing here can run.
        raise FileNotFoundError("e2e_runner.exe not found: %s (set E2E_RUNNER)" % path)
    return os.path.abspath(path)


def boxdemo_path(arch="x86"):
    _check_arch(arch)
    var = "E2E_BOXDEMO" if arch == "x86" else "E2E_BOXDEMO64"
    name = "e2e_boxdemo.exe" if arch == "x86" else "e2e_boxdemo64.exe"
    default = os.path.join(os.path.dirname(runner_path()), name)
    return _locate(var, default, name)


def standin_path(arch="x86"):
    _check_arch(arch)
    return _locate("E2E_STANDIN_" + arch.upper(), None, "stand-in jvm.dll (%s)" % arch)


def splash_standin_path(arch="x86"):
    """The stand-in of a runtime's splash library (splashscreen.dll)."""
    _check_arch(arch)
    default = os.path.join(os.path.dirname(standin_path(arch)), "splashscreen.dll")
    return _locate("E2E_SPLASH_STANDIN_" + arch.upper(), default, "stand-in splashscreen.dll (%s)" % arch)


def java_standin_path(arch="x86"):
    """The stand-in of a runtime's java.exe (what the start-up cache's creator runs)."""
    _check_arch(arch)
    default = os.path.join(os.path.dirname(standin_path(arch)), "java.exe")
    return _locate("E2E_JAVA_STANDIN_" + arch.upper(), default, "stand-in java.exe (%s)" % arch)


def _check_arch(arch):
    if arch not in ("x86", "x64"):
        raise ValueError("arch must be 'x86' or 'x64', not %r" % (arch,))


_work_root = None


def work_root():
    """The scratch folder; a temporary one is made (and removed at exit)."""
    global _work_root
    if _work_root is None:
        given = os.environ.get("E2E_WORK")
        if given:
            os.makedirs(given, exist_ok=True)
            _work_root = os.path.abspath(given)
        else:
            _work_root = tempfile.mkdtemp(prefix="e2e-")
            if os.environ.get("E2E_KEEP") != "1":
                atexit.register(shutil.rmtree, _work_root, True)
    return _work_root


# ------------------------------------------------------------------ paths

def to_windows_path(path):
    """Unix path -> Wine path on drive Z: (which maps the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def from_windows_path(path):
    """Wine path -> Unix path. Z: is the Unix root; C: is the prefix's drive_c."""
    if len(path) < 2 or path[1] != ":":
        raise ValueError("not an absolute drive path: %r" % (path,))
    drive, rest = path[0].upper(), path[2:].replace("\\", "/")
    if drive == "Z":
        return rest or "/"
    if drive == "C":
        prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        return os.path.join(prefix, "drive_c") + rest
    raise ValueError("no Unix mapping known for drive %s:" % drive)


def quote_arg(arg):
    """Quote one argument the way CommandLineToArgvW and the C runtime read
    it back; arguments without blanks or quotes stay as they are."""
    if arg and not any(c in arg for c in ' \t\n\v"'):
        return arg
    out, backslashes = '"', 0
    for c in arg:
        if c == "\\":
            backslashes += 1
        elif c == '"':
            out += "\\" * (backslashes + 1)
            backslashes = 0
        else:
            backslashes = 0
        out += c
    return out + "\\" * backslashes + '"'


# ------------------------------------------------------------------ running

class RunResult:
    """What one program run produced."""

    def __init__(self, raw, records, elapsed, runner_output):
        self.raw = raw
        self.exit_code = raw["exit_code"]
        self.exit_code_hex = raw["exit_code_hex"]
        self.start_error = raw.get("start_error")
        self.timed_out = raw["timed_out"]
        self.dialogs = raw["dialogs"]
        self.windows = raw["windows"]
        self.cmdline = raw["cmdline"]
        # What the runner saw of the window named by probe_class (or None),
        # the screen pixels before the start, the watch_pixel time, the screen size.
        self.probe = raw.get("probe")
        self.pixels_before = raw.get("pixels_before", [])
        self.watch_pixel_us = raw.get("watch_pixel_us")
        self.screen = raw.get("screen")
        self.texts = [d["text"] for d in self.dialogs]
        self.titles = [d["title"] for d in self.dialogs]
        # Stand-in records written during this run: {jvm.dll folder: [record]}.
        self.records_by_home = records
        self.records = [r for recs in records.values() for r in recs]
        self.elapsed = elapsed
        self.runner_output = runner_output

    def events(self):
        return [r.get("event") for r in self.records]

    def __repr__(self):
        return "RunResult(exit_code=%r, timed_out=%r, texts=%r, windows=%r, events=%r)" % (
            self.exit_code, self.timed_out, self.texts,
            [(w["class"], w["title"]) for w in self.windows], self.events())


_request_ids = itertools.count(1)


def wine_environment():
    env = dict(os.environ)
    for name in HOST_ONLY_VARIABLES:
        env.pop(name, None)
    return env


def _wine(args, timeout, loader="wine"):
    """Run a Wine command; returns (status, output).

    Output goes through a file, not a pipe: a Wine service process started
    on the way (the desktop's explorer.exe) inherits the handle and would
    hold a pipe open, so reading it to the end would wait for that process.
    """
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run([loader] + list(args), env=wine_environment(),
                              stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              timeout=timeout)
        out.seek(0)
        return proc.returncode, out.read().decode("utf-8", "replace")


def run_program(exe, args=(), raw_cmdline=None, raw_args=None, press=None, timeout=30,
                env=None, cwd=None, records_from=None, watch=None, request=(), streams=None):
    """Run a Windows program through e2e_runner.exe.

    exe: Unix path of the program. The command line is the quoted Windows
    path of exe followed by args (each quoted only when needed), or exe and
    `raw_args` verbatim, or `raw_cmdline` as the complete command line.
    press: button ids for the 1st, 2nd, ... dialog (None: IDOK for all;
    "none": leave that dialog open; "key:27": press Escape in it; "close":
    its close box). env: {name: value, or None to remove}.
    watch: {"caption": text, "resize": [(w, h), ...], "select": control id,
    "screenshot": Unix path of a BMP}: the dialog with that caption is read
    closely before it is answered (its "layouts", "selection", "screenshot").
    cwd: Unix path. records_from: {key: Runtime} whose new stand-in log
    records are collected (the result keeps the keys).
    streams: {"stdin": Unix path read, "stdout"/"stderr": Unix paths
    created} for the program's standard handles; the program then shares
    the runner's console.
    """
    return start_program(exe, args=args, raw_cmdline=raw_cmdline, raw_args=raw_args, press=press,
                         timeout=timeout, env=env, cwd=cwd, records_from=records_from,
                         watch=watch, request=request, streams=streams).wait()



def interrupt(exe, timeout=30):
    """Ctrl+C for the running Windows program exe (a Unix path), as a
    terminal gives it: Wine turns SIGINT into the console's Ctrl+C event
    (handlers called on a new thread). Returns the Unix process id."""
    wanted = to_windows_path(exe).lower()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv0 = f.read().split(b"\0")[0].decode("utf-8", "replace")
            except OSError:
                continue
            # Wine names a process by its Windows path.
            if argv0.lower() == wanted:
                os.kill(int(entry), signal.SIGINT)
                return int(entry)
        time.sleep(0.1)
    raise AssertionError("no running process of %s" % exe)


class PendingRun:
    """A program started by start_program; wait() gives its RunResult.

    Several may run at once (each through a runner of its own). Stand-in
    records are those the log gained between the start and the wait, so
    with concurrent runs on one runtime they include the other runs' too.
    """

    def __init__(self, proc, out, req_path, res_path, before, records_from, timeout, started):
        self._proc, self._out = proc, out
        self._req_path, self._res_path = req_path, res_path
        self._before, self._records_from = before, records_from
        self._timeout, self._started = timeout, started
        self._result = None

    def done(self):
        return self._proc.poll() is not None

    def wait(self):
        if self._result is not None:
            return self._result
        try:
            returncode = self._proc.wait(timeout=self._timeout + 60)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
            raise
        elapsed = time.monotonic() - self._started
        self._out.seek(0)
        output = self._out.read().decode("utf-8", "replace")
        self._out.close()
        if returncode != 0 or not os.path.isfile(self._res_path):
            raise RuntimeError("e2e_runner failed (status %d): %s" % (returncode, output))
        with open(self._res_path, encoding="utf-8") as f:
            raw = json.load(f)
        records = {home: rt.records(since=self._before[home])
                   for home, rt in (self._records_from or {}).items()}
        for p in (self._req_path, self._res_path):
            os.unlink(p)
        self._result = RunResult(raw, records, elapsed, output)
        return self._result


def start_program(exe, args=(), raw_cmdline=None, raw_args=None, press=None, timeout=30,
                  env=None, cwd=None, records_from=None, watch=None, press_others=None, request=(), streams=None):
    """Start a Windows program through e2e_runner.exe without waiting for
    it (arguments as for run_program); returns a PendingRun."""
    win_exe = to_windows_path(exe)
    if raw_cmdline is not None:
        cmdline = raw_cmdline
    elif raw_args is not None:
        cmdline = '"%s" %s' % (win_exe, raw_args)
    else:
        cmdline = " ".join(['"%s"' % win_exe] + [quote_arg(a) for a in args])

    if press is None:
        press = []
    elif isinstance(press, (int, str)):
        press = [press]

    work = os.path.join(work_root(), "requests")
    os.makedirs(work, exist_ok=True)
    n = next(_request_ids)
    req_path = os.path.join(work, "req-%d-%d.txt" % (os.getpid(), n))
    res_path = os.path.join(work, "res-%d-%d.json" % (os.getpid(), n))
    lines = ["exe=" + win_exe, "result=" + to_windows_path(res_path),
             "timeout_ms=%d" % int(timeout * 1000)]
    if any(c in cmdline for c in "\r\n"):
        lines.append("cmdline_hex=" + cmdline.encode("utf-8").hex())
    else:
        lines.append("cmdline=" + cmdline)
    if cwd is not None:
        lines.append("cwd=" + to_windows_path(cwd))
    for p in press:
        lines.append("press=%s" % ("none" if p is None else p if isinstance(p, str) else int(p)))
    if watch:
        lines.append("watch=" + watch["caption"])
        for w, h in watch.get("resize", ()):
            lines.append("resize=%d,%d" % (w, h))
        if watch.get("select"):
            lines.append("select=%d" % watch["select"])
        if watch.get("screenshot"):
            lines.append("screenshot=" + to_windows_path(watch["screenshot"]))
    if press_others is not None:
        lines.append("press_others=%s" % ("none" if press_others == "none" else int(press_others)))
    for key, value in request:
        lines.append("%s=%s" % (key, value))
    for key, value in (streams or {}).items():
        lines.append("%s=%s" % (key, to_windows_path(value)))
    for name, value in (env or {}).items():
        if "=" in name[1:] or any(c in name + (value or "") for c in "\r\n"):
            raise ValueError("cannot pass environment variable %r" % name)
        lines.append("env=%s" % name if value is None else "env=%s=%s" % (name, value))
    with open(req_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")

    before = {home: rt.log_size() for home, rt in (records_from or {}).items()}
    started = time.monotonic()
    # Output through a file, not a pipe (see _wine).
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen(["wine", runner_path(), to_windows_path(req_path)], env=wine_environment(),
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    return PendingRun(proc, out, req_path, res_path, before, records_from, timeout, started)


class StartedProgram:
    """A program running under e2e_runner.exe while the test drives its
    windows (find_window and friends); finish() waits for its end."""

    def __init__(self, exe, args=(), raw_cmdline=None, raw_args=None, press="none", timeout=60,
                 env=None, cwd=None, records_from=None):
        # The test answers every window itself, the folder picker included.
        self._run = start_program(exe, args=args, raw_cmdline=raw_cmdline, raw_args=raw_args,
                                  press=press, timeout=timeout, env=env, cwd=cwd,
                                  records_from=records_from, press_others="none")

    def finish(self):
        """Waits for the program (at most its time-out) and gives its RunResult;
        later calls give the same result."""
        return self._run.wait()


def ui(*args, check=True):
    """One `e2e_runner.exe ui` command; returns its JSON output (or None).
    A command that cannot be done raises UiError (unless check is False,
    then it returns False)."""
    status, output = _wine([runner_path(), "ui"] + [str(a) for a in args], 60)
    if status == 4 and not check:
        return False
    if status != 0:
        raise UiError("ui %s failed (%d): %s" % (" ".join(map(str, args)), status, output.strip()))
    starts = [i for i in (output.find("{"), output.find("[")) if i >= 0]
    return json.loads(output[min(starts):]) if starts else None


class UiProcess:
    """One `e2e_runner.exe ui` command left running (e.g. `ui hold`)."""

    def __init__(self, *args):
        self._out = tempfile.NamedTemporaryFile(delete=False)
        self._proc = subprocess.Popen(["wine", runner_path(), "ui"] + [str(a) for a in args], env=wine_environment(),
                                      stdin=subprocess.DEVNULL, stdout=self._out, stderr=subprocess.STDOUT)

    def output(self):
        with open(self._out.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_for_output(self, text, timeout=30):
        deadline = time.monotonic() + timeout
        while text not in self.output():
            if time.monotonic() > deadline or self._proc.poll() is not None:
                raise UiError("no %r from the ui command: %s" % (text, self.output()))
            time.sleep(0.05)

    def stop(self):
        if self._proc.poll() is None:
            self._proc.kill()
        self._proc.wait()
        if not self._out.closed:
            self._out.close()
            os.unlink(self._out.name)


class UiError(RuntimeError):
    pass


class Window:
    """A top-level window of a program under test, driven from outside."""

    def __init__(self, info):
        self.info = info
        self.hwnd = info["hwnd"]

    def read(self):
        self.info = ui("read", self.hwnd)
        return self.info

    def control(self, control_id, fresh=True):
        """The control's description (id, class, text, style, enabled, ...)."""
        info = self.read() if fresh else self.info
        for c in info["controls"]:
            if c["id"] == control_id:
                return c
        raise KeyError("no control %d in %r" % (control_id, info["title"]))

    def click(self, control_id):
        ui("click", self.hwnd, control_id)

    def key(self, key, control_id=None, count=1):
        """Key presses to the control, or to the focused window (control_id None)."""
        ui("key", self.hwnd, key, control_id or 0, count)

    def type(self, text):
        ui("type", self.hwnd, text)

    def mouse(self, control_id, x, y):
        ui("mouse", self.hwnd, control_id, x, y)

    def hover(self, control_id, x, y):
        ui("hover", self.hwnd, control_id, x, y)

    def close(self):
        ui("close", self.hwnd)

    def tree(self, control_id):
        """The visible items of a tree view control, in display order."""
        return ui("tree", self.hwnd, control_id)

    def wait_gone(self, timeout=10):
        ui("gone", self.hwnd, int(timeout * 1000))

    def screenshot(self, png_path):
        """The window as shown on the screen, saved as PNG; returns an Image."""
        bmp = png_path + ".bmp"
        ui("shot", self.hwnd, to_windows_path(bmp))
        image = Image.from_bmp(bmp)
        os.unlink(bmp)
        image.save_png(png_path)
        return image


def find_window(title, cls="*", timeout=10):
    """Waits for a visible top-level window with this caption ("*": any)."""
    return Window(ui("find", title, cls, int(timeout * 1000)))


class Image:
    """An RGB picture: rows of (r, g, b) tuples."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    @classmethod
    def from_bmp(cls, path):
        with open(path, "rb") as f:
            data = f.read()
        offset = struct.unpack_from("<I", data, 10)[0]
        width, height = struct.unpack_from("<ii", data, 18)
        if struct.unpack_from("<H", data, 28)[0] != 24:
            raise ValueError("not a 24-bit bitmap: " + path)
        stride = (width * 3 + 3) & ~3
        rows = []
        for y in range(abs(height)):
            line = height - 1 - y if height > 0 else y  # bottom-up unless negative
            at = offset + line * stride
            px = data[at:at + width * 3]
            rows.append([(px[i + 2], px[i + 1], px[i]) for i in range(0, width * 3, 3)])
        return cls(width, abs(height), rows)

    def pixel(self, x, y):
        return self.rows[y][x]

    def colours(self, left=0, top=0, right=None, bottom=None):
        """{(r, g, b): count} inside the rectangle (image coordinates)."""
        right = self.width if right is None else right
        bottom = self.height if bottom is None else bottom
        counts = {}
        for y in range(max(0, top), min(self.height, bottom)):
            for c in self.rows[y][max(0, left):min(self.width, right)]:
                counts[c] = counts.get(c, 0) + 1
        return counts

    def save_png(self, path):
        import zlib
        raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in self.rows)

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" +
                    chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def artefact_dir():
    """Where tests keep pictures for people to look at: <build>/e2e-artefacts
    (E2E_ARTEFACTS overrides)."""
    path = os.environ.get("E2E_ARTEFACTS") or os.path.join(_build_root(), "e2e-artefacts")
    os.makedirs(path, exist_ok=True)
    return path


# ------------------------------------------------------------------ folders

class Runtime:
    """A stand-in runtime placed in an application folder."""

    def __init__(self, home, vm):
        self.home = home
        self.vm = vm
        self.dll_dir = os.path.join(home, "bin", vm)
        self.dll = os.path.join(self.dll_dir, "jvm.dll")
        self.cfg = os.path.join(self.dll_dir, "standin.cfg")
        self.log = os.path.join(self.dll_dir, "standin.log")

    @property
    def win_home(self):
        return to_windows_path(self.home)

    def write_cfg(self, cfg):
        """cfg: {key: value} or the file's text."""
        if isinstance(cfg, dict):
            cfg = "".join("%s=%s\n" % kv for kv in cfg.items())
        with open(self.cfg, "w", encoding="utf-8", newline="\n") as f:
            f.write(cfg)

    def log_size(self):
        try:
            return os.path.getsize(self.log)
        except FileNotFoundError:
            return 0

    def records(self, since=0):
        """Records of the stand-in log (from byte offset `since`)."""
        try:
            with open(self.log, "rb") as f:
                f.seek(since)
                data = f.read()
        except FileNotFoundError:
            return []
        # A last line without its line feed is still being written by a
        # launcher that runs on; it is read once it is whole.
        data = data[:data.rfind(b"\n") + 1]
        out = []
        for line in data.decode("utf-8").splitlines():
            if line.strip():
                # A record that does not parse is a fault worth seeing.
                out.append(json.loads(line))
        return out


class AppFolder:
    """A fresh application folder for one test case.

    Lives in its own case folder under the work root, next to a neutral
    working directory (`cwd`) used as the default for runs, so that nothing
    passes only because the program happened to start in its own folder.
    """

    def __init__(self, name="app"):
        self.case_dir = tempfile.mkdtemp(prefix="case-", dir=work_root())
        self.path = os.path.join(self.case_dir, name)
        self.cwd = os.path.join(self.case_dir, "cwd")
        os.makedirs(self.path)
        os.makedirs(self.cwd)
        self.exe = None
        self.runtimes = {}

    @classmethod
    def for_test(cls, testcase, name="app"):
        """A folder removed when the test ends (kept with E2E_KEEP=1)."""
        folder = cls(name)
        if os.environ.get("E2E_KEEP") != "1":
            testcase.addCleanup(folder.cleanup)
        return folder

    def cleanup(self):
        shutil.rmtree(self.case_dir, ignore_errors=True)

    @property
    def win_path(self):
        return to_windows_path(self.path)

    def file(self, rel):
        """Path of `rel` in the folder (an absolute path stays as it is)."""
        if os.path.isabs(rel):
            return rel
        return os.path.join(self.path, *rel.replace("\\", "/").split("/"))

    def write_file(self, rel, data):
        p = self.file(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return p

    def install_launcher(self, arch="x86", name="App.exe", console=False):
        self.exe = self._copy(launcher_path(arch, console), name)
        return self.exe

    def install_program(self, source, name):
        """Any program as the folder's executable (the bench uses boxdemo)."""
        self.exe = self._copy(source, name)
        return self.exe

    def _copy(self, source, name):
        dest = self.file(name)
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        shutil.copyfile(source, dest)
        return dest

    def ini_path(self, name=None):
        if name is None:
            if not self.exe:
                raise ValueError("install the launcher first, or name the file")
            name = os.path.splitext(os.path.basename(self.exe))[0] + ".ini"
        return self.file(name)

    def write_ini(self, text, encoding="utf-16", name=None, newline="\r\n"):
        """Write the settings file beside the executable (App.exe -> App.ini).

        utf-16: little-endian with BOM, which the profile-string functions
        read as Unicode. "mbcs"/"ansi": the prefix's ANSI code page. Any
        other Python codec name is used as it is (e.g. "ascii", "utf-8").
        """
        if newline is not None:
            text = text.replace("\r\n", "\n").replace("\n", newline)
        if encoding.lower() in ("utf-16", "utf-16le", "utf16"):
            data = b"\xff\xfe" + text.encode("utf-16-le")
        elif encoding.lower() in ("mbcs", "ansi"):
            data = text.encode(ANSI_ENCODING)
        else:
            data = text.encode(encoding)
        path = self.ini_path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def add_runtime(self, rel_home="jre", arch="x86", vm="client", java_dll=True, cfg=None):
        """Place the stand-in as <home>/bin/<vm>/jvm.dll (and an empty
        <home>/bin/java.dll unless java_dll is False). rel_home may also be
        an absolute Unix path. Returns the Runtime."""
        home = rel_home if os.path.isabs(rel_home) else self.file(rel_home)
        rt = Runtime(home, vm)
        os.makedirs(rt.dll_dir, exist_ok=True)
        shutil.copyfile(standin_path(arch), rt.dll)
        if java_dll:
            open(os.path.join(home, "bin", "java.dll"), "wb").close()
        if cfg is not None:
            rt.write_cfg(cfg)
        self.runtimes[os.path.abspath(rt.dll_dir)] = rt
        return rt

    def records(self, home):
        """All stand-in records of a runtime (a Runtime, or its home path
        relative to this folder or absolute)."""
        if isinstance(home, Runtime):
            return home.records()
        path = home if os.path.isabs(home) else self.file(home)
        out = []
        bin_dir = os.path.join(path, "bin")
        for vm in sorted(os.listdir(bin_dir)) if os.path.isdir(bin_dir) else []:
            out += Runtime(path, vm).records()
        return out

    def run(self, args=(), raw_cmdline=None, raw_args=None, press=None, timeout=30, env=None,
            cwd=None, exe=None, watch=None, request=(), allow_misuse=False, streams=None):
        """Run the installed executable (or `exe`); see run_program.

        A JNI misuse the stand-in runtime recorded (a call made with an
        exception pending, a reference deleted twice, ...) fails the test
        unless allow_misuse is set."""
        result = self.start(args=args, raw_cmdline=raw_cmdline, raw_args=raw_args, press=press,
                            timeout=timeout, env=env, cwd=cwd, exe=exe, watch=watch,
                            request=request, streams=streams).wait()
        misuses = [r for r in result.records if r.get("event") == "jni_misuse"]
        if misuses and not allow_misuse:
            raise AssertionError("the runtime recorded JNI misuse: %r" % (misuses,))
        return result

    def start(self, args=(), raw_cmdline=None, raw_args=None, press=None, timeout=30, env=None,
              cwd=None, exe=None, watch=None, request=(), streams=None):
        """Start the installed executable (or `exe`) without waiting; see
        start_program."""
        exe = exe or self.exe
        if not exe:
            raise ValueError("nothing installed to run")
        return start_program(exe, args=args, raw_cmdline=raw_cmdline, raw_args=raw_args,
                             press=press, timeout=timeout, env=env,
                             cwd=self.cwd if cwd is None else cwd,
                             records_from=self.runtimes, watch=watch, request=request, streams=streams)

    def start_driven(self, args=(), press="none", timeout=60, env=None, cwd=None, exe=None):
        """Start the installed executable (or `exe`) and return at once, so
        the test can drive its windows; see StartedProgram."""
        exe = exe or self.exe
        if not exe:
            raise ValueError("nothing installed to start")
        return StartedProgram(exe, args=args, press=press, timeout=timeout, env=env,
                              cwd=self.cwd if cwd is None else cwd, records_from=self.runtimes)


# ------------------------------------------------------------------ registry

REG_HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"
_ROOTS = {
    "HKLM": "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER", "HKEY_CURRENT_USER": "HKEY_CURRENT_USER",
    "HKCR": "HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS", "HKEY_USERS": "HKEY_USERS",
}


def reg_view_path(key, view):
    """The key as seen from a 64-bit program, for the given view.

    32-bit programs see HKLM\\SOFTWARE through SOFTWARE\\Wow6432Node; other
    keys used here (HKCU\\Software, HKLM\\SYSTEM) are shared between views.
    """
    if view not in (32, 64):
        raise ValueError("view must be 32 or 64")
    root, _, rest = key.replace("/", "\\").strip("\\").partition("\\")
    if root.upper() not in _ROOTS:
        raise ValueError("unknown registry root in %r" % key)
    root = _ROOTS[root.upper()]
    parts = rest.split("\\") if rest else []
    if view == 32 and root == "HKEY_LOCAL_MACHINE" and parts and parts[0].upper() == "SOFTWARE":
        if len(parts) > 1 and parts[1].upper() == "CLASSES":
            raise ValueError("32-bit view of HKLM\\SOFTWARE\\Classes is not supported here")
        if len(parts) < 2 or parts[1].upper() != "WOW6432NODE":
            parts.insert(1, "Wow6432Node")
    if view == 32 and root == "HKEY_CLASSES_ROOT":
        raise ValueError("32-bit view of HKCR is not supported here")
    return "\\".join([root] + parts)


def _reg_string(s):
    return '"%s"' % s.replace("\\", "\\\\").replace('"', '\\"')


def _reg_hex(kind, data):
    """hex: is REG_BINARY; hex(N): any other type N, as raw bytes."""
    body = ",".join("%02x" % b for b in data)
    return "hex:" + body if kind is None else "hex(%x):%s" % (kind, body)


def _reg_value(data):
    if isinstance(data, bool):
        raise TypeError("use int for REG_DWORD")
    if isinstance(data, int):
        return "dword:%08x" % (data & 0xFFFFFFFF)
    if isinstance(data, bytes):
        return _reg_hex(None, data)
    if isinstance(data, (list, tuple)):
        return _reg_hex(7, "".join(s + "\0" for s in data).encode("utf-16-le") + b"\0\0")
    if isinstance(data, str):
        if any(ord(c) < 0x20 for c in data):
            return _reg_hex(1, (data + "\0").encode("utf-16-le"))
        return _reg_string(data)
    raise TypeError("unsupported registry data: %r" % (data,))


def reg_apply(adds=(), deletes=()):
    """Change the prefix's registry in one Wine call.

    adds: (key, value_name, data, view) — value_name None or "" for the
    key's default value; data str (REG_SZ), int (REG_DWORD), bytes
    (REG_BINARY), list of str (REG_MULTI_SZ), or None to create the key only.
    deletes: (key, view) — whole trees, applied before the adds.
    """
    out = [REG_HEADER]
    for key, view in deletes:
        out.append("[-%s]\r\n\r\n" % reg_view_path(key, view))
    for key, name, data, view in adds:
        out.append("[%s]\r\n" % reg_view_path(key, view))
        if data is not None:
            out.append("%s=%s\r\n" % ("@" if not name else _reg_string(name), _reg_value(data)))
        out.append("\r\n")
    if len(out) == 1:
        return
    work = os.path.join(work_root(), "requests")
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "reg-%d-%d.reg" % (os.getpid(), next(_request_ids)))
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + "".join(out).encode("utf-16-le"))
    try:
        # The 64-bit regedit sees both views (the 32-bit one via Wow6432Node);
        # plain `wine regedit` would be the 32-bit one, redirected.
        # The same file may be applied again: a busy machine now and then
        # fails to start regedit at all ("Application could not be started").
        for _ in range(3):
            status, output = _wine(["regedit", "/S", to_windows_path(path)], 120, loader=_wine64())
            if status == 0:
                break
            time.sleep(0.5)
        else:
            raise RuntimeError("regedit failed (%d): %s" % (status, output))
    finally:
        os.unlink(path)


def _wine64():
    found = os.environ.get("E2E_WINE64") or shutil.which("wine64")
    if not found and os.path.exists("/usr/lib/wine/wine64"):
        found = "/usr/lib/wine/wine64"
    if not found:
        raise FileNotFoundError("64-bit wine loader not found (set E2E_WINE64)")
    return found


def reg_add(key, value_name, data, view=32):
    reg_apply(adds=[(key, value_name, data, view)])


def reg_delete_tree(key, view=32):
    reg_apply(deletes=[(key, view)])


class RegistryScope:
    """Registry changes undone when the scope ends.

        with RegistryScope(roots=[(r"HKLM\\SOFTWARE\\Vendor", 32)]) as reg:
            reg.add(r"HKLM\\SOFTWARE\\Vendor\\Product\\1.0", "Home", r"C:\\x", 32)
            reg.add_many([...])          # one Wine call for several values
            ...

    Every key added is deleted (as a tree) at the end; the `roots` are
    deleted at the start as well as the end, so parents created on the way
    and leftovers of an aborted earlier run are gone too.
    """

    def __init__(self, roots=()):
        self.roots = list(roots)
        self.added = []

    def __enter__(self):
        if self.roots:
            reg_apply(deletes=self.roots)
        return self

    def add(self, key, value_name, data, view=32):
        self.add_many([(key, value_name, data, view)])

    def add_many(self, adds):
        adds = list(adds)
        for key, _, _, view in adds:
            if (key, view) not in self.added:
                self.added.append((key, view))
        reg_apply(adds=adds)

    def __exit__(self, *exc):
        reg_apply(deletes=list(reversed(self.added)) + self.roots)
        return False


# ------------------------------------------------------------------ launcher cases

def settings_text(*sections):
    """Settings-file text from (section, items) pairs; items is a dict or a
    list of (key, value) pairs. Values are written as they are."""
    out = []
    for name, items in sections:
        out.append("[%s]" % name)
        pairs = items.items() if isinstance(items, dict) else items
        out += ["%s=%s" % kv for kv in pairs]
        out.append("")
    return "\n".join(out)


def launcher_settings(main_class="standin.Records", class_path="\\app.jar", jre=(), app=(),
                      more=()):
    """The usual settings file of a case: "Main Class" and the class path,
    plus further keys of "Java Runtime Environment" (jre) and "Application"
    (app), and further (section, items) pairs (more). None leaves a key out."""
    jre_items = [("Main Class", main_class)] if main_class is not None else []
    jre_items += list(jre.items() if isinstance(jre, dict) else jre)
    sections = [("Java Runtime Environment", jre_items)]
    if class_path is not None:
        sections.append(("Class Path", [("Class Path", class_path)]))
    app_items = list(app.items() if isinstance(app, dict) else app)
    if app_items:
        sections.append(("Application", app_items))
    return settings_text(*(sections + list(more)))


def brand_tool(arch="x86"):
    """The Windows build of the branding tool (run under Wine)."""
    path = os.path.join(dist_dir(), arch, "brand-launcher.exe")
    if not os.path.isfile(path):
        raise FileNotFoundError("brand-launcher not found: " + path)
    return path


def host_brand_tool():
    """The branding tool built for this machine (E2E_BRAND_HOST, default
    dist/host/brand-launcher)."""
    return _locate("E2E_BRAND_HOST", os.path.join(dist_dir(), "host", "brand-launcher"),
                   "brand-launcher for this machine")


def brandcheck_path():
    """e2e_brandcheck.exe, beside the runner."""
    return _locate("E2E_BRANDCHECK", os.path.join(os.path.dirname(runner_path()), "e2e_brandcheck.exe"),
                   "e2e_brandcheck.exe")


def embed_settings(output, settings, arch="x86", encoding="utf-8"):
    """A launcher copy at `output` carrying `settings` (text, or bytes as
    they are) as its built-in settings, made with the packager tool."""
    tool = brand_tool(arch)
    if isinstance(settings, str):
        settings = (b"\xff\xfe" + settings.encode("utf-16-le") if encoding == "utf-16"
                    else settings.encode(encoding))
    os.makedirs(os.path.dirname(output), exist_ok=True)
    ini = output + ".builtin.ini"
    with open(ini, "wb") as f:
        f.write(settings)
    try:
        status, text = _wine([tool, to_windows_path(launcher_path(arch)), to_windows_path(output),
                              "--settings", to_windows_path(ini)], 60)
    finally:
        os.unlink(ini)
    if status != 0 or not os.path.isfile(output):
        raise RuntimeError("brand-launcher failed (%d): %s" % (status, text))
    return output


def read_back_brand(exe):
    """What the system's own functions read from an executable's resources
    (icon group, version information, SETTINGS, message table, checksum),
    through e2e_brandcheck.exe; a dict."""
    work = os.path.join(work_root(), "requests")
    os.makedirs(work, exist_ok=True)
    result = os.path.join(work, "brand-%d-%d.json" % (os.getpid(), next(_request_ids)))
    status, output = _wine([brandcheck_path(), to_windows_path(exe), to_windows_path(result)], 120)
    if status != 0 or not os.path.isfile(result):
        raise RuntimeError("e2e_brandcheck failed (%d): %s" % (status, output))
    with open(result, encoding="utf-8") as f:
        data = json.load(f)
    os.unlink(result)
    return data


def _pe_headers(data):
    """(offset of the file header, offset of the optional header) of a PE image."""
    if data[:2] != b"MZ":
        raise ValueError("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    return pe + 4, pe + 24


def pe_stack_reserve(path):
    """SizeOfStackReserve of a PE image (the default stack of its threads)."""
    with open(path, "rb") as f:
        data = f.read(4096)
    _, opt = _pe_headers(data)
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic == 0x10B:
        return struct.unpack_from("<I", data, opt + 72)[0]
    return struct.unpack_from("<Q", data, opt + 72)[0]


def patch_image(source, dest, machine=None, signature=None):
    """Copy a PE image, changing the machine field of its file header and/or
    the 4-byte signature in front of it."""
    with open(source, "rb") as f:
        data = bytearray(f.read())
    fh, _ = _pe_headers(data)
    if machine is not None:
        struct.pack_into("<H", data, fh, machine)
    if signature is not None:
        data[fh - 4:fh] = signature
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    with open(dest, "wb") as f:
        f.write(data)
    return dest


def rename_export(source, dest, old, new):
    """Copy a DLL, renaming one exported function in its export name table
    (same length; the table's sort order must not change)."""
    if len(old) != len(new):
        raise ValueError("names must have the same length")
    with open(source, "rb") as f:
        data = bytearray(f.read())
    fh, opt = _pe_headers(data)
    nsections = struct.unpack_from("<H", data, fh + 2)[0]
    opt_size = struct.unpack_from("<H", data, fh + 16)[0]
    magic = struct.unpack_from("<H", data, opt)[0]
    export_rva = struct.unpack_from("<I", data, opt + (96 if magic == 0x10B else 112))[0]
    sections = [struct.unpack_from("<IIII", data, fh + 20 + opt_size + 40 * i + 8)
                for i in range(nsections)]  # virtual size, rva, raw size, raw offset

    def offset(rva):
        for vsize, va, rsize, raw in sections:
            if va <= rva < va + max(vsize, rsize):
                return raw + rva - va
        raise ValueError("rva %#x outside the sections" % rva)

    exp = offset(export_rva)
    count = struct.unpack_from("<I", data, exp + 24)[0]
    names_rva = struct.unpack_from("<I", data, exp + 32)[0]
    for i in range(count):
        at = offset(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0])
        if data[at:at + len(old) + 1] == old.encode() + b"\0":
            data[at:at + len(old)] = new.encode()
            break
    else:
        raise ValueError("%s is not exported by %s" % (old, source))
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    with open(dest, "wb") as f:
        f.write(data)
    return dest


class LauncherCase(unittest.TestCase):
    """Helpers for cases that run the launcher in a fresh application folder."""

    arch = "x86"

    def make_app(self, settings=None, runtime="jre", vm="client", cfg=None, arch=None,
                 runtime_arch=None, name="app", jar=True, encoding="utf-16"):
        """App.exe in a fresh folder, with app.jar, a stand-in runtime at
        `runtime` (relative to the folder; None: no runtime) and the
        settings text (None: no settings file)."""
        arch = arch or self.arch
        folder = AppFolder.for_test(self, name)
        folder.install_launcher(arch)
        if jar:
            folder.write_file("app.jar", b"")
        if runtime is not None:
            folder.add_runtime(runtime, arch=runtime_arch or arch, vm=vm, cfg=cfg)
        if settings is not None:
            folder.write_ini(settings, encoding=encoding)
        return folder

    def assertExit(self, r, code):
        self.assertIsNone(r.start_error, r)
        self.assertFalse(r.timed_out, r)
        self.assertEqual(r.exit_code, code, r)

    def assertNoBox(self, r):
        """No message box (other dialogs, such as the missing-runtime one, have no text)."""
        self.assertEqual([t for t in r.texts if t is not None], [], r)

    def assertRuntimeDialogCancelled(self, r):
        """The launch found no runtime: the missing-runtime dialog was shown
        once, cancelled (run with press=IDCANCEL), and nothing was loaded."""
        self.assertExit(r, -1)
        self.assertEqual([(d["title"], d["pressed"]) for d in r.dialogs], [(RUNTIME_DIALOG_TITLE, IDCANCEL)], r)
        self.assertEqual(r.records, [])

    def assertOneBox(self, r, text):
        self.assertEqual(r.texts, [text], r)
        d = r.dialogs[0]
        self.assertEqual(d["title"], DEFAULT_BOX_TITLE)
        self.assertEqual(d["buttons"], ["OK"])
        self.assertTrue(d["has_icon"])
        self.assertIsNone(d["owner_class"])

    @staticmethod
    def records(r, event):
        return [rec for rec in r.records if rec.get("event") == event]

    def one(self, r, event):
        found = self.records(r, event)
        self.assertEqual(len(found), 1, "%s records: %r" % (event, r))
        return found[0]

    def main_args(self, r):
        """The arguments main received (fails unless main ran once)."""
        return self.one(r, "main")["args"]

    def options(self, r):
        """The options the runtime was created with, without the launcher's
        own: the three hooks, the java command's property (once) and the
        user's options file's path."""
        create = self.one(r, "create")
        self.assertEqual(create["options"][:3], ["vfprintf", "abort", "exit"], create)
        command = [o for o in create["options"] if o.startswith("-Dsun.java.command=")]
        self.assertEqual(len(command), 1, create)
        return [o for o in create["options"][3:]
                if o not in command and not o.startswith("-Dveda.launcher.vmoptions=")]

    def loaded(self, r):
        """Windows paths of the jvm.dll files loaded in the run."""
        return [rec["path"] for rec in self.records(r, "loaded")]


# ------------------------------------------------------------------ screenshots

def bmp_to_png(bmp_path, png_path):
    """A bottom-up 24-bit BMP (as the runner saves screenshots) as a PNG file,
    which image viewers take."""
    import zlib
    with open(bmp_path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    if struct.unpack_from("<H", data, 28)[0] != 24:
        raise ValueError("not a 24-bit BMP: " + bmp_path)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        at = offset + stride * (abs(height) - 1 - y if height > 0 else y)
        bgr = data[at:at + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(png_path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
        f.write(chunk(b"IEND", b""))
    return png_path
