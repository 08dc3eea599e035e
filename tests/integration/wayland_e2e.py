#!/usr/bin/env python3
"""The real program on Wayland, each case on a compositor of its own (tests/harness/wayland.py).

  burst            sway with Xwayland: the window comes up through Xwayland, Start is clicked
                   through the seat's cursor, and the cursor parked on receiver_wayland, a native
                   Wayland window, which gets the whole burst through the virtual pointer.
                   Before Start nothing moves or clicks (the window's early zero motion goes
                   to Xwayland 23.1+ only, which has the XWAYLAND extension; Debian 12's 22.1
                   gets none, and a build that sends it anyway moved nothing here either).
  killed           sway: SIGKILL at three points of the click period leaves no button down
                   (wlroots releases nothing when a virtual pointer goes away).
  no_manager       weston (no virtual pointer manager) beside an Xvfb for the window: the notice
                   once on standard error, the whole burst through XTest, and nothing moves or
                   clicks before Start.
  foreign_mutter   no_manager with a headless mutter on the session bus: never clicked into;
  foreign_kwin     the same with a headless KWin 6, whose emulated input is for any client.
  bus_stalled      no_manager on a session bus that never answers: the fallback within the
                   set-up's bound, saying so.
  compositor_lost  sway killed mid-burst while the window is on an Xvfb: status 69, named.
  gnome_burst      headless mutter with Xwayland: the burst, as on sway, through the program's
  gnome_killed     remote-desktop session; SIGKILL at three points of the period.
  gnome_stopped    the session ended mid-burst as the indicator's Stop does: status 0 at once,
                   one line saying why, no press after it, none left down.
  gnome_locked     remote access inhibited before the launch, as by a screen lock: the notice
                   names mutter's refusal.
  gnome_bus_lost   the session bus killed mid-burst: status 69, no button left down.
  kde_burst, kde_killed  burst and killed on KWin, the program installed with its launcher
                   entry into the session's HOME: fake input (KWin releases nothing either).
  kde_not_installed  KWin, the program run from its build, with libei.so.1 unloadable (as on
                   Debian 12, which has none): the notice naming the install and libei, and
                   the whole burst through XTest into Xwayland.
  kde_eis_burst, kde_eis_killed  burst and killed on KWin 6, the program run from its build:
                   KWin's emulated input, through libei.
  kde_portal_burst burst on KWin 6 from behind a sandbox's bus, which shows only the portals:
                   the remote-desktop portal's emulated input, granted beforehand.
  kde_portal_ended the same, with Plasma's portal killed mid-burst, which ends its sessions:
                   as gnome_stopped.

Usage: wayland_e2e.py CASE --program clickburst --title TITLE --receiver receiver_x11
         --wayland-receiver receiver_wayland --start-button start_button --build-dir BUILD
         [--mutter-preload libmutter_remote_access.so]
"""

import glob
import os
import signal
import sys
import time
from typing import List, Tuple

from harness import figures
from harness.cases import Stage, dialog_button, kill_at_three_phases, main, with_tails
from harness.process import Child, run
from harness.receiver import Expectations, check_burst, finish, nothing_before_start, summary
from harness.wayland import KWin, Mutter, Sway, Weston
from harness.xsession import RECEIVER_POINT

FALLBACK = "so the clicks go through X11"  # in every notice of a fallback to XTest
INSTALL_HINT = "install it with `cmake --install build/program --prefix ~/.local` or the .deb"


def notices(program) -> List[Tuple[int, str]]:
    """What the program said on standard error about falling back to XTest, and when."""
    return [(ns, line) for ns, line in program.stderr.lines() if FALLBACK in line]


def kwin(args) -> KWin:
    """KWin, with the program installed (launcher entry included) into its HOME."""
    w = KWin(install=args.build_dir)
    args.program = w.installed_program
    return w


def without_libei() -> List[str]:
    """A wrapper: its command runs with /dev/null bound over libei.so.1, in a mount namespace
    of its own, so that the library cannot be loaded. In a chroot (a test room) "/" cannot be
    made private; there the bind is made only where no mount is shared."""
    found = glob.glob("/usr/lib/*/libei.so.1")
    hide = ('{ mount --make-rprivate / 2>/dev/null || ! grep -q " shared:" /proc/self/mountinfo; }'
            ' && mount --bind /dev/null "$1" && shift && exec "$@"')
    return ["unshare", "--mount", "--propagation", "unchanged", "sh", "-c", hide, "sh",
            found[0]] if found else []


def burst_on(session, args) -> Tuple[List[str], str]:
    with session as w:
        receiver, program, start = w.stage(args)
        time.sleep(1.0)  # the window's early zero motion, if any, has long arrived
        start_ns = w.press_start(start)
        burst = finish(receiver, program, start_ns)
        failures = check_burst(burst, Expectations())
        failures += nothing_before_start(receiver, program.started_ns, burst.start_ns)
        failures += [f"the program printed the notice: {line}" for _, line in notices(program)]
        return with_tails(failures, program, receiver), summary(burst)


def killed_on(session, args) -> Tuple[List[str], str]:
    with session as w:
        def begin():
            receiver, program, start = w.stage(args)
            return receiver, program, w.press_start(start)

        return kill_at_three_phases(begin)


def bus_process(w, service: str = "") -> int:
    """The bus daemon of a compositor's own dbus-run-session, or a `service` it started (which
    the daemon hands over to init: it is known by the session's runtime folder)."""
    if not service:
        return int(run(["pgrep", "-P", str(w.compositor.proc.pid), "dbus-daemon"]).stdout.split()[0])
    mark = f"XDG_RUNTIME_DIR={w.runtime_dir}".encode()
    for pid in run(["pgrep", "-f", service], check=False).stdout.split():
        with open(f"/proc/{pid}/environ", "rb") as environ:
            if mark in environ.read().split(b"\0"):
                return int(pid)
    raise AssertionError(f"no {service} of this session")


def ended_on(session, args, end, said: str) -> Tuple[List[str], str]:
    """The desktop ends the program's session mid-burst (`end(session)`): status 0 at once, a
    last line saying `said`, no press after it, none left down."""
    with session as w:
        receiver, program, start = w.stage(args)
        start_ns = w.press_start(start)
        receiver.wait_for_presses(5, 10, receiver.to_receiver_clock(start_ns))
        stop_ns = time.monotonic_ns()
        end(w)
        program.wait_exit(1)
        burst = finish(receiver, program, start_ns, 0)
        lines = program.stderr.text().splitlines()
        late = [ns for ns in burst.presses if ns > receiver.to_receiver_clock(stop_ns) + 20e6]
        failures = [f"status {program.exit_status} 1 s after the end, {len(late)} presses after "
                    f"it, standard error {lines}"] if (program.exit_status != 0 or late or notices(
                        program) or not lines or said not in lines[-1]) else []
        failures += burst.button_faults()
        return failures, f"{summary(burst)} after_end={(program.exit_ns - stop_ns) / 1e6}ms"


def case_gnome_locked(args) -> Tuple[List[str], str]:
    with Mutter(args.mutter_preload) as w:
        w.lock_screen()
        _, program, _ = w.stage(args)
        notice = program.stderr.wait_for(lambda line: FALLBACK in line, 5)
        if notice and "Session creation inhibited" in notice[1]:
            return [], "notice names mutter's refusal"
        return [f"no notice naming mutter's refusal: {program.stderr.text()!r}"], ""


def case_no_manager(args, bus: str = "", reason: str = "offers no virtual pointer") -> Tuple[List[str], str]:
    with Weston() as w, Stage(args) as stage:
        stage.env["WAYLAND_DISPLAY"] = w.env["WAYLAND_DISPLAY"]
        if bus:
            stage.env["DBUS_SESSION_BUS_ADDRESS"] = bus() if callable(bus) else bus
        receiver = stage.receiver()
        stage.move_pointer(*RECEIVER_POINT)
        # Logged before the launch, which starts the time in which nothing may move.
        receiver.stdout.wait_for(lambda text: text.startswith("motion"), 2)
        program, window = stage.launch_program()
        time.sleep(1.0)
        pointer_before = stage.pointer()
        start_ns = stage.press_start(window, then_to=pointer_before)
        burst = finish(receiver, program, start_ns)
        failures = check_burst(burst, Expectations())
        failures += nothing_before_start(receiver, program.started_ns, burst.start_ns)
        if pointer_before != RECEIVER_POINT:
            failures.append(f"the pointer moved from {RECEIVER_POINT} to {pointer_before} "
                            f"before Start")
        said = notices(program)
        if len(said) != 1 or reason not in said[0][1]:
            failures.append(f"expected one notice saying {reason!r}, got {said}")
        notice_ms = (said[0][0] - program.started_ns) / 1e6 if said else -1
        return with_tails(failures, program, receiver), f"{summary(burst)} notice={notice_ms}ms"


def case_foreign_mutter(args) -> Tuple[List[str], str]:
    with Mutter(args.mutter_preload) as mutter:  # the whole burst must reach the Xvfb instead
        return case_no_manager(args, mutter.env["DBUS_SESSION_BUS_ADDRESS"], "another desktop")


def case_foreign_kwin(args) -> Tuple[List[str], str]:
    with KWin() as kwin:
        return case_no_manager(args, kwin.env["DBUS_SESSION_BUS_ADDRESS"], "another desktop")


def case_bus_stalled(args) -> Tuple[List[str], str]:
    def stopped_bus():  # accepts connections, as the kernel does for it, and answers nothing
        daemon = Child("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--print-address"])
        address = daemon.stdout.wait_for(lambda line: line.startswith("unix:"), 10)[1]
        daemon.signal(signal.SIGSTOP)
        stopped.append(daemon)
        return address

    stopped: List[Child] = []
    try:
        return case_no_manager(args, stopped_bus, "did not answer within the 2000 ms")
    finally:
        for daemon in stopped:
            daemon.kill()


def case_gnome_bus_lost(args) -> Tuple[List[str], str]:
    with Mutter(args.mutter_preload) as w:
        receiver, program, start = w.stage(args)
        start_ns = w.press_start(start)
        receiver.wait_for_presses(5, 10, receiver.to_receiver_clock(start_ns))
        os.kill(bus_process(w), signal.SIGKILL)
        status = program.wait_exit(10)
        burst = finish(receiver, program, start_ns, 0)
        failures = burst.button_faults() + ([] if status == 69 else [
            f"status {status}, expected 69: {program.stderr.text()!r}"])
        return failures, f"{summary(burst)} said={program.stderr.text()[:90]!r}"


def case_kde_not_installed(args) -> Tuple[List[str], str]:
    with KWin() as w:
        receiver, program, start = w.stage(args, without_libei())
        start_ns = w.press_start(start)
        burst = finish(w.spy, program, start_ns, since_ns=start_ns + 1)  # after Start
        failures = check_burst(burst, Expectations())
        failures += [f"receiver_wayland got {event.kind} {event.detail}"
                     for event in receiver.events() if event.kind in ("down", "up")][:1]
        said = [line for _, line in notices(program)]
        if len(said) != 1 or INSTALL_HINT not in said[0] or "libei.so.1" not in said[0]:
            failures.append(f"expected one notice naming the install and libei, got {said}")
        return with_tails(failures, program), summary(burst)


def case_kde_portal_ended(args) -> Tuple[List[str], str]:
    def end(w):
        os.kill(bus_process(w, "xdg-desktop-portal-kde"), signal.SIGKILL)

    return ended_on(KWin(portal=True), args, end, "ends now")


def case_compositor_lost(args) -> Tuple[List[str], str]:
    with Sway() as w, Stage(args) as stage:
        stage.env["WAYLAND_DISPLAY"] = w.env["WAYLAND_DISPLAY"]
        program, window = stage.launch_program()
        stage.press_start(window, then_to=None)
        time.sleep((figures.FIRST_CLICK_MS + 500) / 1000)
        w.compositor.kill()
        # The window is still there, so the error is also shown in its dialog, to dismiss with
        # its button: an Alt+F4 goes to the window openbox has focused, and when it comes as the
        # dialog maps it may close the main window, which FLTK ignores under a modal dialog.
        stage.click(*dialog_button(stage.wait_for_window("clickburst: connection lost",
                                                         timeout_s=5, process=program)))
        status = program.wait_exit(5)
        message = program.stderr.text()
        failures = []
        if status != 69 or "Wayland compositor" not in message:
            failures.append(f"status {status}, expected 69 with the compositor named; "
                            f"stderr: {message!r}")
        return failures, f"status={status}"


if __name__ == "__main__":
    sys.exit(main("wayland", {"burst": lambda args: burst_on(Sway(), args),
                              "killed": lambda args: killed_on(Sway(), args),
                              "no_manager": case_no_manager,
                              "foreign_mutter": case_foreign_mutter,
                              "foreign_kwin": case_foreign_kwin,
                              "bus_stalled": case_bus_stalled,
                              "gnome_bus_lost": case_gnome_bus_lost,
                              "compositor_lost": case_compositor_lost,
                              "gnome_burst": lambda a: burst_on(Mutter(a.mutter_preload), a),
                              "gnome_killed": lambda a: killed_on(Mutter(a.mutter_preload), a),
                              "gnome_stopped": lambda a: ended_on(
                                  Mutter(a.mutter_preload), a, Mutter.stop_sessions, "GNOME ended"),
                              "gnome_locked": case_gnome_locked,
                              "kde_burst": lambda a: burst_on(kwin(a), a),
                              "kde_killed": lambda a: killed_on(kwin(a), a),
                              "kde_not_installed": case_kde_not_installed,
                              "kde_eis_burst": lambda args: burst_on(KWin(), args),
                              "kde_eis_killed": lambda args: killed_on(KWin(), args),
                              "kde_portal_burst": lambda a: burst_on(KWin(portal=True), a),
                              "kde_portal_ended": case_kde_portal_ended},
                  sys.argv[1:], lambda parser: (parser.add_argument("--wayland-receiver"),
                                                parser.add_argument("--build-dir"),
                                                parser.add_argument("--mutter-preload"))))
