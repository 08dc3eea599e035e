"""Private headless Wayland compositors, one for each test. WaylandSession, the base, starts one
in a runtime folder of its own (also its HOME), waits for its socket, and gives its clients
WAYLAND_DISPLAY, XDG_RUNTIME_DIR and, where it runs Xwayland, DISPLAY (and XAUTHORITY). A
compositor is a subclass: its command and environment, what its clients need beyond the socket,
and for stage() how a person finds a window (wait_for_view), moves the cursor (move_pointer) and
clicks (click), where Xwayland's window, pointer and XTest do not serve. sway refuses root, so
an `unprivileged` session runs the compositor and its clients (Xwayland admits only its own
user) as USER, created if missing. Positions are the one headless output's pixels.

    Sway    sway 1.7 (wlroots 0.15): the virtual pointer manager, Xwayland
    Weston  weston: no virtual pointer manager, no Xwayland
    KWin    kwin_wayland 5.27+ (--virtual): fake input for installed programs, Xwayland; 6.1+:
            emulated input (EIS) for any client of its session bus; with Plasma's portal, its
            remote-desktop sessions
    Mutter  mutter 43+: GNOME's remote-desktop sessions, Xwayland, a session bus of its own

    with Sway() as w:
        program = w.launch("clickburst", ["build/linux/src/clickburst"])
        w.click(*w.wait_for_view("clickburst@example.org", program)[:2])
"""

import json
import os
import pwd
import shutil
import signal
import tempfile
import time
from typing import Callable, List, Optional, Sequence, Tuple

from harness import receiver
from harness.process import Child, run
from harness.session import Session
from harness.xsession import Window, XSession, start_button

USER = "clickburst-wayland"
Rect = Tuple[int, int, int, int]  # x, y, width, height in layout pixels


def ensure_user() -> pwd.struct_passwd:
    """The unprivileged user the compositor runs as; created (no home, no login) if missing."""
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER])
        return pwd.getpwnam(USER)


class WaylandSession(Session):
    name = "compositor"
    unprivileged = True  # runs as USER; False: as the harness's own user
    # Where stage() leaves the cursor: on the receiver, shown over the whole output, clear of
    # the program's window, which floats mid-screen.
    park = (40, 40)

    def __init__(self):
        super().__init__({"PATH": os.environ.get("PATH", "/usr/bin:/bin")})
        self.runtime_dir = tempfile.mkdtemp(prefix=f"clickburst-{self.name}-")
        self.env.update(HOME=self.runtime_dir, XDG_RUNTIME_DIR=self.runtime_dir)
        with self.starting():
            if self.unprivileged:
                user = ensure_user()
                os.chown(self.runtime_dir, user.pw_uid, user.pw_gid)
                self.prefix = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                               "--clear-groups"]
            self.compositor = self.launch(self.name, self.command(),
                                          dict(self.env, **self.compositor_env()))
            socket = self.wait_for_file("Wayland socket", lambda name: name.startswith(
                "wayland-") and not name.endswith(".lock"))
            # By path, so that clients need no XDG_RUNTIME_DIR of their own.
            self.env["WAYLAND_DISPLAY"] = os.path.join(self.runtime_dir, socket)
            self.env.update(self.client_env())

    def command(self) -> List[str]:
        raise NotImplementedError

    def compositor_env(self) -> dict:
        return {}

    def client_env(self) -> dict:
        """Once the socket is there: what clients need beyond it (Xwayland's DISPLAY, ...)."""
        return {}

    def close(self):
        super().close()
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    def wait_for_file(self, what: str, wanted: Callable[[str], bool], timeout_s: float = 20) -> str:
        """The first name in the runtime folder that `wanted` accepts."""
        return self.wait_until(f"{what} from {self.name}", lambda: next(
            (name for name in os.listdir(self.runtime_dir) if wanted(name)), None),
            timeout_s, self.compositor)

    def report_env_command(self) -> str:
        """A shell command for the compositor to run as its client: it writes the environment
        the compositor gives its clients, which reported_env() reads."""
        path = os.path.join(self.runtime_dir, "client-env")
        return f"env -0 > {path}.tmp && mv {path}.tmp {path}"

    def reported_env(self, names: Sequence[str] = ("DISPLAY", "XAUTHORITY")) -> dict:
        with open(os.path.join(self.runtime_dir, self.wait_for_file(
                "client's environment", lambda name: name == "client-env"))) as report:
            pairs = [entry.split("=", 1) for entry in report.read().split("\0") if "=" in entry]
        return {name: value for name, value in pairs if name in names}

    def stage(self, args, wrapper: Sequence[str] = ()):
        """receiver_wayland (args.wayland_receiver) under the parked cursor, receiver_x11
        (args.receiver) spying on Xwayland, and the program (args.program, titled args.title)
        through Xwayland: the receiver, the program, and the centre of Start (from
        args.start_button)."""
        waiting = self.start_receiver([args.wayland_receiver, "--seconds", "120"])
        self.move_pointer(*self.park)
        self.spy = self.start_receiver([args.receiver, "--spy", "--seconds", "120"], "button_spy")
        time.sleep(0.2)  # the receiver has seen the cursor come
        program = self.launch("clickburst", [args.program], wrapper=wrapper)
        x, y, width, height = self.wait_for_view(args.title, program)
        return waiting, program, start_button(Window(0, x, y, width, height, True),
                                              [args.start_button])

    def press_start(self, start: Tuple[int, int]) -> int:
        """Clicks Start and parks the cursor back on the receiver: the instant (CLOCK_MONOTONIC)
        at which Xwayland got the release that Start acts on."""
        return super().press_start(start, self.park, self.spy)

    # Where Xwayland runs, the defaults: its X11 windows, its pointer and XTest, as on an X server.
    find_window = XSession.find_window
    wait_for_window = XSession.wait_for_window
    place_window = XSession.place_window
    xdotool = XSession.xdotool
    pointer = XSession.pointer
    move_pointer = XSession.move_pointer
    click = XSession.click

    def wait_for_view(self, name: str, process: Optional[Child] = None,
                      timeout_s: float = receiver.STARTUP_TIMEOUT_S) -> Rect:
        """The client area of the program's window, titled `name`, once it is shown."""
        return self.wait_for_window(name, timeout_s, process).rect


class Weston(WaylandSession):
    name = "weston"

    def command(self) -> List[str]:
        return ["weston", "--backend=headless-backend.so", "--idle-time=0", "--socket=wayland-1"]


class Sway(WaylandSession):
    name = "sway"

    def command(self) -> List[str]:
        config = os.path.join(self.runtime_dir, "config")
        with open(config, "w") as out:
            out.write("xwayland enable\ndefault_border none\ndefault_floating_border none\n")
        return ["sway", "-c", config]

    def compositor_env(self) -> dict:
        return dict(WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")

    def client_env(self) -> dict:
        self.env["SWAYSOCK"] = os.path.join(self.runtime_dir, self.wait_for_file(
            "IPC socket", lambda name: name.startswith("sway-ipc.")))
        # sway gives its children the DISPLAY of its Xwayland.
        self.swaymsg("exec", self.report_env_command())
        return self.reported_env()

    def swaymsg(self, *args: str):
        return self.run(["swaymsg", *args])

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
        def shown() -> Optional[Rect]:
            for view in self.views():
                if view.get("name") == name and view["window_rect"]["width"] > 0:
                    outer, inner = view["rect"], view["window_rect"]
                    return (outer["x"] + inner["x"], outer["y"] + inner["y"], inner["width"],
                            inner["height"])
            return None

        return self.wait_until(f"window \"{name}\" shown by sway", shown, timeout_s, process, 0.05)

    def move_pointer(self, x: int, y: int):
        """Puts the seat's cursor at x, y (the seat needs a pointer device for that)."""
        self.swaymsg("seat", "seat0", "cursor", "set", str(x), str(y))

    def click(self, x: int, y: int) -> int:
        """A left click at x, y through the seat's cursor, as from a mouse. Returns the
        monotonic time at which it had been delivered (a button acts on its release)."""
        self.move_pointer(x, y)
        self.swaymsg("seat", "seat0", "cursor", "press", "button1")
        self.swaymsg("seat", "seat0", "cursor", "release", "button1")
        return time.monotonic_ns()


class KWin(WaylandSession):
    """`install`: a build folder that `cmake --install` puts into the session's HOME/.local,
    launcher entry included, before KWin starts; KWin gives its fake input to the program
    installed there (installed_program). `portal`: Plasma's remote-desktop portal, with remote
    control granted beforehand to programs outside a sandbox (app id ""), and its clients on a
    bus that shows them the portals only, as a sandbox's does. KWin centres every new window
    and keeps its cursor at the output's centre (the seat has no pointer of the harness's to
    move it with): the receiver gets the cursor, and wait_for_view moves the program's window
    off it."""
    name = "kwin_wayland"
    unprivileged = False
    WINDOW_AT = (1085, 20)  # the program's window, clear of the centred receiver (640x480)

    def __init__(self, install: Optional[str] = None, portal: bool = False):
        self.install = install
        self.portal = portal
        super().__init__()
        self.installed_program = os.path.join(self.runtime_dir, ".local/bin/clickburst")

    def command(self) -> List[str]:
        if self.install:
            self.run(["cmake", "--install", self.install, "--prefix",
                      os.path.join(self.runtime_dir, ".local")])
        if self.install or self.portal:
            # KWin finds launcher entries (ours, or the portal's, which names the screencast
            # global its sessions need) through this cache (KF6's tool on Plasma 6), which
            # KF6 fills from the applications menu: a Plasma session's comes with
            # plasma-workspace, so this one is the menu's least form, every installed entry.
            menu = os.path.join(self.runtime_dir, ".config", "menus", "applications.menu")
            os.makedirs(os.path.dirname(menu), exist_ok=True)
            with open(menu, "w") as out:
                out.write("<Menu><Name>Applications</Name><DefaultAppDirs/>"
                          "<Include><All/></Include></Menu>\n")
            self.run([shutil.which("kbuildsycoca6") or "kbuildsycoca5"])
        # No window decorations (kwin-common's, which Debian 13 needs for KWin's EIS): the
        # window stays where wait_for_view puts it.
        os.makedirs(os.path.join(self.runtime_dir, ".config"), exist_ok=True)
        with open(os.path.join(self.runtime_dir, ".config", "kwinrc"), "w") as out:
            out.write("[org.kde.kdecoration2]\nNoPlugin=true\n")
        # Debian's kwin_wayland has a file capability, so exec fails (EPERM) here; a copy has
        # none, and keeps the name under which Qt loads its platform plugin.
        copy = os.path.join(self.runtime_dir, "bin", "kwin_wayland")
        os.makedirs(os.path.dirname(copy))
        shutil.copy(shutil.which("kwin_wayland"), copy)
        # KWin runs the program it is given as one word (it splits a command line itself).
        report = os.path.join(self.runtime_dir, "bin", "report-env")
        with open(report, "w") as out:
            out.write(f"#!/bin/sh\n{self.report_env_command()}\n")
        os.chmod(report, 0o755)
        kwin = [copy, "--virtual", "--xwayland", "--width", "1280", "--height", "720", report]
        if self.portal:
            # The portal backend that serves KDE, picked as Plasma's own configuration does;
            # KWin offers the screencast global the portal's sessions need only with PipeWire.
            conf = os.path.join(self.runtime_dir, ".config", "xdg-desktop-portal")
            os.makedirs(conf)
            with open(os.path.join(conf, "kde-portals.conf"), "w") as out:
                out.write("[preferred]\ndefault=kde\n")
            kwin = ["sh", "-c", 'pipewire & exec "$@"', "sh", *kwin]
        return ["dbus-run-session", "--", *kwin]

    def compositor_env(self) -> dict:
        # Set before the bus starts, so that the portals it starts are KDE's.
        return dict(XDG_CURRENT_DESKTOP="KDE", QT_QPA_PLATFORM="wayland") if self.portal else {}

    def client_env(self) -> dict:
        # KWin's Xwayland, which it gives the program it starts, and the bus KWin is on.
        env = self.reported_env(("DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"))
        if self.portal:
            import dbus  # python3-dbus
            store = "org.freedesktop.impl.portal.PermissionStore"
            dbus.bus.BusConnection(env["DBUS_SESSION_BUS_ADDRESS"]).call_blocking(
                store, "/" + store.replace(".", "/"), store, "SetPermission", "sbssas",
                ["kde-authorized", True, "remote-desktop", "", ["yes"]])
            proxy = os.path.join(self.runtime_dir, "bus-proxy")
            self.launch("xdg-dbus-proxy", ["xdg-dbus-proxy", env["DBUS_SESSION_BUS_ADDRESS"],
                                           proxy, "--filter", "--talk=org.freedesktop.portal.*"])
            self.wait_for_file("bus proxy", lambda name: name == "bus-proxy")
            env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + proxy
        return env

    def wait_for_view(self, name: str, process: Optional[Child] = None,
                      timeout_s: float = receiver.STARTUP_TIMEOUT_S) -> Rect:
        """The X11 window titled `name`, moved to WINDOW_AT (again, if KWin places it after)."""
        return self.place_window(name, lambda w: (w.x, w.y) == self.WINDOW_AT, self.WINDOW_AT,
                                 process, timeout_s).rect


class Mutter(WaylandSession):
    """With `preload` (mutter_remote_access): stop_sessions() is the indicator's Stop,
    lock_screen() a screen lock. The cursor moves through a remote-desktop session of the
    harness's own (a headless seat has no pointer before one); Start is clicked with XTest, as
    a remote-desktop click did not press it in an X11 window that mutter had not focused."""
    name = "mutter"
    unprivileged = False
    # mutter centres the receiver's 640x480 on the 1280x720 output; mutter 48 centres the
    # program's window too (43 puts it top left), so the cursor rests off the centre.
    park = (400, 200)

    def __init__(self, preload: str):
        self.preload = preload
        super().__init__()

    def command(self) -> List[str]:
        # mutter runs the trailing command as its client once Xwayland's socket is there (43:
        # before Xwayland serves it), and ends with it.
        return ["dbus-run-session", "--", "mutter", "--headless", "--wayland", "--virtual-monitor",
                "1280x720", "--", "sh", "-c", f"PID=$PPID {self.report_env_command()}; sleep 1d"]

    def compositor_env(self) -> dict:
        return {"LD_PRELOAD": self.preload}

    def client_env(self) -> dict:
        import dbus  # python3-dbus, for mutter only
        env = self.reported_env(("DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "PID"))
        self.mutter_pid = int(env.pop("PID"))
        # Xwayland 22 counts down one seat event while it starts and, given two (the devices of
        # the harness's session below arriving with the first), spins for ever without serving
        # X: no session until it has answered a client.
        run(["xwininfo", "-root"], dict(self.env, **env))
        bus = dbus.bus.BusConnection(env["DBUS_SESSION_BUS_ADDRESS"])
        name = "org.gnome.Mutter.RemoteDesktop"
        # Mutter (48 more often) may take its bus name after its Xwayland's client starts.
        self.wait_until(f"{name} on mutter's bus", lambda: bus.name_has_owner(name), 20,
                        self.compositor)
        path = bus.call_blocking(name, "/" + name.replace(".", "/"), name, "CreateSession", "", [])
        self._pointer = dbus.Interface(bus.get_object(name, path), name + ".Session")
        self._pointer.Start()
        return env

    def stop_sessions(self):
        os.kill(self.mutter_pid, signal.SIGUSR1)

    def lock_screen(self):
        os.kill(self.mutter_pid, signal.SIGUSR2)
        self._pointer = None  # the harness's session ended too: the cursor stays put

    def move_pointer(self, x: int, y: int):
        if self._pointer is not None:  # relative motion: absolute needs a screencast stream
            self._pointer.NotifyPointerMotionRelative(-10000.0, -10000.0)
            self._pointer.NotifyPointerMotionRelative(float(x), float(y))
