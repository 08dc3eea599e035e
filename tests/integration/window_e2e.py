#!/usr/bin/env python3
"""window_e2e: end-to-end tests of the real clickburst program and its window, driven as a
person would drive it, under Xvfb and openbox (natively, or under Wine for the Windows build).

A receiver covers the right part of the screen and logs every click; the clickburst window is
kept clear of it, so Start can be pressed with the mouse. After Start the pointer goes onto the
receiver, where the burst should land. One case per run:

  launch_shows_window_and_clicks_nothing  the window appears and nothing is clicked for 3 s;
                                          a screenshot is kept; closing it ends with status 0
  start_with_mouse_clicks_448_times       Start pressed with the mouse: the whole burst
  start_with_alt_s_clicks_448_times       Alt+S on the focused window: the whole burst
  close_mid_burst_ends_at_once            closing the window during the burst ends the program
                                          at once with status 0, and no click follows

Usage: window_e2e.py --program clickburst --receiver receiver_x11 --title TITLE
                     --artifacts DIR [--emulator wine] CASE
Exit status 0 when every check passed, 1 when one failed, 2 when the case could not be run.
"""

import argparse
import os
import sys
import time
from typing import Callable, List, Optional, Sequence

import clicksession as cs
import xdesktop as desk

# Start (Command1) in the window's client area at 96 DPI: 8,16, 81 x 33 pixels.
START_BUTTON_CENTRE = (8 + 81 // 2, 16 + 33 // 2)
# Start is pressed by hand here, and the harness sees it at once: a tighter end than the probe's.
E2E_EXPECT = cs.Expectations(run_s_min=28.5, run_s_max=30.0)
QUIET_S = 3.0
# A closed window must take the program with it about at once, Wine's round trips included.
CLOSE_TO_EXIT_S = 1.5


class Stage:
    """The receiver, the program and its window, laid out side by side on the screen."""

    def __init__(self, args):
        self.args = args
        width, height = desk.screen_size()
        left = width * 3 // 5
        self.receiver_rect = (left, 0, width - left, height)
        self.target = (left + (width - left) // 2, height // 2)
        self.receiver: Optional[cs.Receiver] = None
        self.program: Optional[cs.Child] = None
        self.window = ""
        self.rect = (0, 0, 0, 0)
        self.summary = ""  # the case's figures, for its report line

    def open(self):
        x, y, width, height = self.receiver_rect
        self.receiver = cs.start_receiver(cs.with_emulator(self.args.emulator, [
            self.args.receiver, "--seconds", "120", "--geometry", f"{width}x{height}+{x}+{y}"]))
        self.program = cs.launch("clickburst",
                                 cs.with_emulator(self.args.emulator, [self.args.program]))
        self.window = desk.find_window(self.args.title)
        self.rect = desk.client_rect(self.window)
        if desk.overlaps(self.framed(self.rect), self.receiver_rect):
            desk.move_window(self.window, 40, 60)
            self.rect = desk.client_rect(self.window)
        if desk.overlaps(self.framed(self.rect), self.receiver_rect):
            raise cs.SessionError(f"the window at {self.rect} cannot be kept clear of the "
                                  f"receiver at {self.receiver_rect}")

    @staticmethod
    def framed(rect: desk.Rect) -> desk.Rect:
        x, y, width, height = rect
        return (x - 10, y - 40, width + 20, height + 50)

    def start_button(self):
        return (self.rect[0] + START_BUTTON_CENTRE[0], self.rect[1] + START_BUTTON_CENTRE[1])

    def onto_receiver(self, start_harness_ns: int):
        """Moves the pointer onto the receiver, which must happen inside the grace."""
        desk.move_pointer(*self.target)
        late_ms = (time.monotonic_ns() - start_harness_ns) / 1e6
        if late_ms >= cs.GRACE_MS - 200:
            raise cs.SessionError(f"the pointer reached the receiver {late_ms:.0f} ms after "
                                  f"Start, too late to see the first click")

    def close(self):
        cs.end_all([self.program, self.receiver])


def press_start_with_mouse(stage: Stage):
    desk.click_at(*stage.start_button())


def press_start_with_alt_s(stage: Stage):
    desk.move_pointer(*stage.target)
    desk.press_keys(stage.window, "alt+s")


def run_burst(stage: Stage, press_start: Callable[[Stage], None]) -> List[str]:
    stage.open()
    press_start(stage)
    start_harness_ns = time.monotonic_ns()
    stage.onto_receiver(start_harness_ns)
    ended = stage.program.wait_exit(E2E_EXPECT.run_s_max + 10) is not None
    time.sleep(cs.DRAIN_S)
    burst = cs.collect_burst(stage.receiver, stage.program,
                             stage.receiver.to_receiver_clock(start_harness_ns), start_harness_ns)
    if not ended:
        burst.exit_status = burst.run_s = None
    failures = cs.check_burst(burst, E2E_EXPECT)
    at = desk.pointer()
    if at != stage.target:
        failures.append(f"the pointer is at {at}, not where it was left at {stage.target}")
    stage.summary = cs.summary(burst)
    return failures


def case_launch(stage: Stage) -> List[str]:
    stage.open()
    desk.move_pointer(*stage.target)
    time.sleep(QUIET_S)
    failures = []
    clicks = [event for event in stage.receiver.events() if event.kind != "motion"]
    if clicks:
        failures.append(f"{len(clicks)} button events in the {QUIET_S:.0f} s after launch, "
                        f"before any Start")
    if stage.program.exit_status is not None:
        failures.append(f"the program ended by itself (status {stage.program.exit_status})")
    shot = os.path.join(stage.args.artifacts, f"{stage.args.platform}-window.png")
    desk.screenshot(stage.rect, shot)
    desk.close(stage.window)
    status = stage.program.wait_exit(CLOSE_TO_EXIT_S * 2)
    if status != 0:
        failures.append(f"closing the window gave status {status}, expected 0")
    width, height = stage.rect[2:]
    stage.summary = f"window={width}x{height}+{stage.rect[0]}+{stage.rect[1]} " \
                    f"button_events={len(clicks)} close_status={status} screenshot={shot}"
    return failures


def case_close_mid_burst(stage: Stage) -> List[str]:
    stage.open()
    press_start_with_mouse(stage)
    start_harness_ns = time.monotonic_ns()
    stage.onto_receiver(start_harness_ns)
    if not stage.receiver.wait_for_presses(10, timeout_s=10.0):
        raise cs.SessionError("no burst to close: fewer than 10 clicks 10 s after Start")
    closed_ns = time.monotonic_ns()  # before: the program may be gone before xdotool is
    desk.close(stage.window)
    status = stage.program.wait_exit(CLOSE_TO_EXIT_S * 3)
    failures = []
    if status is None:
        failures.append(f"still running {CLOSE_TO_EXIT_S * 3:.1f} s after its window was closed")
        return failures
    exit_after_close_s = (stage.program.exit_ns - closed_ns) / 1e9
    if exit_after_close_s > CLOSE_TO_EXIT_S:
        failures.append(f"ended {exit_after_close_s:.2f} s after the close, not at once")
    if status != 0:
        failures.append(f"exit status {status} after the close, expected 0")
    time.sleep(1.0)  # time for a click that should not come
    burst = cs.collect_burst(stage.receiver, stage.program,
                             stage.receiver.to_receiver_clock(start_harness_ns), start_harness_ns)
    late = [ns for ns in burst.presses if ns > burst.exit_ns]
    if late:
        failures.append(f"{len(late)} presses after the program had ended")
    if len(burst.releases) != len(burst.presses):
        failures.append(f"{len(burst.releases)} releases for {len(burst.presses)} presses: "
                        f"the close left the button down")
    stage.summary = (f"clicks_before_close={len(burst.presses)} "
                     f"exit_after_close=+{exit_after_close_s * 1000:.0f}ms status={status}")
    return failures


CASES = {
    "launch_shows_window_and_clicks_nothing": case_launch,
    "start_with_mouse_clicks_448_times": lambda stage: run_burst(stage, press_start_with_mouse),
    "start_with_alt_s_clicks_448_times": lambda stage: run_burst(stage, press_start_with_alt_s),
    "close_mid_burst_ends_at_once": case_close_mid_burst,
}


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--emulator", action="append", default=[])
    parser.add_argument("--program", required=True)
    parser.add_argument("--receiver", required=True)
    parser.add_argument("--title", required=True)
    parser.add_argument("--artifacts", required=True, help="folder for screenshots and summaries")
    parser.add_argument("--platform", default="linux", help="names the screenshot")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args(argv)
    os.makedirs(args.artifacts, exist_ok=True)
    stage = Stage(args)
    try:
        failures = CASES[args.case](stage)
    except cs.SessionError as error:
        failures, verdict = [str(error)], "ERROR"
    else:
        verdict = "FAIL" if failures else "PASS"
    finally:
        stage.close()
    if failures and stage.program is not None:
        failures += [tail for tail in (stage.program.stderr_tail(),) if tail]
    report = [f"window_e2e {args.platform} {args.case}: {verdict} {stage.summary}".rstrip()]
    report += [f"  {failure}" for failure in failures]
    with open(os.path.join(args.artifacts, f"{args.platform}-{args.case}.txt"), "w") as out:
        out.write("\n".join(report) + "\n")
    print("\n".join(report), flush=True)
    return {"PASS": 0, "FAIL": 1}.get(verdict, 2)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
