#!/usr/bin/env python3
"""xsession: a private X display for one test or benchmark run, and the X chores they share.

A session starts its own Xvfb on a free display number (Xvfb -displayfd picks it), openbox on
it when a window manager matters, and ends everything it started when it closes, so that runs
on different displays never share a pointer and may go in parallel. Processes are
clicksession.Child objects (tests/integration/clicksession.py), ended as whole process groups.

    with XSession(window_manager=True) as x:
        program = x.launch("clickburst", ["build/linux/src/clickburst"])
        window = x.wait_for_window("clickburst@example.org")
        start_ns = x.click(*window.start_button())
"""

import os
import re
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import List, Optional, Sequence

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
import clicksession  # noqa: E402  (the path above is where it lives)
from clicksession import Child, SessionError  # noqa: E402

# The Start button in client pixels at 96 DPI (Xvfb's resources set no other DPI).
START_BUTTON_LEFT, START_BUTTON_TOP, START_BUTTON_WIDTH, START_BUTTON_HEIGHT = 8, 16, 81, 33
SCREEN = "1280x1024x24"
# A receiver along the bottom of the screen, clear of where a new window is placed (top left
# without a window manager, the middle of the screen with openbox).
RECEIVER_GEOMETRY = "1280x320+0+704"
RECEIVER_POINT = (640, 864)
PROBE_TITLE = "xsession window manager probe"


@dataclass(frozen=True)
class Window:
    """A window as xwininfo reports it; x, y are the client area's top left on the screen."""
    id: int
    x: int
    y: int
    width: int
    height: int
    viewable: bool

    def start_button(self):
        return (self.x + START_BUTTON_LEFT + START_BUTTON_WIDTH // 2,
                self.y + START_BUTTON_TOP + START_BUTTON_HEIGHT // 2)


def parse_xwininfo(text: str) -> Optional[Window]:
    fields = {}
    for line in text.splitlines():
        match = re.match(r"\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height|"
                         r"Map State):\s*(\S+)", line)
        if match:
            fields[match.group(1)] = match.group(2)
    window_id = re.search(r"Window id: (0x[0-9a-fA-F]+)", text)
    if window_id is None or len(fields) < 5:
        return None
    return Window(int(window_id.group(1), 16), int(fields["Absolute upper-left X"]),
                  int(fields["Absolute upper-left Y"]), int(fields["Width"]),
                  int(fields["Height"]), fields["Map State"] == "IsViewable")


class XSession:
    def __init__(self, window_manager: bool = True, server_args: Sequence[str] = (),
                 env: Optional[dict] = None):
        self._children: List[Child] = []
        self.base_env = dict(os.environ if env is None else env)
        # -displayfd 1: Xvfb picks a free number and prints it once it accepts connections.
        self.server = Child("Xvfb", ["Xvfb", "-displayfd", "1", "-screen", "0", SCREEN,
                                     "-nolisten", "tcp", "-noreset", *server_args],
                            self.base_env)
        self._children.append(self.server)
        line = self.server.stdout.wait_for(str.isdigit, 30)
        if line is None:
            self.close()
            raise SessionError(f"Xvfb gave no display number\n{self.server.stderr_tail()}")
        number = line[1]
        self.number = int(number)
        self.name = f":{number}"
        self.env = dict(self.base_env, DISPLAY=self.name)
        if window_manager:
            try:
                self._start_window_manager()
            except BaseException:
                self.close()  # no `with` block owns the session yet
                raise

    def _start_window_manager(self):
        self.launch("openbox", ["openbox", "--sm-disable"])
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            check = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
            if "window id" in check.stdout:
                break
            time.sleep(0.02)
        else:
            raise SessionError(f"openbox did not come up on {self.name}")
        # openbox claims the root window some time before its event loop runs, and a window
        # mapped in between stays unmapped for good. It is ready once it manages a probe.
        probe = self.launch("probe", ["xmessage", "-title", PROBE_TITLE, "window manager probe"])
        try:
            while time.monotonic() < deadline:
                window = self.find_window(PROBE_TITLE)
                if window is not None and window.viewable:
                    return
                if window is not None:
                    self.run(["xdotool", "windowmap", str(window.id)], check=False)
                time.sleep(0.1)
            raise SessionError(f"openbox on {self.name} does not manage new windows")
        finally:
            probe.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def launch(self, name: str, argv: Sequence[str], env: Optional[dict] = None) -> Child:
        """Starts a process on this display; it is ended when the session closes."""
        return self.adopt(Child(name, argv, dict(self.env, **(env or {}))))

    def adopt(self, child: Child) -> Child:
        """Ends `child` with the session."""
        self._children.append(child)
        return child

    def run(self, argv: Sequence[str], check: bool = True,
            timeout_s: float = 20) -> subprocess.CompletedProcess:
        done = subprocess.run(argv, env=self.env, capture_output=True, text=True,
                              timeout=timeout_s, stdin=subprocess.DEVNULL)
        if check and done.returncode != 0:
            raise SessionError(f"{' '.join(argv)} failed ({done.returncode}): {done.stderr}")
        return done

    def xdotool(self, *args: str) -> subprocess.CompletedProcess:
        return self.run(["xdotool", *args])

    def find_window(self, name: str) -> Optional[Window]:
        """The window whose name is exactly `name`, or None if there is none (yet)."""
        done = self.run(["xwininfo", "-name", name], check=False)
        return parse_xwininfo(done.stdout) if done.returncode == 0 else None

    def wait_for_window(self, name: str, timeout_s: float = 20,
                        process: Optional[Child] = None) -> Window:
        """Waits until the window named `name` is viewable (and, under a window manager,
        has been placed in its frame)."""
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            window = self.find_window(name)
            if window is not None and window.viewable:
                return window
            if process is not None and process.exit_status is not None:
                raise SessionError(f"{process.name} ended with status {process.exit_status} "
                                   f"before showing \"{name}\"\n{process.stderr_tail()}")
            time.sleep(0.02)
        raise SessionError(f"no viewable window \"{name}\" on {self.name} after {timeout_s} s")

    def click(self, x: int, y: int) -> int:
        """Moves the pointer to x, y and clicks the left button there. Returns the
        monotonic time at which the click had been sent (a button acts on its release)."""
        # --delay 0: otherwise xdotool idles 100 ms after the click before it returns.
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "--delay", "0", "1")
        return time.monotonic_ns()

    def move_pointer(self, x: int, y: int):
        self.xdotool("mousemove", "--sync", str(x), str(y))

    def kill_server(self):
        """SIGKILL to the X server, as if it crashed, and the lock and socket it leaves."""
        self.server.kill()
        for leftover in (f"/tmp/.X{self.number}-lock", f"/tmp/.X11-unix/X{self.number}"):
            try:
                os.unlink(leftover)
            except FileNotFoundError:
                pass

    def close(self):
        # The server last: its clients end on their own once it has gone.
        for child in reversed(self._children):
            if child.exit_status is None:
                child.stop()
        self._children.clear()


def start_receiver(x: XSession, receiver: str, emulator: Sequence[str] = (),
                   geometry: str = RECEIVER_GEOMETRY,
                   seconds: float = 120) -> clicksession.Receiver:
    """A receiver at RECEIVER_GEOMETRY, ready; ended when the session closes."""
    argv = clicksession.with_emulator(emulator, [receiver, "--seconds", str(seconds),
                                                 "--geometry", geometry])
    return x.adopt(clicksession.start_receiver(argv, x.env))


def start_spy(x: XSession, spy: str, seconds: float = 120) -> clicksession.Receiver:
    """button_spy on this display, ready: it sees every click, wherever it lands."""
    started = x.adopt(clicksession.start_receiver([spy, "--seconds", str(seconds)], x.env))
    started.name = "button_spy"
    return started


def wait_for_presses(receiver: clicksession.Receiver, count: int, timeout_s: float) -> List[int]:
    """Waits until the receiver has logged `count` presses; their times (receiver clock)."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        presses = [event.ns for event in receiver.events() if event.kind == "down"]
        if len(presses) >= count:
            return presses
        time.sleep(0.005)
    raise SessionError(f"{receiver.name} saw fewer than {count} presses in {timeout_s} s")


def sleep_until_ns(monotonic_ns: int):
    left_s = (monotonic_ns - time.monotonic_ns()) / 1e9
    if left_s > 0:
        time.sleep(left_s)


def signal_process(child: Child, signum: int):
    """A signal to the process itself (not its group), as a user's kill would send it."""
    os.kill(child.proc.pid, signum)

