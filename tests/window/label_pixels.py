#!/usr/bin/env python3
"""label_pixels: Form1's labels on Linux draw one line each, whole, at 96 and 144 DPI. The real
program runs on a private Xvfb whose Xft.dpi is set as a HiDPI desktop sets it; its window is
read back pixel by pixel, right of Start, where only the labels draw.

    label_pixels.py one_whole_line_each --program clickburst --title TITLE --start-button S
"""

import sys
from typing import List, Tuple

from harness.cases import main
from harness.process import SessionError, run
from harness.xsession import XSession

DPIS = (96, 144)
# "Created by" has a descender and "Anonymous" has none; a wrapped label's band is two lines.
MAX_BAND_RATIO = 1.6


def read_window(x: XSession, window_id: int) -> Tuple[int, int, bytes]:
    """Width, height and RGB bytes of the window's content."""
    ppm = run(["/usr/bin/import", "-window", str(window_id), "-depth", "8", "ppm:-"], x.env, 30,
              text=False).stdout
    magic, width, height, depth, pixels = ppm.split(maxsplit=4)
    if magic != b"P6" or depth != b"255":
        raise SessionError(f"import gave no 8-bit PPM: {ppm[:20]!r}")
    return int(width), int(height), pixels


def check_labels(x: XSession, args, dpi: int) -> List[str]:
    window = x.wait_for_window(args.title, process=x.launch("clickburst", [args.program]))
    width, height, pixels = read_window(x, window.id)
    left, _, start_width, _ = map(int, x.run([args.start_button, str(width)]).stdout.split())
    background = pixels[-3:]  # the bottom right corner
    first_column = left + start_width + 1
    ink_rows, right = [], -1
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        inked = [c for c in range(first_column, width) if row[c * 3:c * 3 + 3] != background]
        if inked:
            ink_rows.append(y)
            right = max(right, inked[-1])
    bands = []  # runs of consecutive inked rows
    for y in ink_rows:
        if bands and bands[-1][1] == y - 1:
            bands[-1][1] = y
        else:
            bands.append([y, y])
    heights = [bottom - top + 1 for top, bottom in bands]
    failures = []
    if len(bands) != 2 or max(heights) > MAX_BAND_RATIO * min(heights):
        failures.append(f"{dpi} DPI: the labels draw in bands of {heights} pixels, not one line "
                        f"each")
    if right >= width - 1:
        failures.append(f"{dpi} DPI: a label is cut off at the window's right edge")
    return failures


def case_labels(args):
    failures = []
    for dpi in DPIS:
        with XSession(window_manager=False) as x:
            # What xrdb would set: the resource database that XGetDefault reads.
            x.run(["xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
                   f"Xft.dpi:\t{dpi}\n"])
            failures += check_labels(x, args, dpi)
    return failures, ""


if __name__ == "__main__":
    sys.exit(main("label_pixels", {"one_whole_line_each": case_labels}, sys.argv[1:]))
