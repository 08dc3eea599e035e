"""Processes of a session: each in a process group of its own, so that it can be ended whole,
with standard input closed and both output streams read line by line as they come.

    child = Child("receiver", ["receiver_x11"], env)
    child.stdout.wait_for(lambda text: text.startswith("ready"), timeout_s=40)
    child.stop()

Times are time.monotonic_ns(), the harness's clock (CLOCK_MONOTONIC on Linux).
"""

import os
import signal
import subprocess
import threading
import time
from typing import Callable, List, Optional, Sequence, Tuple


class SessionError(Exception):
    """The session could not be run as planned (a process would not start, answer or end)."""


class LineLog:
    """The lines of one pipe as they arrive, each with the harness's time of arrival."""

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

    def text(self) -> str:
        return "\n".join(text for _, text in self.lines())

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
    """A running process; started_ns and exit_ns are when it was started and seen to end."""

    def __init__(self, name: str, argv: Sequence[str], env: Optional[dict] = None):
        self.name = name
        self.started_ns = time.monotonic_ns()
        try:
            self.proc = subprocess.Popen(list(argv), stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         env=env, start_new_session=True)
        except OSError as error:
            raise SessionError(f"cannot start {name} ({argv[0]}): {error}") from error
        self.stdout = LineLog(self.proc.stdout)
        self.stderr = LineLog(self.proc.stderr)
        self.exit_ns: Optional[int] = None
        self._exited = threading.Event()
        # A thread blocked in waitpid sees the exit at once; Popen.wait(timeout) polls.
        threading.Thread(target=self._wait, daemon=True).start()

    def _wait(self):
        self.proc.wait()
        self.exit_ns = time.monotonic_ns()
        # Its last words, unless a process it left behind holds the pipes open.
        for log in (self.stdout, self.stderr):
            log.wait_for(lambda text: False, 1.0)
        self._exited.set()

    def wait_exit(self, timeout_s: float) -> Optional[int]:
        """The exit status, or None if the process is still running after timeout_s."""
        return self.proc.returncode if self._exited.wait(timeout_s) else None

    @property
    def exit_status(self) -> Optional[int]:
        return self.proc.returncode if self._exited.is_set() else None

    def signal(self, signum: int, group: bool = False):
        """A signal to the process, as a user's kill sends it, or to its whole group."""
        try:
            (os.killpg if group else os.kill)(self.proc.pid, signum)
        except (ProcessLookupError, PermissionError):
            pass

    def stop(self, grace_s: float = 3.0):
        """SIGTERM to the whole group, then SIGKILL to what is left of it after grace_s: a
        process may outlive its group's first (a blocked mutter did its dbus-run-session)."""
        self.signal(signal.SIGTERM, group=True)
        deadline = time.monotonic() + grace_s
        while time.monotonic() < deadline and self._group_left():
            time.sleep(0.02)
        self.kill()

    def _group_left(self) -> bool:
        """Whether a process of the group still runs (a zombie left for init to reap does not)."""
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except (OSError, IndexError):
                continue
            if fields[2] == str(self.proc.pid) and fields[0] != "Z":
                return True
        return False

    def kill(self):
        self.signal(signal.SIGKILL, group=True)
        self._exited.wait(3.0)

    def stderr_tail(self, count: int = 15) -> str:
        return "\n".join(f"  {self.name}: {text}" for _, text in self.stderr.lines()[-count:])


def run(argv: Sequence[str], env: Optional[dict] = None, timeout_s: float = 20,
        check: bool = True, text: bool = True) -> subprocess.CompletedProcess:
    """Runs a tool to its end; raises SessionError if it cannot, or (check) if it fails."""
    try:
        done = subprocess.run(list(argv), env=env, capture_output=True, text=text,
                              timeout=timeout_s, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise SessionError(f"{' '.join(argv)}: {error}") from error
    if check and done.returncode != 0:
        raise SessionError(f"{' '.join(argv)} failed ({done.returncode}): {done.stderr.strip()}")
    return done


def sleep_until_ns(monotonic_ns: int):
    time.sleep(max(0.0, (monotonic_ns - time.monotonic_ns()) / 1e9))
