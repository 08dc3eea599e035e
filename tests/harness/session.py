"""The base of every private session (an X server, a Wayland compositor): the processes it
started, its clients' environment, waiting until it is ready, and its end, which ends every
child, the first started (the server) last: its clients end on their own once it has gone.
A subclass starts its server in __init__ inside `with self.starting():`, which closes what it
had started if the start fails, and may extend close().
"""

import contextlib
import os
import time
from typing import Callable, List, Optional, Sequence, Tuple, TypeVar

from harness import figures, receiver
from harness.process import Child, SessionError, run

T = TypeVar("T")


class Session:
    def __init__(self, env: Optional[dict] = None):
        self._children: List[Child] = []
        self.env = dict(os.environ if env is None else env)
        self.prefix: List[str] = []  # words every process starts under (another user's identity)

    @contextlib.contextmanager
    def starting(self):
        try:
            yield
        except BaseException:
            self.close()  # no `with` block owns the session yet
            raise

    def __enter__(self):
        return self

    def __exit__(self, _kind, error, _trace):
        server = self._children[:1]
        self.close()
        # A session that could not go on as planned: what its server last said may say why.
        tail = server[0].stderr_tail() if server else ""
        if isinstance(error, SessionError) and tail and tail not in str(error):
            error.args = (f"{error}\n{tail}",)

    def adopt(self, child):
        self._children.append(child)
        return child

    def launch(self, name: str, argv: Sequence[str], env: Optional[dict] = None,
               wrapper: Sequence[str] = ()) -> Child:
        """Starts a process on this session (under `wrapper`, run as the harness's own user)."""
        return self.adopt(Child(name, [*wrapper, *self.prefix, *argv],
                                self.env if env is None else env))

    def start_receiver(self, argv: Sequence[str], name: str = "receiver") -> receiver.Receiver:
        return self.adopt(receiver.start_receiver(name, [*self.prefix, *argv], self.env))

    def run(self, argv: Sequence[str], check: bool = True, timeout_s: float = 20):
        return run(argv, self.env, timeout_s, check)

    def wait_until(self, what: str, probe: Callable[[], Optional[T]], timeout_s: float = 20,
                   process: Optional[Child] = None, interval_s: float = 0.02) -> T:
        """probe()'s first answer that is neither None nor False; SessionError, naming `what`,
        once timeout_s have passed or `process` has ended."""
        deadline = time.monotonic() + timeout_s
        while (found := probe()) is None or found is False:
            if process is not None and process.exit_status is not None:
                raise SessionError(f"{process.name} ended with status {process.exit_status} "
                                   f"before {what}\n{process.stderr_tail()}")
            if time.monotonic() > deadline:
                tail = f"\n{process.stderr_tail()}" if process is not None else ""
                raise SessionError(f"no {what} after {timeout_s:.0f} s{tail}")
            time.sleep(interval_s)
        return found

    def press_start(self, start: Tuple[int, int], then_to: Optional[Tuple[int, int]],
                    spy: Optional[receiver.Receiver] = None) -> int:
        """Clicks Start at `start`, then moves the pointer to then_to, which must happen inside
        the grace. Returns the harness's time of Start: when the spy saw the release Start acts
        on, or else when the click had been sent. A subclass has click and move_pointer."""
        before_ns = time.monotonic_ns()
        start_ns = self.click(*start)
        if then_to is not None:
            self.move_pointer(*then_to)
            late_ms = (time.monotonic_ns() - start_ns) / 1e6
            if late_ms >= figures.GRACE_MS - 200:
                raise SessionError(f"the pointer left Start {late_ms:.0f} ms after it was "
                                   f"pressed, too late for the first click")
        return start_ns if spy is None else spy.first_release(before_ns)

    def close(self):
        for child in reversed(self._children):
            if child.exit_status is None:
                child.stop()
        self._children.clear()
