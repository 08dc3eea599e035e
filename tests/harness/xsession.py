"""A private X display for one test or benchmark run: Xvfb on a free display number, openbox
on it when a window manager matters, and what a person does there (find a window, move the
pointer, click, type, close, take a screenshot). Everything started is ended when the
session closes, so runs on different displays never share a pointer and may go in parallel.

    with XSession() as x:
        program = x.launch("clickburst", ["build/linux/src/clickburst"])
        window = x.wait_for_window("clickburst@example.org", process=program)
        x.click(*start_button(window, ["build/linux/tests/integration/start_button"]))

As a command, runs COMMAND on a fresh session (with a running Wine server for PREFIX) and
ends it all afterwards: python3 -m harness.xsession [--wine PREFIX] [--logs DIR] COMMAND...
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Callable, Optional, Sequence, Tuple

from harness import receiver, wine
from harness.process import Child, SessionError, run
from harness.session import Session

SCREEN = "1280x1024x24"
# A receiver along the bottom of the screen, clear of where a new window is placed (top left
# without a window manager, near the top left or the middle with openbox).
RECEIVER_GEOMETRY = "1280x320+0+704"
RECEIVER_RECT = (0, 704, 1280, 320)
RECEIVER_POINT = (640, 864)
PROBE_TITLE = "xsession window manager probe"

Rect = Tuple[int, int, int, int]  # x, y, width, height in screen pixels


@dataclass(frozen=True)
class Window:
    """A window as xwininfo reports it; x, y are the client area's top left on the screen."""
    id: int
    x: int
    y: int
    width: int
    height: int
    viewable: bool

    @property
    def rect(self) -> Rect:
        return self.x, self.y, self.width, self.height


def parse_xwininfo(text: str) -> Optional[Window]:
    fields = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height|"
                             r"Map State):\s*(\S+)", text, re.MULTILINE))
    window_id = re.search(r"Window id: (0x[0-9a-fA-F]+)", text)
    if window_id is None or len(fields) < 5:
        return None
    return Window(int(window_id.group(1), 16), int(fields["Absolute upper-left X"]),
                  int(fields["Absolute upper-left Y"]), int(fields["Width"]),
                  int(fields["Height"]), fields["Map State"] == "IsViewable")


def start_button(window: Window, tool: Sequence[str]) -> Tuple[int, int]:
    """The centre of Start on the screen. `tool` runs start_button, which has the window's
    layout table compiled in and gives Start's rectangle for a client area this wide."""
    left, top, width, height = map(int, run([*tool, str(window.width)], timeout_s=60).stdout.split())
    return window.x + left + width // 2, window.y + top + height // 2


def overlaps(a: Rect, b: Rect) -> bool:
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


class XSession(Session):
    def __init__(self, window_manager: bool = True, server_args: Sequence[str] = (),
                 env: Optional[dict] = None):
        super().__init__(env)
        with self.starting():
            # -displayfd 1: Xvfb picks a free number and prints it once it accepts connections.
            self.server = self.launch("Xvfb", ["Xvfb", "-displayfd", "1", "-screen", "0", SCREEN,
                                               "-nolisten", "tcp", "-noreset", *server_args])
            line = self.server.stdout.wait_for(str.isdigit, 30)
            if line is None:
                raise SessionError(f"Xvfb gave no display number\n{self.server.stderr_tail()}")
            self.number = int(line[1])
            self.name = f":{self.number}"
            self.env["DISPLAY"] = self.name
            if window_manager:
                self._start_window_manager()

    def _start_window_manager(self):
        self.launch("openbox", ["openbox", "--sm-disable"])
        self.wait_until(f"openbox on {self.name}", lambda: "window id" in self.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False).stdout)
        # openbox claims the root window some time before its event loop runs, and a window
        # mapped in between stays unmapped for good. It is ready once it manages a probe.
        probe = self.launch("probe", ["xmessage", "-title", PROBE_TITLE, "window manager probe"])

        def managed() -> bool:
            window = self.find_window(PROBE_TITLE)
            if window is not None and not window.viewable:
                self.xdotool("windowmap", str(window.id), check=False)
            return window is not None and window.viewable

        try:
            self.wait_until(f"probe window managed by openbox on {self.name}", managed,
                            interval_s=0.1)
        finally:
            probe.stop()

    def start_receiver(self, argv: Sequence[str], name: str = "receiver",
                       geometry: Optional[str] = RECEIVER_GEOMETRY) -> receiver.Receiver:
        """A receiver (or button_spy), ready; argv without --geometry, which this adds."""
        return super().start_receiver([*argv, "--geometry", geometry] if geometry else argv, name)

    def xdotool(self, *args: str, check: bool = True):
        return self.run(["xdotool", *args], check)

    def find_window(self, name: str) -> Optional[Window]:
        """The innermost window whose name is exactly `name`, or None if there is none (yet):
        mutter 44+ frames an X11 window in a window of its frames client that bears the same
        name, and a tree lists a window's children after it."""
        named = re.findall(rf'^\s*(0x[0-9a-f]+) "{re.escape(name)}":', self.run(
            ["xwininfo", "-root", "-tree"]).stdout, re.MULTILINE)
        done = self.run(["xwininfo", "-id", named[-1]], check=False) if named else None
        return parse_xwininfo(done.stdout) if done and done.returncode == 0 else None

    def wait_for_window(self, name: str, timeout_s: float = receiver.STARTUP_TIMEOUT_S,
                        process: Optional[Child] = None) -> Window:
        """Waits until the window named `name` is viewable (and, under a window manager,
        has been placed in its frame)."""
        def viewable() -> Optional[Window]:
            window = self.find_window(name)
            return window if window and window.viewable else None

        return self.wait_until(f"viewable window \"{name}\" on {self.name}", viewable,
                               timeout_s, process)

    def place_window(self, name: str, placed: Callable[[Window], bool], to: Tuple[int, int],
                     process: Optional[Child] = None,
                     timeout_s: float = receiver.STARTUP_TIMEOUT_S) -> Window:
        """The viewable window named `name`, moved to `to` until `placed` accepts where it is,
        and again if the window manager places it after that (it is looked at again 0.5 s on)."""
        def moved() -> Optional[Window]:
            window = self.find_window(name)
            if window is None or not window.viewable:
                return None
            if placed(window):
                return window
            self.xdotool("windowmove", str(window.id), *map(str, to))
            return None

        self.wait_until(f"window \"{name}\" placed", moved, timeout_s, process, 0.2)
        time.sleep(0.5)
        return self.wait_until(f"window \"{name}\" placed", moved, timeout_s, process, 0.2)

    def pointer(self) -> Tuple[int, int]:
        shell = dict(line.split("=", 1)
                     for line in self.xdotool("getmouselocation", "--shell").stdout.split())
        return int(shell["X"]), int(shell["Y"])

    def move_pointer(self, x: int, y: int):
        # --sync waits for the pointer to move, and so for ever if it is there already.
        if self.pointer() != (x, y):
            self.xdotool("mousemove", "--sync", str(x), str(y))

    def click(self, x: int, y: int) -> int:
        """Moves the pointer to x, y and clicks the left button there, through XTest (under
        Wayland it reaches X11 windows only, as Start is). Returns the monotonic time at which
        the click had been sent (a button acts on its release)."""
        # --delay 0: otherwise xdotool idles 100 ms after the click before it returns.
        self.xdotool("mousemove", str(x), str(y), "click", "--delay", "0", "1")
        return time.monotonic_ns()

    def press_keys(self, window: Window, keys: str):
        """Activates the window, then types `keys` (xdotool's names: alt+s) as real key events."""
        self.xdotool("windowactivate", "--sync", str(window.id))
        self.xdotool("key", "--clearmodifiers", keys)

    def close_window(self, window: Window):
        """Asks the window manager to close the window, as its close button or Alt+F4 does."""
        self.press_keys(window, "alt+F4")

    def screenshot(self, rect: Rect, path: str, margin: int = 8, title_bar: int = 28):
        """Saves the screen around `rect`, with room for the frame and title bar, as a PNG."""
        x, y, width, height = rect
        left, top = max(0, x - margin), max(0, y - margin - title_bar)
        crop = f"{x + width + margin - left}x{y + height + margin - top}+{left}+{top}"
        # The real ImageMagick, not a stand-in that may be earlier on PATH.
        self.run(["/usr/bin/import", "-window", "root", "-crop", crop, "+repage", path],
                 timeout_s=30)

    def kill_server(self):
        """SIGKILL to the X server, as if it crashed, and the lock and socket it leaves."""
        self.server.kill()
        for leftover in (f"/tmp/.X{self.number}-lock", f"/tmp/.X11-unix/X{self.number}"):
            try:
                os.unlink(leftover)
            except FileNotFoundError:
                pass


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description="Runs a command on a private Xvfb and openbox.")
    parser.add_argument("--wine", metavar="PREFIX", help="a Wine prefix to create and serve")
    parser.add_argument("--logs", help="a folder for the X server's log and the Wine prefix's")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    # A runner stopped with SIGTERM (a CI timeout) still takes its session down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        with XSession() as x:
            env = x.env
            if args.wine:
                env = wine.start_server(args.wine, env, args.logs)
            print(f"xsession: X display {x.name}", flush=True)
            try:
                return subprocess.call(command, env=env)
            finally:
                if args.wine:
                    wine.stop_server(env)
                if args.logs:
                    with open(os.path.join(args.logs, "xvfb.log"), "w") as log:
                        log.write(x.server.stderr.text() + "\n")
    except SessionError as error:
        print(f"xsession: ERROR {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
