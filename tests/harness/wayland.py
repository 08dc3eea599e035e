"""A private headless Wayland compositor for one test: sway 1.7 (wlroots 0.15, with the virtual
pointer manager and Xwayland) or weston (no virtual pointer manager, no Xwayland). Neither
runs as root, so the compositor, and every client that must reach its Xwayland (which admits
only its own user), runs as USER, created if missing. Everything started is ended when the
session closes, the compositor's own children (Xwayland) with its process group.

    with WaylandSession() as w:
        receiver = w.start_receiver(["receiver_wayland"])
        program = w.launch("clickburst", ["build/linux/src/clickburst"])
        window = w.wait_for_view("clickburst@example.org", program)
        w.click(x, y)

Positions are in the compositor's layout, which is the one headless output's pixels.
"""

import json
import os
import pwd
import shutil
import tempfile
import time
from typing import List, Optional, Sequence, Tuple

from harness import receiver
from harness.process import Child, SessionError, run
from harness.xsession import Window, start_button

USER = "clickburst-wayland"
SWAY_CONFIG = "xwayland enable\ndefault_border none\ndefault_floating_border none\n"
Rect = Tuple[int, int, int, int]  # x, y, width, height in layout pixels
# On the receiver, which sway tiles over the whole output; the program's window floats mid-screen.
PARK = (40, 40)


def ensure_user() -> pwd.struct_passwd:
    """The unprivileged user the compositor runs as; created (no home, no login) if missing."""
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER])
        return pwd.getpwnam(USER)


class WaylandSession:
    def __init__(self, compositor: str = "sway"):
        self._children: List[Child] = []
        user = ensure_user()
        self._as_user = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                         "--clear-groups"]
        self.runtime_dir = tempfile.mkdtemp(prefix="clickburst-wayland-")
        os.chown(self.runtime_dir, user.pw_uid, user.pw_gid)
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime_dir,
                "XDG_RUNTIME_DIR": self.runtime_dir}
        try:
            if compositor == "sway":
                config = os.path.join(self.runtime_dir, "config")
                with open(config, "w") as out:
                    out.write(SWAY_CONFIG)
                self.compositor = self.launch("sway", ["sway", "-c", config], dict(
                    base, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                    WLR_LIBINPUT_NO_DEVICES="1"))
            else:
                self.compositor = self.launch("weston", [
                    "weston", "--backend=headless-backend.so", "--idle-time=0",
                    "--socket=wayland-1"], base)
            socket = self._wait_for_file(lambda name: name.startswith("wayland-")
                                         and not name.endswith(".lock"))
            # By path, so that clients need no XDG_RUNTIME_DIR of their own.
            self.env = dict(base, WAYLAND_DISPLAY=os.path.join(self.runtime_dir, socket))
            if compositor == "sway":
                self.env["SWAYSOCK"] = os.path.join(
                    self.runtime_dir, self._wait_for_file(lambda name: name.startswith("sway-ipc.")))
                # sway gives its children the DISPLAY of its Xwayland.
                self.swaymsg("exec", f"printenv DISPLAY > {self.runtime_dir}/display.tmp && "
                             f"mv {self.runtime_dir}/display.tmp {self.runtime_dir}/display")
                self._wait_for_file(lambda name: name == "display")
                with open(os.path.join(self.runtime_dir, "display")) as display:
                    self.env["DISPLAY"] = display.read().strip()
        except BaseException:
            self.close()
            raise

    def _wait_for_file(self, wanted, timeout_s: float = 20) -> str:
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            found = [name for name in os.listdir(self.runtime_dir) if wanted(name)]
            if found:
                return found[0]
            if self.compositor.exit_status is not None:
                break
            time.sleep(0.02)
        raise SessionError(f"{self.compositor.name} did not come up (status "
                           f"{self.compositor.exit_status})\n{self.compositor.stderr_tail()}")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def launch(self, name: str, argv: Sequence[str], env: Optional[dict] = None,
               wrapper: Sequence[str] = ()) -> Child:
        """Starts a process as USER (under `wrapper`, run as root) on this session; it is
        ended when the session closes."""
        child = Child(name, [*wrapper, *self._as_user, *argv], self.env if env is None else env)
        self._children.append(child)
        return child

    def start_receiver(self, argv: Sequence[str]) -> receiver.Receiver:
        """receiver_wayland, ready; the compositor tiles it over the whole output."""
        child = receiver.start_receiver("receiver_wayland", [*self._as_user, *argv], self.env)
        self._children.append(child)
        return child

    def stage(self, args, wrapper: Sequence[str] = ()):
        """receiver_wayland (args.wayland_receiver) under the parked cursor, receiver_x11
        (args.receiver) spying on Xwayland, and the program (args.program, titled args.title)
        through Xwayland: the receiver, the program, and the centre of Start (from
        args.start_button)."""
        waiting = self.start_receiver([args.wayland_receiver, "--seconds", "120"])
        self.park_cursor(*PARK)
        self.spy = receiver.start_receiver("button_spy", [*self._as_user, args.receiver, "--spy",
                                                          "--seconds", "120"], self.env)
        self._children.append(self.spy)
        time.sleep(0.2)  # the receiver has seen the cursor come
        program = self.launch("clickburst", [args.program], wrapper=wrapper)
        x, y, width, height = self.wait_for_view(args.title, program)
        return waiting, program, start_button(Window(0, x, y, width, height, True),
                                              [args.start_button])

    def press_start(self, start: Tuple[int, int]) -> int:
        """Clicks Start, parks the cursor back on the receiver, and returns the instant
        (CLOCK_MONOTONIC) at which Xwayland got the release that Start acts on."""
        seen = len(self.spy.events())
        self.click(*start)
        self.park_cursor(*PARK)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            releases = [event.ns for event in self.spy.events()[seen:] if event.kind == "up"]
            if releases:
                return releases[0]
            time.sleep(0.01)
        raise SessionError("Xwayland never saw the click on Start")

    def swaymsg(self, *args: str):
        return run(["swaymsg", *args], self.env)

    def views(self) -> List[dict]:
        """Every window sway shows, tiled or floating, as its tree node."""
        found, nodes = [], [json.loads(self.swaymsg("-t", "get_tree").stdout)]
        while nodes:
            node = nodes.pop()
            if node.get("pid"):
                found.append(node)
            nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        return found

    def wait_for_view(self, name: str, process: Optional[Child] = None,
                      timeout_s: float = receiver.STARTUP_TIMEOUT_S) -> Rect:
        """The client area of the window titled `name`, once sway shows it."""
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            for view in self.views():
                if view.get("name") == name and view["window_rect"]["width"] > 0:
                    outer, inner = view["rect"], view["window_rect"]
                    return (outer["x"] + inner["x"], outer["y"] + inner["y"], inner["width"],
                            inner["height"])
            if process is not None and process.exit_status is not None:
                raise SessionError(f"{process.name} ended with status {process.exit_status} "
                                   f"before showing \"{name}\"\n{process.stderr_tail()}")
            time.sleep(0.05)
        raise SessionError(f"sway shows no window \"{name}\" after {timeout_s} s")

    def park_cursor(self, x: int, y: int):
        """Puts the seat's cursor at x, y (the seat needs a pointer device for that)."""
        self.swaymsg("seat", "seat0", "cursor", "set", str(x), str(y))

    def click(self, x: int, y: int) -> int:
        """A left click at x, y through the seat's cursor, as from a mouse. Returns the
        monotonic time at which it had been delivered (a button acts on its release)."""
        self.park_cursor(x, y)
        self.swaymsg("seat", "seat0", "cursor", "press", "button1")
        self.swaymsg("seat", "seat0", "cursor", "release", "button1")
        return time.monotonic_ns()

    def close(self):
        # The compositor last: its clients end on their own once it has gone.
        for child in reversed(self._children):
            if child.exit_status is None:
                child.stop()
        self._children.clear()
        shutil.rmtree(self.runtime_dir, ignore_errors=True)
