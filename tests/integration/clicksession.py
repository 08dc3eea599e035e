#!/usr/bin/env python3
"""clicksession: real clicks into a receiver window, and the checks of one burst.

A session starts a receiver (receiver_x11, or receiver_win32.exe under Wine), waits for its
"ready", starts the program under test, collects what the receiver logged until the program has
ended, and checks the burst. Each piece is a function of its own, so that a suite which starts
the burst its own way (pressing Start in the real window, forcing a fault, timing many runs) can
reuse the rest:

    receiver = start_receiver(["receiver_x11", "--geometry", "640x1024+640+0"])
    program = launch("clickburst", ["build/linux/src/clickburst"])
    ...  # press Start; note start_harness_ns = time.monotonic_ns()
    program.wait_exit(timeout_s=45)
    burst = collect_burst(receiver, program, receiver.to_receiver_clock(start_harness_ns),
                          start_harness_ns)
    failures = check_burst(burst, Expectations())

Clocks: a receiver logs on its platform's monotonic clock, the one burst_probe prints "start"
with (CLOCK_MONOTONIC on Linux, QueryPerformanceCounter under Wine). The harness times the run's
length on its own clock, time.monotonic_ns(), from Start to the program's exit; where it needs
one instant on both clocks it estimates their offset from the receiver's own lines.

Command line: one burst_probe session, a one-line summary, exit status 0 when every check
passed, 1 when one failed, 2 when the session could not be run.
    clicksession.py [--emulator WINE] --receiver RECEIVER --program burst_probe
"""

import argparse
import os
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional, Sequence, Tuple

# The burst as the program defines it: 448 clicks, the first after a 2 s grace, the end of the
# program 28.9 s after Start.
BURST_CLICKS = 448
GRACE_MS = 2000
BURST_LENGTH_S = 28.9

# How long a receiver or a program under Wine may take to show itself; a cold prefix is slow.
STARTUP_TIMEOUT_S = 40.0
# After the program has ended, how long events already on their way may take to be logged.
DRAIN_S = 0.5


class SessionError(Exception):
    """The session could not be run as planned (a process would not start, answer or end)."""


class LineLog:
    """The lines of one pipe as they arrive, each with the harness's monotonic time of arrival."""

    def __init__(self, stream):
        self._lines: List[Tuple[int, str]] = []
        self._changed = threading.Condition()
        self.closed = False
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            arrival_ns = time.monotonic_ns()
            with self._changed:
                self._lines.append((arrival_ns, raw.decode(errors="replace").rstrip("\r\n")))
                self._changed.notify_all()
        with self._changed:
            self.closed = True
            self._changed.notify_all()

    def lines(self) -> List[Tuple[int, str]]:
        with self._changed:
            return list(self._lines)

    def wait_for(self, wanted: Callable[[str], bool], timeout_s: float) -> Optional[Tuple[int, str]]:
        """The first line `wanted` accepts, waiting up to timeout_s for it; None if none came."""
        deadline = time.monotonic() + timeout_s
        seen = 0
        with self._changed:
            while True:
                for arrival_ns, text in self._lines[seen:]:
                    if wanted(text):
                        return arrival_ns, text
                seen = len(self._lines)
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    return None
                self._changed.wait(left)


class Child:
    """A process of the session, in a process group of its own so that it can be ended whole.
    Standard input is closed; both output streams are kept as LineLogs."""

    def __init__(self, name: str, argv: Sequence[str], env: Optional[dict] = None):
        self.name = name
        self.argv = list(argv)
        try:
            self.proc = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         env=env, start_new_session=True)
        except OSError as error:
            raise SessionError(f"cannot start {name} ({self.argv[0]}): {error}") from error
        self.started_ns = time.monotonic_ns()
        self.stdout = LineLog(self.proc.stdout)
        self.stderr = LineLog(self.proc.stderr)
        self.exit_ns: Optional[int] = None
        self._exited = threading.Event()
        # A thread blocked in waitpid sees the exit at once; Popen.wait(timeout) polls.
        threading.Thread(target=self._wait, daemon=True).start()

    def _wait(self):
        self.proc.wait()
        self.exit_ns = time.monotonic_ns()
        self._exited.set()

    def wait_exit(self, timeout_s: float) -> Optional[int]:
        """The exit status, or None if the process is still running after timeout_s."""
        if not self._exited.wait(timeout_s):
            return None
        return self.proc.returncode

    @property
    def exit_status(self) -> Optional[int]:
        return self.proc.returncode if self._exited.is_set() else None

    def _signal_group(self, signum):
        try:
            os.killpg(self.proc.pid, signum)
        except (ProcessLookupError, PermissionError):
            pass

    def stop(self, grace_s: float = 3.0):
        """SIGTERM to the whole group, then SIGKILL to what is left after grace_s."""
        self._signal_group(signal.SIGTERM)
        if not self._exited.wait(grace_s):
            self._signal_group(signal.SIGKILL)
            self._exited.wait(grace_s)

    def kill(self):
        self._signal_group(signal.SIGKILL)
        self._exited.wait(3.0)

    def stderr_tail(self, count: int = 15) -> str:
        return "\n".join(f"  {self.name}: {text}" for _, text in self.stderr.lines()[-count:])


@dataclass(frozen=True)
class Event:
    """One line a receiver logged: kind is down, up, button or motion."""
    kind: str
    ns: int  # the receiver's clock
    arrival_ns: int  # the harness's clock, when the line was read
    detail: Tuple[int, ...] = ()  # button: (number,); motion: (x, y)


def parse_event(arrival_ns: int, text: str) -> Optional[Event]:
    """An Event from one receiver line, or None for a line that is not an event."""
    fields = text.split()
    shapes = {"down": 2, "up": 2, "button": 3, "motion": 4}
    if not fields or shapes.get(fields[0]) != len(fields):
        return None
    try:
        numbers = [int(value) for value in fields[1:]]
    except ValueError:
        return None
    return Event(fields[0], numbers[-1], arrival_ns, tuple(numbers[:-1]))


class Receiver(Child):
    """A running receiver, ready: its window is on the screen."""

    def events(self) -> List[Event]:
        parsed = (parse_event(arrival_ns, text) for arrival_ns, text in self.stdout.lines())
        return [event for event in parsed if event is not None]

    def wait_for_presses(self, count: int, timeout_s: float) -> bool:
        """Waits until `count` presses have been logged in all; False if they were not."""
        seen = 0

        def counted(text: str) -> bool:
            nonlocal seen
            seen += text.startswith("down ")
            return seen >= count

        return self.stdout.wait_for(counted, timeout_s) is not None

    def clock_offset_ns(self) -> int:
        """Harness clock minus receiver clock. Each line arrives a little after the receiver
        stamped it, so the smallest difference is the closest estimate (high by that delay)."""
        stamped = [(arrival_ns, int(text.split()[1])) for arrival_ns, text in self.stdout.lines()
                   if text.startswith("ready ")]
        stamped += [(event.arrival_ns, event.ns) for event in self.events()]
        if not stamped:
            raise SessionError(f"{self.name} logged no time stamp to align the clocks with")
        return min(arrival_ns - ns for arrival_ns, ns in stamped)

    def to_receiver_clock(self, harness_ns: int) -> int:
        return harness_ns - self.clock_offset_ns()


def with_emulator(emulator: Sequence[str], argv: Sequence[str]) -> List[str]:
    return list(emulator) + list(argv)


def start_receiver(argv: Sequence[str], env: Optional[dict] = None,
                   timeout_s: float = STARTUP_TIMEOUT_S) -> Receiver:
    """Starts a receiver and returns once it has said "ready"; ends it and raises if it does
    not within timeout_s."""
    receiver = Receiver("receiver", argv, env)
    if receiver.stdout.wait_for(lambda text: text.split()[:1] == ["ready"], timeout_s) is None:
        receiver.kill()
        raise SessionError(f"the receiver did not say ready within {timeout_s:.0f} s "
                           f"(status {receiver.exit_status})\n{receiver.stderr_tail()}")
    return receiver


def launch(name: str, argv: Sequence[str], env: Optional[dict] = None) -> Child:
    """Starts the program under test."""
    return Child(name, argv, env)


def read_start(program: Child, timeout_s: float = STARTUP_TIMEOUT_S) -> Tuple[int, int]:
    """burst_probe's "start <ns>": the instant of Start on the program's clock, and when the
    harness read it on its own."""
    line = program.stdout.wait_for(lambda text: text.startswith("start "), timeout_s)
    if line is None:
        program.wait_exit(1.0)
        raise SessionError(f"{program.name} printed no start line within {timeout_s:.0f} s "
                           f"(status {program.exit_status})\n{program.stderr_tail()}")
    arrival_ns, text = line
    try:
        return int(text.split()[1]), arrival_ns
    except (IndexError, ValueError) as error:
        raise SessionError(f"{program.name} printed a malformed start line: {text!r}") from error


@dataclass
class Burst:
    """What one burst did, as the receiver saw it. Press and release times are on the
    receiver's clock; run_s is on the harness's clock."""
    start_ns: int
    presses: List[int] = field(default_factory=list)
    releases: List[int] = field(default_factory=list)
    button_order: str = ""  # "d" and "u" in the order they came: a release must follow each press
    other_buttons: List[Event] = field(default_factory=list)
    motions: List[Event] = field(default_factory=list)
    exit_status: Optional[int] = None  # None: it did not end by itself
    run_s: Optional[float] = None  # from Start to the program's exit
    exit_ns: Optional[int] = None  # the program's exit on the receiver's clock

    def offsets_ms(self, instants: Sequence[int]) -> List[float]:
        return [(ns - self.start_ns) / 1e6 for ns in instants]


def collect_burst(receiver: Receiver, program: Child, start_ns: int,
                  start_harness_ns: int) -> Burst:
    """The burst from the receiver's log so far; call once the program has ended (or has been
    given up on), after DRAIN_S has let the last events in."""
    burst = Burst(start_ns=start_ns, exit_status=program.exit_status)
    for event in receiver.events():
        if event.kind == "down":
            burst.presses.append(event.ns)
            burst.button_order += "d"
        elif event.kind == "up":
            burst.releases.append(event.ns)
            burst.button_order += "u"
        elif event.kind == "button":
            burst.other_buttons.append(event)
        else:
            burst.motions.append(event)
    if program.exit_ns is not None:
        burst.run_s = (program.exit_ns - start_harness_ns) / 1e9
        burst.exit_ns = receiver.to_receiver_clock(program.exit_ns)
    return burst


@dataclass(frozen=True)
class Expectations:
    clicks: int = BURST_CLICKS
    clicks_tolerance: int = 2
    grace_ms: float = GRACE_MS
    # Start-up under Wine is slow, and the harness sees the exit a little late.
    run_s_min: float = 28.0
    run_s_max: float = 31.0
    exit_status: int = 0
    # Once clicking has begun nothing may move the pointer.
    pointer_still: bool = True


def check_burst(burst: Burst, expect: Expectations) -> List[str]:
    """Every way the burst differs from what was expected, one sentence each; empty if none."""
    failures = []
    presses = len(burst.presses)
    if abs(presses - expect.clicks) > expect.clicks_tolerance:
        failures.append(f"{presses} presses, expected {expect.clicks} ± {expect.clicks_tolerance}")
    if len(burst.releases) != presses:
        failures.append(f"{len(burst.releases)} releases for {presses} presses")
    elif burst.button_order != "du" * presses:
        failures.append("presses and releases do not alternate: the button was held or "
                        "released twice")
    if burst.presses:
        first_ms = burst.offsets_ms(burst.presses[:1])[0]
        if first_ms < expect.grace_ms:
            failures.append(f"first press {first_ms:.1f} ms after Start, inside the "
                            f"{expect.grace_ms:.0f} ms grace")
    if burst.other_buttons:
        buttons = sorted({event.detail[0] for event in burst.other_buttons})
        failures.append(f"{len(burst.other_buttons)} presses of other buttons {buttons}")
    if expect.pointer_still and burst.presses:
        moved = [event for event in burst.motions if event.ns >= burst.presses[0]]
        if moved:
            failures.append(f"the pointer moved during the burst, to {moved[0].detail} first")
    if burst.exit_status is None:
        failures.append("the program did not end by itself")
    else:
        if burst.exit_status != expect.exit_status:
            failures.append(f"exit status {burst.exit_status}, expected {expect.exit_status}")
        if burst.run_s is not None and not expect.run_s_min <= burst.run_s <= expect.run_s_max:
            failures.append(f"ended {burst.run_s:.2f} s after Start, expected "
                            f"{expect.run_s_min:.1f}-{expect.run_s_max:.1f} s")
        if burst.exit_ns is not None and burst.presses and burst.presses[-1] > burst.exit_ns:
            failures.append("a press came after the program had ended")
    return failures


def summary(burst: Burst) -> str:
    """One line with the figures of a burst."""
    parts = [f"clicks={len(burst.presses)}", f"releases={len(burst.releases)}"]
    if burst.presses:
        first_ms, last_ms = burst.offsets_ms([burst.presses[0], burst.presses[-1]])
        parts += [f"first=+{first_ms:.1f}ms", f"last=+{last_ms:.1f}ms"]
        if len(burst.presses) > 1:
            period_ms = (last_ms - first_ms) / (len(burst.presses) - 1)
            parts.append(f"period={period_ms:.3f}ms")
    if burst.run_s is not None:
        parts.append(f"end=+{burst.run_s:.3f}s")
    parts.append(f"status={burst.exit_status}")
    return " ".join(parts)


def end_all(children: Sequence[Optional[Child]]):
    for child in children:
        if child is not None and child.exit_status is None:
            child.stop()


def run_probe_session(receiver_argv: Sequence[str], program_argv: Sequence[str],
                      env: Optional[dict] = None,
                      expect: Expectations = Expectations()) -> Tuple[Burst, List[str]]:
    """The whole burst_probe session: receiver, program, burst, checks. Everything it started
    has ended when it returns or raises."""
    receiver = program = None
    try:
        receiver = start_receiver(receiver_argv, env)
        program = launch("burst_probe", program_argv, env)
        start_ns, start_harness_ns = read_start(program)
        ended = program.wait_exit(expect.run_s_max + 15.0) is not None
        if not ended:
            program.kill()
        time.sleep(DRAIN_S)
        burst = collect_burst(receiver, program, start_ns, start_harness_ns)
        if not ended:
            burst.exit_status = burst.run_s = None
        failures = check_burst(burst, expect)
        if failures:
            failures += [tail for tail in (program.stderr_tail(), receiver.stderr_tail()) if tail]
        return burst, failures
    finally:
        end_all([program, receiver])


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--emulator", action="append", default=[],
                        help="a word to run both programs with (wine); may repeat")
    parser.add_argument("--receiver", required=True, help="receiver_x11 or receiver_win32.exe")
    parser.add_argument("--program", required=True, help="burst_probe")
    args = parser.parse_args(argv)
    receiver_argv = with_emulator(args.emulator, [args.receiver, "--seconds", "90"])
    program_argv = with_emulator(args.emulator, [args.program])
    try:
        burst, failures = run_probe_session(receiver_argv, program_argv)
    except SessionError as error:
        print(f"clicksession: ERROR {error}", flush=True)
        return 2
    print(f"clicksession: {'FAIL' if failures else 'PASS'} {summary(burst)}", flush=True)
    for failure in failures:
        print(f"  {failure}", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
