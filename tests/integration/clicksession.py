#!/usr/bin/env python3
"""clicksession: burst_probe (the controller on the platform's own event loop, Start pressed
at once) clicks a receiver that covers a private X display, and the burst is checked: 448
clicks, a release for each, none inside the grace, the end by itself about 28.9 s after Start.

    clicksession.py probe --program burst_probe --receiver receiver_x11 [--emulator wine]
"""

import sys

from harness.cases import Stage, main, with_tails
from harness.process import SessionError
from harness.receiver import STARTUP_TIMEOUT_S, Expectations, check_burst, finish, summary


def case_probe(args):
    expect = Expectations()
    with Stage(args, window_manager=False) as stage:
        receiver = stage.receiver(seconds=90, geometry=None)  # the pointer goes to its centre
        program = stage.launch("burst_probe", [*args.emulator, args.program])
        # "start <ns>": Start on the program's clock, the one the receiver logs with.
        line = program.stdout.wait_for(lambda text: text.startswith("start "), STARTUP_TIMEOUT_S)
        if line is None:
            raise SessionError(f"burst_probe printed no start line (status "
                               f"{program.wait_exit(1.0)})\n{program.stderr_tail()}")
        burst = finish(receiver, program, line[0], expect.run_s_max + 15.0,
                       start_ns=int(line[1].split()[1]))
    return with_tails(check_burst(burst, expect), program, receiver), summary(burst)


if __name__ == "__main__":
    sys.exit(main("clicksession", {"probe": case_probe}, sys.argv[1:]))
