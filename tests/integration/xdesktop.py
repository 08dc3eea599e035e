"""xdesktop: what a person does at an X desktop, for end-to-end tests: find a window by its
title, read where it is, move the pointer, click, press keys, close a window through the window
manager, take a screenshot. Works for native and Wine windows alike (both are X windows to
xdotool). Needs DISPLAY, xdotool, xwininfo (x11-utils), ImageMagick's import, and for close()
a window manager that closes the active window on Alt+F4 (openbox does).

Rectangles are (x, y, width, height) in screen pixels.
"""

import re
import subprocess
from typing import Sequence, Tuple

from clicksession import SessionError

Rect = Tuple[int, int, int, int]


def run(argv: Sequence[str], timeout_s: float = 10.0) -> str:
    """Runs a desktop tool and returns its standard output; raises SessionError if it fails."""
    try:
        done = subprocess.run(list(argv), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout_s)
    except subprocess.TimeoutExpired as error:
        raise SessionError(f"{argv[0]} did not finish within {timeout_s:.0f} s: "
                           f"{' '.join(argv)}") from error
    except OSError as error:
        raise SessionError(f"cannot run {argv[0]}: {error}") from error
    if done.returncode != 0:
        raise SessionError(f"{' '.join(argv)} failed ({done.returncode}): {done.stderr.strip()}")
    return done.stdout


def xdotool(*args: str, timeout_s: float = 10.0) -> str:
    return run(["xdotool", *args], timeout_s)


def find_window(title: str, timeout_s: float = 40.0) -> str:
    """The id of the visible window titled exactly `title`, waiting for it to appear."""
    pattern = "^" + re.escape(title) + "$"
    found = xdotool("search", "--sync", "--onlyvisible", "--name", pattern, timeout_s=timeout_s)
    return found.split()[0]


def client_rect(window: str) -> Rect:
    """Where the window's own area (inside the window manager's frame) is on the screen."""
    info = run(["xwininfo", "-id", window])
    fields = {}
    for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
        match = re.search(rf"^\s*{key}:\s*(-?\d+)", info, re.MULTILINE)
        if match is None:
            raise SessionError(f"xwininfo gave no {key!r} for window {window}")
        fields[key] = int(match.group(1))
    return (fields["Absolute upper-left X"], fields["Absolute upper-left Y"], fields["Width"],
            fields["Height"])


def screen_size() -> Tuple[int, int]:
    width, height = xdotool("getdisplaygeometry").split()
    return int(width), int(height)


def pointer() -> Tuple[int, int]:
    shell = dict(line.split("=", 1) for line in xdotool("getmouselocation", "--shell").split())
    return int(shell["X"]), int(shell["Y"])


def move_pointer(x: int, y: int):
    # --sync waits for the pointer to move, and so for ever if it is there already.
    if pointer() != (x, y):
        xdotool("mousemove", "--sync", str(x), str(y))


def click_at(x: int, y: int):
    """Moves the pointer there and clicks the left button once; returns once it is released."""
    move_pointer(x, y)
    # Without --delay 0, xdotool sleeps 100 ms after the click before it returns.
    xdotool("click", "--delay", "0", "1")


def move_window(window: str, x: int, y: int):
    xdotool("windowmove", "--sync", window, str(x), str(y))


def activate(window: str):
    xdotool("windowactivate", "--sync", window)


def press_keys(window: str, keys: str):
    """Activates the window, then types `keys` (xdotool's names: alt+s) as real key events."""
    activate(window)
    xdotool("key", "--clearmodifiers", keys)


def close(window: str):
    """Asks the window manager to close the window, as its close button or Alt+F4 does."""
    press_keys(window, "alt+F4")


def overlaps(a: Rect, b: Rect) -> bool:
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


def screenshot(rect: Rect, path: str, margin: int = 8, title_bar: int = 28):
    """Saves the screen around `rect`, with room for the frame and title bar, as a PNG."""
    x, y, width, height = rect
    left, top = max(0, x - margin), max(0, y - margin - title_bar)
    crop = f"{x + width + margin - left}x{y + height + margin - top}+{left}+{top}"
    # The real ImageMagick, not a stand-in that may be earlier on PATH.
    run(["/usr/bin/import", "-window", "root", "-crop", crop, "+repage", path], timeout_s=30)
