#!/usr/bin/env python3
"""bench: one burst of clicks from each of three programs on one Xvfb, timed by receivers.

  clickburst (Linux)     Start pressed, the pointer on receiver_x11
  xdotool (the peer)     xdotool click --repeat 448 --delay 60 1, into receiver_x11
  clickburst.exe (Wine)  Start pressed, the pointer on receiver_win32.exe

Receivers stamp each press on their monotonic clock (CLOCK_MONOTONIC; under Wine
QueryPerformanceCounter, which Wine runs on CLOCK_MONOTONIC_RAW): every figure of one program is
taken on one clock. CPU time and peak RSS are the program's rusage (bench/rusage.cpp: what
/usr/bin/time -v prints, with CPU in microseconds). Writes results.md (a Markdown table),
lateness.csv and lateness.png.
bench/run.sh builds what this needs and runs it; see there.
"""

import argparse
import datetime
import os
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from typing import List, Optional, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "faults"))
import xsession  # noqa: E402  (found through the path above)
from xsession import RECEIVER_POINT, XSession  # noqa: E402
from clicksession import SessionError  # noqa: E402

PERIOD_MS = 60.0
CLICKS = 448
GRACE_AND_FIRST_PERIOD_MS = 2060.0
BURST_S = 28.9


class Measured:
    """A program run by bench/rusage, which writes down its CPU time in microseconds and its
    peak RSS: the rusage /usr/bin/time -v prints, finer. Its standard error goes to a file."""

    rusage_tool = "rusage"

    def __init__(self, name: str, argv: Sequence[str], env: dict, work_dir: str):
        self.name = name
        self.stderr_file = os.path.join(work_dir, f"{name}.stderr.txt")
        self.usage_file = os.path.join(work_dir, f"{name}.rusage.txt")
        self.launch_ns = time.monotonic_ns()
        with open(self.stderr_file, "wb") as stderr:
            self.proc = subprocess.Popen([self.rusage_tool, self.usage_file, *argv], env=env,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=stderr, start_new_session=True)
        self.exit_ns: Optional[int] = None
        self.status: Optional[int] = None
        self.cpu_ms: Optional[float] = None
        self.rss_mb: Optional[float] = None
        self._done = threading.Event()
        threading.Thread(target=self._reap, daemon=True).start()

    def _reap(self):
        self.proc.wait()
        self.exit_ns = time.monotonic_ns()
        try:
            with open(self.usage_file) as usage:
                figures = dict(line.split() for line in usage if line.strip())
            self.status = int(figures["status"])
            self.cpu_ms = int(figures["cpu_us"]) / 1000
            self.rss_mb = int(figures["maxrss_kb"]) / 1024
        except (OSError, KeyError, ValueError):
            self.status = self.proc.returncode
        self._done.set()

    def wait(self, timeout_s: float) -> bool:
        return self._done.wait(timeout_s)

    def kill(self):
        try:
            os.killpg(self.proc.pid, 9)
        except ProcessLookupError:
            pass
        self._done.wait(5)

    def stderr_tail(self) -> str:
        with open(self.stderr_file, errors="replace") as stderr:
            return "".join(stderr.readlines()[-10:])


@dataclass
class Run:
    name: str
    presses: List[int] = field(default_factory=list)  # receiver clock, ns
    releases: int = 0
    start_ns: Optional[int] = None  # receiver clock
    end_ns: Optional[int] = None  # receiver clock
    status: Optional[int] = None
    cpu_ms: Optional[float] = None
    rss_mb: Optional[float] = None
    mapped_ms: Optional[float] = None
    load_before: float = 0.0
    load_after: float = 0.0
    note: str = ""

    def lateness_ms(self) -> List[float]:
        first = self.presses[0]
        return [(p - first) / 1e6 - PERIOD_MS * i for i, p in enumerate(self.presses)]

    def intervals_ms(self) -> List[float]:
        return [(b - a) / 1e6 for a, b in zip(self.presses, self.presses[1:])]


def percentile(values: Sequence[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(fraction * (len(ordered) - 1))))]


def collect(run: Run, receiver, program: Measured, start_harness_ns: int):
    time.sleep(0.5)  # clicks still on their way
    events = receiver.events()
    run.presses = [event.ns for event in events if event.kind == "down"]
    run.releases = sum(1 for event in events if event.kind == "up")
    offset = receiver.clock_offset_ns()
    run.start_ns = start_harness_ns - offset
    run.end_ns = program.exit_ns - offset if program.exit_ns is not None else None
    run.status, run.cpu_ms, run.rss_mb = program.status, program.cpu_ms, program.rss_mb
    run.load_after = os.getloadavg()[0]


def clocks_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC), time.clock_gettime_ns(
        time.CLOCK_MONOTONIC_RAW)


def run_clickburst(x: XSession, args, name: str, argv: Sequence[str], receiver_path: str,
                   emulator: Sequence[str], spy) -> Run:
    run = Run(name, load_before=os.getloadavg()[0])
    clocks_before = clocks_ns()
    receiver = xsession.start_receiver(x, receiver_path, emulator, seconds=120)
    watch = x.launch("map_watch", [args.map_watch, args.title, "--seconds", "60"])
    if watch.stdout.wait_for(lambda text: text.startswith("ready"), 20) is None:
        raise SessionError("map_watch did not start")
    program = Measured(name.split()[0] + ("-wine" if emulator else ""), [*emulator, *argv],
                       x.env, args.work)
    mapped = watch.stdout.wait_for(lambda text: text.startswith("mapped"), 60)
    if mapped is None:
        program.kill()
        raise SessionError(f"{name}: its window never became viewable\n{program.stderr_tail()}")
    run.mapped_ms = (int(mapped[1].split()[1]) - program.launch_ns) / 1e6
    window = x.wait_for_window(args.title, timeout_s=60)
    time.sleep(1.0)  # let start-up settle, as a person would take a moment to press Start
    clicked_ns = x.click(*window.start_button())
    x.move_pointer(*RECEIVER_POINT)
    # Start acts on the release: the spy saw it at the server, just before xdotool returned.
    releases = [event.ns for event in spy.events() if event.kind == "up" and event.ns <= clicked_ns]
    start_ns = releases[-1] if releases else clicked_ns
    if not program.wait(BURST_S + 30):
        program.kill()
        run.note = "killed: it did not end by itself; "
    collect(run, receiver, program, start_ns)
    receiver.stop()
    if emulator:
        (mono0, raw0), (mono1, raw1) = clocks_before, clocks_ns()
        ppm = ((mono1 - mono0) - (raw1 - raw0)) / (raw1 - raw0) * 1e6
        run.note += (f"timed on QueryPerformanceCounter, which Wine runs on CLOCK_MONOTONIC_RAW; "
                     f"that ran {ppm:+.2f} ppm against CLOCK_MONOTONIC during the run")
    return run


def run_peer(x: XSession, args) -> Run:
    run = Run("xdotool (peer)", load_before=os.getloadavg()[0])
    receiver = xsession.start_receiver(x, args.receiver_x11, seconds=120)
    x.move_pointer(*RECEIVER_POINT)
    time.sleep(0.3)
    program = Measured("xdotool", ["xdotool", "click", "--repeat", str(CLICKS), "--delay",
                                   str(int(PERIOD_MS)), "1"], x.env, args.work)
    if not program.wait(BURST_S + 30):
        program.kill()
        run.note = "killed: it did not end by itself; "
    collect(run, receiver, program, program.launch_ns)
    receiver.stop()
    return run


def figures(run: Run) -> dict:
    f = {"clicks": f"{len(run.presses)}" + (f" ({run.releases} up)"
                                            if run.releases != len(run.presses) else "")}
    if len(run.presses) >= 2:
        lateness = run.lateness_ms()
        intervals = run.intervals_ms()
        mean = (run.presses[-1] - run.presses[0]) / 1e6 / (len(run.presses) - 1)
        f.update(first_ms=(run.presses[0] - run.start_ns) / 1e6, mean_ms=mean,
                 period_error_ms=abs(mean - PERIOD_MS), stdev_ms=statistics.stdev(intervals),
                 p99_ms=percentile([abs(v) for v in lateness], 0.99), drift_ms=lateness[-1],
                 median_ms=statistics.median(lateness))
    if run.end_ns is not None:
        f["end_s"] = (run.end_ns - run.start_ns) / 1e9
    f.update(cpu_ms=run.cpu_ms, rss_mb=run.rss_mb, mapped_ms=run.mapped_ms, status=run.status)
    return f


def cell(value, digits: int = 3) -> str:
    if value is None:
        return "n/a"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def ratio(ours: Optional[float], peer: Optional[float]) -> str:
    if ours is None or peer is None or peer == 0:
        return "n/a"
    return f"{abs(ours) / abs(peer):.4f}"


def write_table(runs: List[Run], path: str, context: str):
    fig = [figures(run) for run in runs]
    rows = [
        ("clicks", "clicks", None, "448"),
        ("first click after Start (ms)", "first_ms", 1, "2060"),
        ("mean period (ms)", "mean_ms", 4, "60 ± 0.01"),
        ("std dev of the period (ms)", "stdev_ms", 3, ""),
        ("p99 \\|lateness\\| (ms)", "p99_ms", 3, "≤ 1"),
        ("median lateness (ms)", "median_ms", 3, ""),
        ("drift at the last click (ms)", "drift_ms", 3, "\\|·\\| ≤ 1 (Wine ≤ 2)"),
        ("end after Start (s)", "end_s", 3, "28.9"),
        ("CPU time, user + system (ms)", "cpu_ms", 1, "≤ 50"),
        ("peak RSS (MB)", "rss_mb", 1, "≤ 10"),
        ("window mapped after launch (ms)", "mapped_ms", 1, "≤ 100"),
        ("exit status", "status", None, "0"),
    ]
    lines = [f"| figure | {' | '.join(run.name for run in runs)} | target (Linux) |",
             "| --- |" + " ---: |" * len(runs) + " --- |"]
    for label, key, digits, target in rows:
        cells = [cell(f.get(key), digits if digits is not None else 3) for f in fig]
        lines.append(f"| {label} | {' | '.join(cells)} | {target} |")
    peer = next((f for run, f in zip(runs, fig) if run.name.startswith("xdotool")), None)
    if peer is not None:
        for label, key in (("drift, ours / peer", "drift_ms"),
                           ("\\|mean − 60\\|, ours / peer", "period_error_ms")):
            cells = [ratio(f.get(key), peer.get(key)) if f is not peer else "1"
                     for f in fig]
            lines.append(f"| {label} | {' | '.join(cells)} | |")
    loads = " | ".join(f"{run.load_before:.2f} → {run.load_after:.2f}" for run in runs)
    lines.append(f"| load average (1 min), before → after | {loads} | quiet: < 0.5 |")
    notes = [f"{run.name}: {run.note}" for run in runs if run.note]
    with open(path, "w") as out:
        out.write("<!-- Written by bench/run.sh; the figures of its latest run. -->\n")
        out.write(f"{context}\n\n" + "\n".join(lines) + "\n")
        if notes:
            out.write("\n" + "\n".join(f"- {note}" for note in notes) + "\n")
    return "\n".join(lines)


def write_plot(runs: List[Run], csv_path: str, png_path: str):
    series = [run.lateness_ms() if len(run.presses) >= 2 else [] for run in runs]
    with open(csv_path, "w") as out:
        out.write("click," + ",".join(run.name for run in runs) + "\n")
        for i in range(max(len(s) for s in series)):
            out.write(f"{i + 1}," + ",".join(f"{s[i]:.4f}" if i < len(s) else "" for s in series)
                      + "\n")
    colours = {"xdotool": "#e69f00", "clickburst (Linux)": "#7b3294", "clickburst.exe": "#009e73"}

    def line(i: int) -> str:
        colour = next((c for key, c in colours.items() if runs[i].name.startswith(key)), "black")
        return (f"'{csv_path}' using 1:{i + 2} with lines linecolor rgb '{colour}' "
                f"title '{runs[i].name}'")

    plot_all = ", ".join(line(i) for i in range(len(runs)))
    plot_ours = ", ".join(line(i) for i, run in enumerate(runs)
                          if not run.name.startswith("xdotool"))
    script = f"""
set terminal pngcairo size 1000,800 font ',10'
set output '{png_path}'
set datafile separator ','
set datafile missing ''
set key top left
set grid
set multiplot layout 2,1 title 'Lateness of each click against an ideal 60 ms grid from the first click'
set ylabel 'lateness (ms)'
plot {plot_all}
set xlabel 'click'
set title 'clickburst alone'
plot {plot_ours}
unset multiplot
"""
    done = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True)
    if done.returncode != 0:
        print(f"bench: gnuplot failed: {done.stderr}", file=sys.stderr)


def context_line(args) -> str:
    commit = subprocess.run(["git", "-C", HERE, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    when = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    cores = os.cpu_count()
    return (f"One run on {when}, commit {commit or '?'}, {cores} cores, Xvfb with openbox. "
            f"Clicks timed by the receiving window on its monotonic clock; lateness against an "
            f"ideal 60 ms grid anchored at the first click; drift = last click − (first + "
            f"60·(n−1)). The peer's \"Start\" is its launch. CPU time and peak RSS from the "
            f"program's rusage (for Wine: the program's own process, not wineserver).")


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--linux-program", required=True)
    parser.add_argument("--windows-program", required=True)
    parser.add_argument("--receiver-x11", required=True)
    parser.add_argument("--receiver-win32", required=True)
    parser.add_argument("--spy", required=True, help="button_spy, to time the press of Start")
    parser.add_argument("--map-watch", required=True)
    parser.add_argument("--rusage", required=True, help="bench/rusage.cpp, built")
    parser.add_argument("--title", required=True)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--out", required=True, help="directory for the results")
    parser.add_argument("--work", required=True,
                        help="directory for each program's stderr and /usr/bin/time -v report")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(args.work, exist_ok=True)
    Measured.rusage_tool = args.rusage
    runs: List[Run] = []
    try:
        with XSession() as x:
            spy = xsession.start_spy(x, args.spy, seconds=600)
            print("bench: clickburst (Linux)", flush=True)
            runs.append(run_clickburst(x, args, "clickburst (Linux)", [args.linux_program],
                                       args.receiver_x11, [], spy))
            print("bench: xdotool", flush=True)
            runs.append(run_peer(x, args))
            if not args.skip_wine:
                print("bench: clickburst.exe (Wine)", flush=True)
                # A warm Wine: its server and desktop already up, as on a desktop in use.
                subprocess.run([args.wine, "cmd", "/c", "exit"], env=x.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=120)
                runs.append(run_clickburst(x, args, "clickburst.exe (Wine)",
                                           [args.windows_program], args.receiver_win32,
                                           [args.wine], spy))
    except SessionError as error:
        print(f"bench: ERROR {error}", file=sys.stderr)
        return 2
    table = write_table(runs, os.path.join(args.out, "results.md"), context_line(args))
    write_plot(runs, os.path.join(args.out, "lateness.csv"), os.path.join(args.out, "lateness.png"))
    print(table)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
