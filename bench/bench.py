#!/usr/bin/env python3
"""bench: one burst of clicks from each program, timed by a receiving window. Its columns, in
COLUMNS (a column is one entry there: a heading, a colour, and the function that runs it):

  linux  clickburst (Linux)     on a private Xvfb with openbox: Start pressed, the pointer on
                                receiver_x11
  peer   xdotool (peer)         xdotool click --repeat 448 --delay 60 1, into receiver_x11
  wine   clickburst.exe (Wine)  as linux, under Wine, into receiver_win32.exe
  sway   clickburst (sway)      on a headless sway of its own, its window through Xwayland,
                                Start clicked through the seat's cursor, which is parked on
                                receiver_wayland: the clicks go through the virtual pointer.
                                Needs root (sway runs as a user of its own)
  gnome  clickburst (GNOME)     as sway, on a headless mutter: its remote-desktop session
  kwin   clickburst (KWin)      as sway, on a headless kwin_wayland, the program installed (cmake
                                --install from --linux-build) into its HOME: KWin's fake input

Receivers stamp each press on their monotonic clock (CLOCK_MONOTONIC; under Wine
QueryPerformanceCounter, which Wine runs on CLOCK_MONOTONIC_RAW): every figure of one program is
taken on one clock. CPU time and peak RSS are the program's rusage (bench/rusage.cpp). Writes
results.md (a Markdown table, one column a program), lateness.csv and lateness.png, again after
each column, so that a column that fails loses none before it. bench/run.sh builds what this
needs and runs it.
"""

import argparse
import datetime
import math
import os
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional, Sequence

from harness import figures, wine
from harness.cases import Stage
from harness.process import SessionError
from harness.receiver import Burst, finish
from harness.wayland import KWin, Mutter, Sway, WaylandSession
from harness.xsession import RECEIVER_POINT

PERIOD_MS = figures.PERIOD_MS
# Drift compares the grid residuals of this many clicks at each end of the burst.
DRIFT_CLICKS = 20


@dataclass
class Run:
    name: str
    colour: str
    burst: Burst = field(default_factory=lambda: Burst(start_ns=0))  # the receiver's clock
    cpu_ms: Optional[float] = None
    rss_mb: Optional[float] = None
    mapped_ms: Optional[float] = None
    load_before: float = field(default_factory=lambda: os.getloadavg()[0])
    load_after: float = 0.0
    note: str = ""
    free_running: bool = False  # a program without a grid of its own: the peer

    def slots(self) -> List[int]:
        """Each press's slot on the 60 ms grid. A peer that sleeps 60 ms after each click
        means its n-th click for slot n. Our timers keep one grid, so each press goes to its
        nearest slot of the grid's phase (the presses' circular mean modulo 60 ms): a tick
        dropped under load leaves its slot empty rather than shifting every later press by a
        period, and no press moves another."""
        presses_ms = [p / 1e6 for p in self.burst.presses]
        if self.free_running or not presses_ms:
            return list(range(len(presses_ms)))
        turns = [2 * math.pi * (p - presses_ms[0]) / PERIOD_MS for p in presses_ms]
        phase_ms = presses_ms[0] + PERIOD_MS / (2 * math.pi) * math.atan2(
            sum(map(math.sin, turns)), sum(map(math.cos, turns)))
        return [round((p - phase_ms) / PERIOD_MS) for p in presses_ms]

    def lateness_ms(self) -> List[float]:
        """Each press against the ideal 60 ms grid, anchored where most presses agree: at the
        median of press i - 60 ms * i (i its slot), so that one late click (the first) does
        not shift it."""
        offsets = [p / 1e6 - PERIOD_MS * i for p, i in zip(self.burst.presses, self.slots())]
        anchor = statistics.median(offsets) if offsets else 0
        return [offset - anchor for offset in offsets]


def args_with(args, **changed) -> argparse.Namespace:
    """The command line with other programs: what cases.Stage reads for one column."""
    return argparse.Namespace(**dict(vars(args), **changed))


def rusage_file(args, run: Run) -> str:
    """Where bench/rusage writes the CPU time and peak RSS of the program it runs."""
    return os.path.join(args.work, "".join(filter(str.isalnum, run.name)) + ".rusage.txt")


def collect(run: Run, receiver, program, start_harness_ns: int, usage_file: str):
    run.burst = finish(receiver, program, start_harness_ns, figures.END_S + 30)
    if run.burst.exit_status is None:
        run.note = "killed: it did not end by itself; "
    try:
        with open(usage_file) as usage:
            used = dict(line.split() for line in usage if line.strip())
        run.burst.exit_status, run.cpu_ms = int(used["status"]), int(used["cpu_us"]) / 1000
        run.rss_mb = int(used["maxrss_kb"]) / 1024
    except (OSError, KeyError, ValueError):
        pass
    run.load_after = os.getloadavg()[0]


def clocks_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC), time.clock_gettime_ns(
        time.CLOCK_MONOTONIC_RAW)


def run_clickburst(stage: Stage, args, run: Run):
    """Launches the stage's program under bench/rusage, times its window's mapping, and
    presses Start as a person would, a moment after the window came."""
    spy = stage.spy()  # sees the release of Start at the server, to time Start by
    receiver = stage.receiver()
    watch = stage.start_receiver([args.receiver, "--map", args.title, "--seconds", "60"],
                                 "map watch", geometry=None)
    usage = rusage_file(args, run)
    program, window = stage.launch_program([args.rusage, usage, *stage.args.emulator,
                                            stage.args.program])
    mapped = watch.stdout.wait_for(lambda text: text.startswith("mapped"), 60)
    if mapped is None:
        raise SessionError(f"{run.name}: its window never became viewable\n"
                           f"{program.stderr_tail()}")
    run.mapped_ms = (int(mapped[1].split()[1]) - program.started_ns) / 1e6
    time.sleep(1.0)  # let start-up settle, as a person would take a moment to press Start
    collect(run, receiver, program, stage.press_start(window, spy=spy), usage)


def run_linux(args, run: Run):
    with Stage(args) as stage:
        run_clickburst(stage, args, run)


def run_peer(args, run: Run):
    with Stage(args) as stage:
        receiver = stage.receiver()
        stage.move_pointer(*RECEIVER_POINT)
        time.sleep(0.3)
        usage = rusage_file(args, run)
        program = stage.launch("xdotool", [args.rusage, usage, "xdotool", "click", "--repeat",
                                           str(figures.CLICKS), "--delay", str(PERIOD_MS), "1"])
        collect(run, receiver, program, program.started_ns, usage)


def run_wine(args, run: Run):
    clocks_before = clocks_ns()
    with Stage(args_with(args, program=args.windows_program, receiver=args.windows_receiver,
                         spy=args.receiver, emulator=["wine"])) as stage:
        # A warm Wine: its server and desktop already up, as on a desktop in use.
        stage.env = wine.start_server(args.wine_prefix, stage.env)
        try:
            run_clickburst(stage, args, run)
        finally:
            wine.stop_server(stage.env)
    (mono0, raw0), (mono1, raw1) = clocks_before, clocks_ns()
    ppm = ((mono1 - mono0) - (raw1 - raw0)) / (raw1 - raw0) * 1e6
    run.note += (f"timed on QueryPerformanceCounter, which Wine runs on CLOCK_MONOTONIC_RAW; "
                 f"that ran {ppm:+.2f} ppm against CLOCK_MONOTONIC during the run")


def run_wayland(w: WaylandSession, args, run: Run, program_path: str, how: str):
    usage = rusage_file(args, run)
    with w:
        receiver, program, start = w.stage(args_with(args, program=program_path),
                                           wrapper=[args.rusage, usage])
        time.sleep(1.0)
        collect(run, receiver, program, w.press_start(start), usage)
    run.note += (f"{how}; timed by receiver_wayland on CLOCK_MONOTONIC at dispatch; Start is when "
                 "Xwayland had the release of the click on it (receiver_x11 --spy); the window's "
                 "mapping is not timed")


def run_sway(args, run: Run):
    run_wayland(Sway(), args, run, args.program, "through the virtual pointer")


def run_gnome(args, run: Run):
    run_wayland(Mutter(args.mutter_preload), args, run, args.program,
                "through its remote-desktop session")


def run_kwin(args, run: Run):
    w = KWin(install=args.linux_build)
    # The receiver is left inactive: a person who has just pressed Start has Start's window active.
    run_wayland(w, args, run, w.installed_program,
                "installed with its launcher entry, through KWin's fake input; the first click "
                "is late by KWin's activation of the receiver, which it does at the first press "
                "into it (click to focus) before passing the press on")


def needs_root() -> Optional[str]:
    return None if os.geteuid() == 0 else (
        "sway refuses to run as root, so the benchmark runs it as a user of its own, which only "
        "root can create and switch to; run the benchmark as root for this column")


@dataclass(frozen=True)
class Column:
    name: str
    colour: str
    measure: Callable[[argparse.Namespace, Run], None]
    unavailable: Callable[[], Optional[str]] = lambda: None  # why it cannot run here, or None
    free_running: bool = False  # a program without a grid of its own: the yardstick


# In the table's order; the peer is the yardstick of the ratios.
COLUMNS = {
    "linux": Column("clickburst (Linux)", "#7b3294", run_linux),
    "peer": Column("xdotool (peer)", "#e69f00", run_peer, free_running=True),
    "wine": Column("clickburst.exe (Wine)", "#009e73", run_wine),
    "sway": Column("clickburst (sway)", "#0571b0", run_sway, needs_root),
    "gnome": Column("clickburst (GNOME)", "#d01c8b", run_gnome),
    "kwin": Column("clickburst (KWin)", "#ca0020", run_kwin),
}


def percentile(values: Sequence[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(fraction * (len(ordered) - 1))))]


def run_figures(run: Run) -> dict:
    burst, presses = run.burst, run.burst.presses
    f = {"clicks": f"{len(presses)}" + (f" ({len(burst.releases)} up)"
                                        if len(burst.releases) != len(presses) else ""),
         "cpu_ms": run.cpu_ms, "rss_mb": run.rss_mb, "mapped_ms": run.mapped_ms,
         "status": burst.exit_status}
    if len(presses) > DRIFT_CLICKS:
        lateness, slots = run.lateness_ms(), run.slots()
        # From the second press on, as the first is late by design; per period, as a dropped
        # tick makes one interval of two.
        intervals = [(b - a) / 1e6 / (j - i) for a, b, i, j
                     in zip(presses[1:], presses[2:], slots[1:], slots[2:]) if j > i]
        mean = (presses[-1] - presses[1]) / 1e6 / (slots[-1] - slots[1])
        f.update(first_ms=burst.offsets_ms(presses[:1])[0], first_late_ms=lateness[0],
                 mean_ms=mean, period_error_ms=abs(mean - PERIOD_MS),
                 stdev_ms=statistics.stdev(intervals),
                 p99_ms=percentile([abs(v) for v in lateness[1:]], 0.99),
                 drift_ms=statistics.median(lateness[-DRIFT_CLICKS:])
                 - statistics.median(lateness[:DRIFT_CLICKS]))
    if burst.exit_ns is not None:
        f["end_s"] = (burst.exit_ns - burst.start_ns) / 1e9
    return f


def cell(value, digits: int) -> str:
    if value is None:
        return "n/a"
    return f"{value:.{digits}f}" if isinstance(value, float) else str(value)


def ratio(ours: Optional[float], peer: Optional[float]) -> str:
    if ours is None or peer is None or peer == 0:
        return "n/a"
    return f"{abs(ours) / abs(peer):.4f}"


ROWS = [
    ("clicks", "clicks", 0, str(figures.CLICKS)),
    ("first click after Start (ms)", "first_ms", 1, str(figures.FIRST_CLICK_MS)),
    ("first click's lateness against the grid (ms)", "first_late_ms", 3, ""),
    ("mean period, after the first click (ms)", "mean_ms", 4, "60 ± 0.01"),
    ("std dev of the period, after the first (ms)", "stdev_ms", 3, ""),
    ("p99 \\|lateness\\|, after the first (ms)", "p99_ms", 3, "≤ 1"),
    (f"drift, last {DRIFT_CLICKS} − first {DRIFT_CLICKS} (ms)", "drift_ms", 3,
     "\\|·\\| ≤ 1 (Wine ≤ 2)"),
    ("end after Start (s)", "end_s", 3, str(figures.END_S)),
    ("CPU time, user + system (ms)", "cpu_ms", 1, "≤ 50"),
    ("peak RSS (MB)", "rss_mb", 1, "≤ 10"),
    ("window mapped after launch (ms)", "mapped_ms", 1, "≤ 100"),
    ("exit status", "status", 0, "0"),
]


def write_table(runs: List[Run], path: str, context: str) -> str:
    fig = [run_figures(run) for run in runs]
    lines = [f"| figure | {' | '.join(run.name for run in runs)} | target (Linux) |",
             "| --- |" + " ---: |" * len(runs) + " --- |"]
    lines += [f"| {label} | {' | '.join(cell(f.get(key), digits) for f in fig)} | {target} |"
              for label, key, digits, target in ROWS]
    peer = next((f for run, f in zip(runs, fig) if run.free_running), None)
    if peer is not None:
        for label, key in (("drift, ours / peer", "drift_ms"),
                           ("\\|mean − 60\\|, ours / peer", "period_error_ms")):
            cells = [ratio(f.get(key), peer.get(key)) if f is not peer else "1" for f in fig]
            lines.append(f"| {label} | {' | '.join(cells)} | |")
    loads = " | ".join(f"{run.load_before:.2f} → {run.load_after:.2f}" for run in runs)
    lines.append(f"| load average (1 min), before → after | {loads} | quiet: < 0.5 |")
    notes = [f"- {run.name}: {run.note}" for run in runs if run.note]
    with open(path, "w") as out:
        out.write("<!-- Written by bench/run.sh; the figures of its latest run. -->\n")
        out.write(f"{context}\n\n" + "\n".join(lines + ([""] + notes if notes else [])) + "\n")
    return "\n".join(lines)


def write_plot(runs: List[Run], csv_path: str, png_path: str):
    series = [run.lateness_ms() for run in runs]
    with open(csv_path, "w") as out:
        out.write("click," + ",".join(run.name for run in runs) + "\n")
        for i in range(max(len(s) for s in series)):
            out.write(f"{i + 1}," + ",".join(f"{s[i]:.4f}" if i < len(s) else "" for s in series)
                      + "\n")

    def line(i: int) -> str:
        return (f"'{csv_path}' using 1:{i + 2} with lines linecolor rgb '{runs[i].colour}' "
                f"title '{runs[i].name}'")

    ours = [i for i, run in enumerate(runs) if not run.free_running]
    alone = f"set title 'clickburst alone'\nplot {', '.join(map(line, ours))}" if ours else ""
    script = f"""
set terminal pngcairo size 1000,800 font ',10'
set output '{png_path}'
set datafile separator ','
set datafile missing ''
set key top left
set grid
set multiplot layout {1 + bool(ours)},1 title 'Lateness of each click against an ideal 60 ms grid (anchored at the median)'
set ylabel 'lateness (ms)'
plot {", ".join(line(i) for i in range(len(runs)))}
set xlabel 'click'
{alone}
unset multiplot
"""
    done = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True)
    if done.returncode != 0:
        print(f"bench: gnuplot failed: {done.stderr}", file=sys.stderr)


def context_line() -> str:
    here = os.path.dirname(os.path.abspath(__file__))
    commit = subprocess.run(["git", "-C", here, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    when = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    return (f"One run on {when}, commit {commit or '?'}, {os.cpu_count()} cores, each column "
            f"on a private Xvfb with openbox (sway: a headless sway). Clicks timed by the "
            f"receiving window on its monotonic clock; lateness against an ideal 60 ms grid "
            f"anchored at the median of (press i − 60 ms·i), i the press's slot (ours: the "
            f"nearest of the timers' one grid; the peer: its n-th click), the first click's on "
            f"its own row; drift = median lateness of the last "
            f"{DRIFT_CLICKS} clicks − that of the first {DRIFT_CLICKS}. The peer's \"Start\" is "
            f"its launch. CPU time and peak RSS from the program's rusage (for Wine: the "
            f"program's own process, not wineserver).")


def write_results(runs: List[Run], out: str) -> str:
    write_plot(runs, os.path.join(out, "lateness.csv"), os.path.join(out, "lateness.png"))
    return write_table(runs, os.path.join(out, "results.md"), context_line())


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    # As the tests name them (cases.Stage reads them): --program and --receiver are Linux's.
    for option in ("linux-build", "program", "windows-program", "receiver", "windows-receiver",
                   "wayland-receiver", "mutter-preload", "start-button", "rusage", "title", "out",
                   "work"):
        parser.add_argument(f"--{option}", required=True)
    parser.set_defaults(spy=None, emulator=[])
    parser.add_argument("--wine-prefix", default=os.environ.get("WINEPREFIX", "build/wine"))
    parser.add_argument("--skip", action="append", default=[], choices=sorted(COLUMNS))
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(args.work, exist_ok=True)
    todo = {key: column for key, column in COLUMNS.items() if key not in args.skip}
    for key, why in [(key, column.unavailable()) for key, column in todo.items()]:
        if why:
            print(f"bench: {key} skipped: {why}.", flush=True)
            del todo[key]
    runs: List[Run] = []
    failed = []
    for key, column in todo.items():
        print(f"bench: {key}", flush=True)
        run = Run(column.name, column.colour, free_running=column.free_running)
        try:
            column.measure(args, run)
        except SessionError as error:
            print(f"bench: {key}: ERROR {error}", file=sys.stderr)
            failed.append(key)
            continue
        runs.append(run)
        table = write_results(runs, args.out)  # now: a later column that fails loses nothing
    if runs:
        print(table)
    return 2 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
