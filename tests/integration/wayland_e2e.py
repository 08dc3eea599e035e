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
  compositor_lost  sway killed mid-burst while the window is on an Xvfb: status 69, named.
  gnome_burst      headless mutter with Xwayland: the burst, as on sway, through the program's
  gnome_killed     remote-desktop session; SIGKILL at three points of the period.
  gnome_stopped    the session ended mid-burst as the indicator's Stop does: status 0 at once,
                   one line saying why, no press after it, none left down.
  gnome_locked     remote access inhibited before the launch, as by a screen lock: the notice
                   names mutter's refusal.
  kde_burst, kde_killed  burst and killed on KWin, the program installed with its launcher
                   entry into the session's HOME: fake input (KWin releases nothing either).
  kde_not_installed  KWin, the program run from its build: the notice naming the install, and
                   the whole burst through XTest into Xwayland.

Usage: wayland_e2e.py CASE --program clickburst --title TITLE --receiver receiver_x11
         --wayland-receiver receiver_wayland --start-button start_button --build-dir BUILD
         [--mutter-preload libmutter_remote_access.so]
"""

import sys
import time
from typing import List, Tuple

from harness import figures
from harness.cases import DIALOG_TITLE, Stage, kill_at_three_phases, main, with_tails
from harness.receiver import Expectations, check_burst, finish, summary
from harness.wayland import KWin, Mutter, Sway, Weston
from harness.xsession import RECEIVER_POINT

NOTICE = "offers no virtual pointer"
FALLBACK = "so the clicks go through X11"  # in every notice of a fallback to XTest
INSTALL_HINT = "install it with `cmake --install build/linux --prefix ~/.local` or the .deb"


def quiet_before_start(receiver, launched_ns: int, start_ns: int) -> List[str]:
    """Nothing may reach the receiver from the program's launch (harness clock) to Start."""
    since = receiver.to_receiver_clock(launched_ns)
    early = [event for event in receiver.events(since) if event.ns < start_ns]
    return [f"before Start the receiver got {early[0].kind} {early[0].detail}"] if early else []


def kwin(args) -> KWin:
    """KWin, with the program installed (launcher entry included) into its HOME."""
    w = KWin(install=args.build_dir)
    args.program = w.installed_program
    return w


def burst_on(session, args) -> Tuple[List[str], str]:
    with session as w:
        receiver, program, start = w.stage(args)
        time.sleep(1.0)  # the window's early zero motion, if any, has long arrived
        start_ns = w.press_start(start)
        burst = finish(receiver, program, start_ns)
        failures = check_burst(burst, Expectations())
        failures += quiet_before_start(receiver, program.started_ns, burst.start_ns)
        failures += [f"the program printed the notice: {line}" for _, line in
                     program.stderr.lines() if FALLBACK in line]
        return with_tails(failures, program, receiver), summary(burst)


def killed_on(session, args) -> Tuple[List[str], str]:
    with session as w:
        def begin():
            receiver, program, start = w.stage(args)
            return receiver, program, w.press_start(start)

        return kill_at_three_phases(begin)


def case_gnome_stopped(args) -> Tuple[List[str], str]:
    with Mutter(args.mutter_preload) as w:
        receiver, program, start = w.stage(args)
        start_ns = w.press_start(start)
        receiver.wait_for_presses(5, 10, receiver.to_receiver_clock(start_ns))
        stop_ns = time.monotonic_ns()
        w.stop_sessions()
        program.wait_exit(1)
        burst = finish(receiver, program, start_ns, 0)
        lines = program.stderr.text().splitlines()
        late = [ns for ns in burst.presses if ns > receiver.to_receiver_clock(stop_ns) + 20e6]
        failures = [f"status {program.exit_status} 1 s after Stop, {len(late)} presses after "
                    f"it, standard error {lines}"] if (program.exit_status != 0 or late or len(
                        lines) != 1 or "GNOME ended" not in lines[0]) else []
        if not burst.alternates():
            failures.append(f"presses and releases do not alternate ({burst.button_order})")
        return failures, f"{summary(burst)} after_stop={(program.exit_ns - stop_ns) / 1e6}ms"


def case_gnome_locked(args) -> Tuple[List[str], str]:
    with Mutter(args.mutter_preload) as w:
        w.lock_screen()
        _, program, _ = w.stage(args)
        notice = program.stderr.wait_for(lambda line: FALLBACK in line, 5)
        if notice and "Session creation inhibited" in notice[1]:
            return [], "notice names mutter's refusal"
        return [f"no notice naming mutter's refusal: {program.stderr.text()!r}"], ""


def case_no_manager(args) -> Tuple[List[str], str]:
    with Weston() as w, Stage(args) as stage:
        stage.env["WAYLAND_DISPLAY"] = w.env["WAYLAND_DISPLAY"]
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
        failures += quiet_before_start(receiver, program.started_ns, burst.start_ns)
        if pointer_before != RECEIVER_POINT:
            failures.append(f"the pointer moved from {RECEIVER_POINT} to {pointer_before} "
                            f"before Start")
        notices = [line for _, line in program.stderr.lines() if NOTICE in line]
        if len(notices) != 1:
            failures.append(f"{len(notices)} notices on standard error, expected one")
        return with_tails(failures, program, receiver), summary(burst)


def case_kde_not_installed(args) -> Tuple[List[str], str]:
    with KWin() as w:
        receiver, program, start = w.stage(args)
        start_ns = w.press_start(start)
        burst = finish(w.spy, program, start_ns, since_ns=start_ns + 1)  # after Start
        failures = check_burst(burst, Expectations())
        failures += [f"receiver_wayland got {event.kind} {event.detail}"
                     for event in receiver.events() if event.kind in ("down", "up")][:1]
        notices = [line for _, line in program.stderr.lines() if FALLBACK in line]
        if len(notices) != 1 or INSTALL_HINT not in notices[0]:
            failures.append(f"expected one notice naming the install, got {notices}")
        return with_tails(failures, program), summary(burst)


def case_compositor_lost(args) -> Tuple[List[str], str]:
    with Sway() as w, Stage(args) as stage:
        stage.env["WAYLAND_DISPLAY"] = w.env["WAYLAND_DISPLAY"]
        program, window = stage.launch_program()
        stage.press_start(window, then_to=None)
        time.sleep((figures.FIRST_CLICK_MS + 500) / 1000)
        w.compositor.kill()
        # The window is still there, so the error is also shown in its dialog, to dismiss.
        stage.close_window(stage.wait_for_window(DIALOG_TITLE, timeout_s=5, process=program))
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
                              "compositor_lost": case_compositor_lost,
                              "gnome_burst": lambda a: burst_on(Mutter(a.mutter_preload), a),
                              "gnome_killed": lambda a: killed_on(Mutter(a.mutter_preload), a),
                              "gnome_stopped": case_gnome_stopped,
                              "gnome_locked": case_gnome_locked,
                              "kde_burst": lambda a: burst_on(kwin(a), a),
                              "kde_killed": lambda a: killed_on(kwin(a), a),
                              "kde_not_installed": case_kde_not_installed},
                  sys.argv[1:], lambda parser: (parser.add_argument("--wayland-receiver"),
                                                parser.add_argument("--build-dir"),
                                                parser.add_argument("--mutter-preload"))))
