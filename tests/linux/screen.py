"""The X screen for the Linux tests: a private Xvfb, screenshots through
libX11 (XGetImage of the root window) saved as PNG, and input through xdotool."""
import ctypes
import ctypes.util
import os
import struct
import subprocess
import time
import zlib

ARTEFACTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                         "build", "linux-artefacts")


class Display:
    """An Xvfb of its own, on the first free display number from 140."""

    def __init__(self):
        self.process = None
        for number in range(140, 200):
            if os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
                continue
            process = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    self.process, self.name = process, ":%d" % number
                    return
                time.sleep(0.05)
            process.kill()
        raise RuntimeError("no Xvfb could start")

    def close(self):
        if self.process:
            self.process.terminate()
            self.process.wait(10)

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=self.name),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20).stdout.decode()

    def click(self, x, y):
        self.xdotool("mousemove", x, y)
        self.xdotool("click", 1)

    def key(self, window_title, *keys):
        """Focuses the window with this title (no window manager runs) and types the keys."""
        ids = self.xdotool("search", "--name", "^%s$" % window_title).split()
        if ids:
            self.xdotool("windowfocus", "--sync", ids[-1])
        self.xdotool("key", *keys)

    def window_properties(self, window_title, *names):
        """The X properties of the window with this title, as xprop prints them."""
        ids = self.xdotool("search", "--name", "^%s$" % window_title).split()
        if not ids:
            raise AssertionError("no window %r" % window_title)
        return subprocess.run(["xprop", "-display", self.name, "-id", ids[-1]] + list(names), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=20).stdout.decode()

    def pixels(self):
        """The screen as (width, height, bytes of R, G, B per pixel)."""
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.c_void_p
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = x11.XOpenDisplay(self.name.encode())
        try:
            width, height = 1280, 1024
            image = x11.XGetImage(display, x11.XDefaultRootWindow(display), 0, 0, width, height, 0xFFFFFFFF, 2)
            # XImage: width, height, xoffset, format, data pointer, ...; bytes_per_line at a fixed place.
            fields = ctypes.cast(image, ctypes.POINTER(ctypes.c_int))
            data = ctypes.cast(image + 16, ctypes.POINTER(ctypes.c_void_p))[0]
            bytes_per_line = fields[11]
            raw = ctypes.string_at(data, bytes_per_line * height)
            rgb = bytearray(width * height * 3)
            for y in range(height):
                row = raw[y * bytes_per_line:y * bytes_per_line + width * 4]
                rgb[y * width * 3:(y + 1) * width * 3] = bytes(
                    b for i in range(0, len(row), 4) for b in (row[i + 2], row[i + 1], row[i]))
            return width, height, bytes(rgb)
        finally:
            x11.XCloseDisplay(display)

    def screenshot(self, name):
        """Saves the screen as build/linux-artefacts/<name>.png; returns the path and the pixels."""
        width, height, rgb = self.pixels()
        os.makedirs(ARTEFACTS, exist_ok=True)
        path = os.path.join(ARTEFACTS, name + ".png")
        write_png(path, width, height, rgb)
        return path, (width, height, rgb)


def write_png(path, width, height, rgb):
    """An RGB picture (bytes of R, G, B per pixel, rows top down) as a PNG file."""
    rows = b"".join(b"\x00" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def pixel(shot, x, y):
    width, _, rgb = shot
    at = (y * width + x) * 3
    return tuple(rgb[at:at + 3])


def read_dump(path, timeout=20, after=None):
    """The widgets of a dialog as the dialog process wrote them: (title, [dict per widget])."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path) and (after is None or os.path.getmtime(path) > after):
            with open(path, encoding="utf-8") as f:
                text = f.read()
            if text.endswith("end\n"):
                return parse_dump(text)
        time.sleep(0.05)
    raise AssertionError("the dialog did not come up (no %s)" % path)


def parse_dump(text):
    import re
    title, widgets = None, []
    for line in text.splitlines():
        if line.startswith("title="):
            title = _unquote(line[len("title="):])
        elif line.startswith("widget "):
            m = re.match(r'widget type="([^"]*)" text="((?:[^"\\]|\\.)*)" sensitive=(\d)(?: focus=(\d))? '
                         r'x=(-?\d+) y=(-?\d+) w=(\d+) h=(\d+)', line)
            widgets.append({"type": m.group(1), "text": _unquote('"%s"' % m.group(2)), "sensitive": m.group(3) == "1",
                            "focus": m.group(4) == "1", "x": int(m.group(5)), "y": int(m.group(6)),
                            "w": int(m.group(7)), "h": int(m.group(8))})
    return title, widgets


def _unquote(text):
    body = text[1:-1]
    out, i = [], 0
    while i < len(body):
        if body[i] == "\\" and i + 1 < len(body):
            out.append("\n" if body[i + 1] == "n" else body[i + 1])
            i += 2
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


def button(widgets, text):
    for w in widgets:
        if w["type"] in ("GtkButton", "GtkLinkButton") and w["text"] == text:
            return w
    raise AssertionError("no button %r among %s" % (text, [w["text"] for w in widgets if w["text"]]))


def centre(widget):
    return widget["x"] + widget["w"] // 2, widget["y"] + widget["h"] // 2
