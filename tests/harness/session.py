"""The base of every private session a test or benchmark runs on (an X server, a Wayland
compositor): the processes it started, the environment its clients need, waiting for it to be
ready, and its end, which ends every child (the one started first last: the server, whose
clients end on their own once it has gone) and then runs the cleanups registered.

    class Server(Session):
        def __init__(self):
            super().__init__()
            with self.starting():  # a start that fails closes what it had started
                self.server = self.launch("server", ["server", "--socket", "s"])
                self.wait_until("its socket", lambda: os.path.exists("s"), process=self.server)
"""

import contextlib
import os
import time
from typing import Callable, List, Optional, Sequence, TypeVar

from harness import receiver
from harness.process import Child, SessionError, run

T = TypeVar("T")


class Session:
    def __init__(self, env: Optional[dict] = None):
        self._children: List[Child] = []
        self._cleanups: List[Callable[[], None]] = []
        self.env = dict(os.environ if env is None else env)
        # Words every process of the session starts under (another user's identity).
        self.prefix: List[str] = []

    @contextlib.contextmanager
    def starting(self):
        """Closes the session if its start fails: no `with` block owns it yet."""
        try:
            yield
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def adopt(self, child):
        """Ends `child` with the session."""
        self._children.append(child)
        return child

    def on_close(self, cleanup: Callable[[], None]):
        self._cleanups.append(cleanup)

    def launch(self, name: str, argv: Sequence[str], env: Optional[dict] = None,
               wrapper: Sequence[str] = ()) -> Child:
        """Starts a process on this session (under `wrapper`, which runs as the harness's own
        user); it is ended when the session closes."""
        return self.adopt(Child(name, [*wrapper, *self.prefix, *argv],
                                self.env if env is None else env))

    def start_receiver(self, argv: Sequence[str], name: str = "receiver") -> receiver.Receiver:
        """A receiver (or button_spy) on this session, ready."""
        return self.adopt(receiver.start_receiver(name, [*self.prefix, *argv], self.env))

    def run(self, argv: Sequence[str], check: bool = True, timeout_s: float = 20):
        """A tool of the harness's own user, run to its end on this session."""
        return run(argv, self.env, timeout_s, check)

    def wait_until(self, what: str, probe: Callable[[], Optional[T]], timeout_s: float = 20,
                   process: Optional[Child] = None, interval_s: float = 0.02) -> T:
        """probe()'s first answer that is neither None nor False. Raises SessionError naming
        `what` once timeout_s have passed, or once `process` has ended without it."""
        deadline = time.monotonic() + timeout_s
        while True:
            found = probe()
            if found is not None and found is not False:
                return found
            if process is not None and process.exit_status is not None:
                raise SessionError(f"{process.name} ended with status {process.exit_status} "
                                   f"before {what}\n{process.stderr_tail()}")
            if time.monotonic() > deadline:
                tail = f"\n{process.stderr_tail()}" if process is not None else ""
                raise SessionError(f"no {what} after {timeout_s:.0f} s{tail}")
            time.sleep(interval_s)

    def close(self):
        for child in reversed(self._children):
            if child.exit_status is None:
                child.stop()
        self._children.clear()
        for cleanup in self._cleanups:
            cleanup()
        self._cleanups.clear()
