"""What the test scripts share: a Stage (a private X session with the program, its window and
a receiver), and the command line that runs one case and reports it.

    def case_x(args) -> Tuple[List[str], str]:     # failures, one line of figures
        with Stage(args) as stage:
            receiver, program, window, start_ns = stage.begin()
            burst = finish(receiver, program, start_ns)
        return check_burst(burst, Expectations()), summary(burst)

    sys.exit(main("faults", {"x": case_x}, sys.argv[1:]))

Prints "TOOL CASE: PASS|FAIL|ERROR figures" and one line per failure; exit status 0 passed,
1 failed, 2 could not be run.
"""

import argparse
import os
import signal
from typing import Callable, Dict, List, Optional, Sequence, Tuple

from harness import figures
from harness.process import Child, SessionError, sleep_until_ns
from harness.receiver import Receiver, finish
from harness.xsession import RECEIVER_POINT, RECEIVER_RECT, Window, XSession, overlaps, start_button

# The title of the program's error dialog (src/runtime/fatal_error.cpp).
DIALOG_TITLE = "clickburst: run-time error"


def dialog_button(dialog: Window) -> Tuple[int, int]:
    """The error dialog's one button, at its bottom right corner."""
    return dialog.x + dialog.width - 40, dialog.y + dialog.height - 22


Case = Callable[[argparse.Namespace], Tuple[List[str], str]]


class Stage(XSession):
    """The program under test (args.program, under args.emulator) on a session of its own."""

    def __init__(self, args, window_manager: bool = True, server_args: Sequence[str] = ()):
        super().__init__(window_manager, server_args)
        self.args = args

    def receiver(self, seconds: float = 120, **where) -> Receiver:
        """A receiver along the bottom of the screen (or where says), ready."""
        return self.start_receiver([*self.args.emulator, self.args.receiver,
                                    "--seconds", str(seconds)], **where)

    def spy(self, seconds: float = 120) -> Receiver:
        """receiver_x11 --spy: sees every click on the display, wherever it lands."""
        return self.start_receiver([self.args.spy or self.args.receiver, "--spy", "--seconds",
                                    str(seconds)], "button_spy", geometry=None)

    def launch_program(self, argv: Optional[Sequence[str]] = None) -> Tuple[Child, Window]:
        """Starts the program and waits for its window, kept clear of the receiver."""
        program = self.launch("clickburst", argv or [*self.args.emulator, self.args.program])
        # Framed: its title bar and borders must not cover the receiver either.
        return program, self.place_window(self.args.title, lambda w: not overlaps(
            (w.x - 10, w.y - 40, w.width + 20, w.height + 50), RECEIVER_RECT), (40, 60), program)

    def start_button(self, window: Window) -> Tuple[int, int]:
        return start_button(window, [*self.args.emulator, self.args.start_button])

    def press_start(self, window: Window, then_to: Optional[Tuple[int, int]] = RECEIVER_POINT,
                    spy: Optional[Receiver] = None) -> int:
        return super().press_start(self.start_button(window), then_to, spy)

    def begin(self, argv: Optional[Sequence[str]] = None,
              **press) -> Tuple[Receiver, Child, Window, int]:
        """A receiver, the program, and Start pressed (press_start's options): the receiver,
        the program, its window and the harness's time of Start."""
        receiver = self.receiver()
        program, window = self.launch_program(argv)
        return receiver, program, window, self.press_start(window, **press)


def kill_at_three_phases(begin: Callable[[], tuple]) -> Tuple[List[str], str]:
    """Three bursts, each begun by begin() (a receiver, the program, ..., the harness's time
    of Start), SIGKILLed four periods after the first click and 0, 20, 40 ms into the period: a
    click under way, between two, just before one. No kill may leave the button down."""
    failures, counts = [], []
    for phase_ms in (0, 20, 40):
        receiver, program, *_, start_ns = begin()
        since = receiver.to_receiver_clock(start_ns)
        presses = receiver.wait_for_presses(3, 20, since)
        sleep_until_ns(receiver.clock_offset_ns() + presses[0] + 4 * figures.PERIOD_NS
                       + phase_ms * 1_000_000)
        program.signal(signal.SIGKILL)
        program.wait_exit(5)
        burst = finish(receiver, program, start_ns, 0, since_ns=since)
        receiver.stop()
        killed = f"killed {phase_ms} ms into a period"
        counts.append(f"{phase_ms}ms:{len(burst.presses)}/{len(burst.releases)}")
        if program.exit_status != -signal.SIGKILL:
            failures.append(f"{killed}: status {program.exit_status} after SIGKILL")
        failures += burst.button_faults(f"{killed}: ")
    return failures, " ".join(counts)


def with_tails(failures: List[str], *children: Optional[Child]) -> List[str]:
    """The failures, and when there are any, what the processes last said on standard error."""
    if failures:
        failures += [tail for child in children if child is not None
                     for tail in [child.stderr_tail()] if tail]
    return failures


def main(tool: str, cases: Dict[str, Case], argv: Sequence[str],
         add_arguments: Callable[[argparse.ArgumentParser], None] = lambda parser: None) -> int:
    parser = argparse.ArgumentParser(prog=tool)
    parser.add_argument("case", choices=sorted(cases))
    parser.add_argument("--program", required=True, help="the program under test")
    parser.add_argument("--title", help="its window's title")
    parser.add_argument("--receiver", help="receiver_x11, or receiver_win32.exe")
    parser.add_argument("--spy", help="receiver_x11, for --spy where --receiver is not it")
    parser.add_argument("--start-button", help="start_button, the window's layout table")
    parser.add_argument("--emulator", action="append", default=[],
                        help="a word to run the program, receiver and start_button with (wine)")
    parser.add_argument("--artifacts", help="a folder for screenshots and the report")
    add_arguments(parser)
    args = parser.parse_args(argv)
    if args.artifacts:
        os.makedirs(args.artifacts, exist_ok=True)
    try:
        failures, figures_line = cases[args.case](args)
        verdict = "FAIL" if failures else "PASS"
    except SessionError as error:
        failures, figures_line, verdict = [str(error)], "", "ERROR"
    report = [f"{tool} {args.case}: {verdict} {figures_line}".rstrip()]
    report += [f"  {failure}" for failure in failures]
    if args.artifacts:
        with open(os.path.join(args.artifacts, f"{tool}-{args.case}.txt"), "w") as out:
            out.write("\n".join(report) + "\n")
    print("\n".join(report), flush=True)
    return {"PASS": 0, "FAIL": 1}.get(verdict, 2)
