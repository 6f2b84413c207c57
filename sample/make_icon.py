#!/usr/bin/env python3
"""Draws the sample application's icon (a white "H" on a green tile) into an
.ico file: 16, 32 and 48 pixel bitmaps and a PNG-compressed 256 pixel image.
The demo brands HelloApp.exe with it. Named *.png, the output is the 256
pixel picture alone (what the packaging command takes)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
import make_icon  # noqa: E402  (the launcher's own icon drawing, for its file layout)


def pixel(x, y, size):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    r = 0.18
    dx = max(r - u, 0, u - (1 - r))
    dy = max(r - v, 0, v - (1 - r))
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    in_h = (0.25 <= u <= 0.38 or 0.62 <= u <= 0.75) and 0.2 <= v <= 0.8 or 0.25 <= u <= 0.75 and 0.44 <= v <= 0.56
    return (250, 250, 250, 255) if in_h else (40, 150, 70, 255)


if __name__ == "__main__":
    make_icon.pixel = pixel
    out = make_icon.output_name(sys.argv, "HelloApp.ico")
    if out.endswith(".png"):
        with open(out, "wb") as f:
            f.write(make_icon.png_entry(256))
    else:
        make_icon.main(out)
