"""Receivers and what they logged, and the checks of one burst.

A receiver (receiver_x11, or receiver_win32.exe under Wine) logs each button event it gets
on its platform's monotonic clock, the one the program's timers run on (CLOCK_MONOTONIC on
Linux, QueryPerformanceCounter under Wine); tests/integration/receiver_log.h has the lines.
The harness times the run's end on its own clock, time.monotonic_ns(); where it needs one
instant on both clocks it estimates their offset from the receiver's own lines.

    receiver = start_receiver("receiver", ["receiver_x11"], env)
    ...  # start the program, press Start at start_harness_ns
    burst = finish(receiver, program, start_harness_ns)
    failures = check_burst(burst, Expectations())
"""

import time
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Tuple

from harness import figures
from harness.process import Child, SessionError

# How long a receiver or a program under Wine may take to show itself; a cold prefix is slow.
STARTUP_TIMEOUT_S = 40.0
# After the program has ended, how long events already on their way may take to be logged.
DRAIN_S = 0.5


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
    """A running receiver, ready: its window is on the screen (or its spy is recording)."""

    def events(self, since_ns: Optional[int] = None) -> List[Event]:
        """What it logged, from since_ns (its clock) on."""
        parsed = (parse_event(arrival_ns, text) for arrival_ns, text in self.stdout.lines())
        return [e for e in parsed if e is not None and (since_ns is None or e.ns >= since_ns)]

    def presses(self, since_ns: Optional[int] = None) -> List[int]:
        return [event.ns for event in self.events(since_ns) if event.kind == "down"]

    def wait_for_presses(self, count: int, timeout_s: float,
                         since_ns: Optional[int] = None) -> List[int]:
        """Waits until `count` presses from since_ns on have been logged; their times."""
        seen = 0

        def counted(text: str) -> bool:
            nonlocal seen
            event = parse_event(0, text)
            seen += event is not None and event.kind == "down" and event.ns >= (since_ns or 0)
            return seen >= count

        if self.stdout.wait_for(counted, timeout_s) is None:
            raise SessionError(f"{self.name} saw fewer than {count} presses in {timeout_s} s")
        return self.presses(since_ns)

    def first_release(self, since_ns: int, timeout_s: float = 5) -> int:
        """When the first release from since_ns on was stamped, waiting up to timeout_s for
        it: from a spy on the server, the instant a click on Start acted."""
        line = self.stdout.wait_for(lambda text: (event := parse_event(0, text)) is not None
                                    and event.kind == "up" and event.ns >= since_ns, timeout_s)
        if line is None:
            raise SessionError(f"{self.name} saw no release within {timeout_s} s")
        return parse_event(*line).ns

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


def start_receiver(name: str, argv: Sequence[str], env: Optional[dict] = None,
                   timeout_s: float = STARTUP_TIMEOUT_S) -> Receiver:
    """Starts a receiver and returns once it has said "ready"; ends it and raises if it does
    not within timeout_s."""
    receiver = Receiver(name, argv, env)
    if receiver.stdout.wait_for(lambda text: text.split()[:1] == ["ready"], timeout_s) is None:
        receiver.kill()
        raise SessionError(f"{name} did not say ready within {timeout_s:.0f} s "
                           f"(status {receiver.exit_status})\n{receiver.stderr_tail()}")
    return receiver


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

    def button_faults(self, when: str = "") -> List[str]:
        """A press left without its release, or presses and releases out of turn (the button
        held or released twice), as a failure that begins with `when`; empty if neither."""
        if len(self.releases) != len(self.presses):
            return [f"{when}{len(self.releases)} releases for {len(self.presses)} presses: the "
                    f"button stayed down"]
        if self.button_order != "du" * len(self.presses):
            return [f"{when}presses and releases do not alternate ({self.button_order[:40]})"]
        return []


def collect_burst(receiver: Receiver, program: Child, start_harness_ns: int,
                  start_ns: Optional[int] = None, since_ns: Optional[int] = None) -> Burst:
    """The burst from the receiver's log so far (from since_ns on). start_ns is Start on the
    receiver's clock, when known better than from start_harness_ns."""
    if start_ns is None:
        start_ns = receiver.to_receiver_clock(start_harness_ns)
    burst = Burst(start_ns=start_ns, exit_status=program.exit_status)
    for event in receiver.events(since_ns):
        if event.kind in ("down", "up"):
            (burst.presses if event.kind == "down" else burst.releases).append(event.ns)
            burst.button_order += event.kind[0]
        else:
            (burst.other_buttons if event.kind == "button" else burst.motions).append(event)
    if program.exit_ns is not None:
        burst.run_s = (program.exit_ns - start_harness_ns) / 1e9
        burst.exit_ns = receiver.to_receiver_clock(program.exit_ns)
    return burst


def finish(receiver: Receiver, program: Child, start_harness_ns: int,
           timeout_s: float = figures.END_S + 15, **collect) -> Burst:
    """Waits for the program to end by itself (kills it if it does not), lets the last events
    in, and returns the burst; a killed program's exit is no exit of its own."""
    ended = program.wait_exit(timeout_s) is not None
    if not ended:
        program.kill()
    time.sleep(DRAIN_S)
    burst = collect_burst(receiver, program, start_harness_ns, **collect)
    if not ended:
        burst.exit_status = burst.run_s = None
    return burst


@dataclass(frozen=True)
class Expectations:
    clicks: int = figures.CLICKS
    clicks_tolerance: int = 2
    grace_ms: float = figures.GRACE_MS
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
    failures += burst.button_faults()
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


def nothing_before_start(receiver: Receiver, launched_ns: int, start_ns: Optional[int] = None,
                         motion: bool = True) -> List[str]:
    """Nothing may reach the receiver from the program's launch (harness clock) to Start (the
    receiver's clock; None: not pressed), motion only where the test moves no pointer itself."""
    early = [event for event in receiver.events(receiver.to_receiver_clock(launched_ns))
             if (start_ns is None or event.ns < start_ns) and (motion or event.kind != "motion")]
    return [f"{len(early)} events before Start, first {early[0].kind} {early[0].detail}"
            ] if early else []


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
