#!/usr/bin/env python3
"""window_e2e: end-to-end tests of the real clickburst program and its window, driven as a
person would drive it, on a private Xvfb with openbox (natively, or under Wine for the Windows
build). A receiver along the bottom of the screen logs every click; after Start the pointer
goes onto it, where the burst should land. One case per run:

  burst_probe_clicks_448_times_then_ends  burst_probe (--program: the controller on the
                                          platform's own event loop, Start pressed at once)
                                          clicks a receiver covering the display: 448 clicks,
                                          a release each, none in the grace, its own end
  launch_shows_window_and_clicks_nothing  the window appears and nothing is clicked for 3 s;
                                          a screenshot is kept; closing it ends with status 0
  start_with_mouse_clicks_448_times       Start pressed with the mouse: the whole burst
  start_with_alt_s_clicks_448_times       Alt+S on the focused window: the whole burst
  close_mid_burst_ends_at_once            closing the window during the burst ends the program
                                          at once with status 0, and no click follows

    window_e2e.py CASE --program clickburst --receiver receiver_x11 --start-button start_button
                  [--title TITLE --artifacts DIR] [--emulator wine] [--platform windows]
"""

import os
import sys
import time

from harness.cases import Stage, main, with_tails
from harness.process import SessionError
from harness.receiver import (STARTUP_TIMEOUT_S, Expectations, check_burst, collect_burst, finish,
                              nothing_before_start, summary)
from harness.xsession import RECEIVER_POINT

PROBE_EXPECT = Expectations()
# Start is pressed by hand here, and the harness sees it at once: a tighter end than the probe's.
E2E_EXPECT = Expectations(run_s_min=28.5, run_s_max=30.0)
QUIET_S = 3.0
# A closed window must take the program with it about at once, Wine's round trips included.
CLOSE_TO_EXIT_S = 1.5


def run_burst(args, by_mouse: bool):
    with Stage(args) as stage:
        receiver = stage.receiver()
        program, window = stage.launch_program()
        if by_mouse:
            start_ns = stage.press_start(window)
        else:
            stage.move_pointer(*RECEIVER_POINT)
            stage.press_keys(window, "alt+s")
            start_ns = time.monotonic_ns()
        burst = finish(receiver, program, start_ns, E2E_EXPECT.run_s_max + 10)
        failures = check_burst(burst, E2E_EXPECT)
        at = stage.pointer()
        if at != RECEIVER_POINT:
            failures.append(f"the pointer is at {at}, not where it was left at {RECEIVER_POINT}")
    return with_tails(failures, program), summary(burst)


def case_probe(args):
    with Stage(args, window_manager=False) as stage:
        receiver = stage.receiver(seconds=90, geometry=None)  # the pointer goes to its centre
        program = stage.launch("burst_probe", [*args.emulator, args.program])
        # "start <ns>": Start on the program's clock, the one the receiver logs with.
        line = program.stdout.wait_for(lambda text: text.startswith("start "), STARTUP_TIMEOUT_S)
        if line is None:
            raise SessionError(f"burst_probe printed no start line (status "
                               f"{program.wait_exit(1.0)})\n{program.stderr_tail()}")
        burst = finish(receiver, program, line[0], PROBE_EXPECT.run_s_max + 15.0,
                       start_ns=int(line[1].split()[1]))
    return with_tails(check_burst(burst, PROBE_EXPECT), program, receiver), summary(burst)


def case_launch(args):
    with Stage(args) as stage:
        receiver = stage.receiver()
        program, window = stage.launch_program()
        stage.move_pointer(*RECEIVER_POINT)
        time.sleep(QUIET_S)
        failures = nothing_before_start(receiver, program.started_ns, motion=False)
        if program.exit_status is not None:
            failures.append(f"the program ended by itself (status {program.exit_status})")
        shot = os.path.join(args.artifacts, f"{args.platform}-window.png")
        stage.screenshot(window.rect, shot)
        stage.close_window(window)
        status = program.wait_exit(CLOSE_TO_EXIT_S * 2)
    if status != 0:
        failures.append(f"closing the window gave status {status}, expected 0")
    return with_tails(failures, program), (
        f"window={window.width}x{window.height}+{window.x}+{window.y} "
        f"close_status={status} screenshot={shot}")


def case_close_mid_burst(args):
    with Stage(args) as stage:
        receiver, program, window, start_ns = stage.begin()
        receiver.wait_for_presses(10, timeout_s=10.0)
        closed_ns = time.monotonic_ns()  # before: the program may be gone before xdotool is
        stage.close_window(window)
        status = program.wait_exit(CLOSE_TO_EXIT_S * 3)
        if status is None:
            return [f"still running {CLOSE_TO_EXIT_S * 3:.1f} s after its window was closed"], ""
        time.sleep(1.0)  # time for a click that should not come
        burst = collect_burst(receiver, program, start_ns)
    failures = []
    exit_after_close_s = (program.exit_ns - closed_ns) / 1e9
    if exit_after_close_s > CLOSE_TO_EXIT_S:
        failures.append(f"ended {exit_after_close_s:.2f} s after the close, not at once")
    if status != 0:
        failures.append(f"exit status {status} after the close, expected 0")
    late = [ns for ns in burst.presses if ns > burst.exit_ns]
    if late:
        failures.append(f"{len(late)} presses after the program had ended")
    failures += burst.button_faults("after the close: ")
    return with_tails(failures, program), (
        f"clicks_before_close={len(burst.presses)} "
        f"exit_after_close=+{exit_after_close_s * 1000:.0f}ms status={status}")


CASES = {
    "burst_probe_clicks_448_times_then_ends": case_probe,
    "launch_shows_window_and_clicks_nothing": case_launch,
    "start_with_mouse_clicks_448_times": lambda args: run_burst(args, by_mouse=True),
    "start_with_alt_s_clicks_448_times": lambda args: run_burst(args, by_mouse=False),
    "close_mid_burst_ends_at_once": case_close_mid_burst,
}

if __name__ == "__main__":
    sys.exit(main("window_e2e", CASES, sys.argv[1:], lambda parser: parser.add_argument(
        "--platform", default="linux", help="names the screenshot")))
