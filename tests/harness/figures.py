"""The burst's figures, in milliseconds from Start, read from the controller's own constants
(src/burst/burst_constants.h) so that no test copies them: 448 clicks, the first at 2060 ms,
the last at 28880 ms, the end at 28900 ms.

    from harness.figures import CLICKS, FIRST_CLICK_MS
"""

import math
import os
import re

_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "burst",
                       "burst_constants.h")
with open(_HEADER) as _header:
    _CONSTANTS = {name: int(value) for name, value in
                  re.findall(r"constexpr std::int32_t (k\w+) = (\d+);", _header.read())}

GRACE_MS = _CONSTANTS["kArmPeriodMs"]
PERIOD_MS = _CONSTANTS["kClickPeriodMs"]
END_MS = _CONSTANTS["kBurstLengthMs"]
# The click timer is armed at the end of the grace and ticks one period later.
FIRST_CLICK_MS = GRACE_MS + PERIOD_MS
# Every click tick due before the end: none falls on the end itself with these values.
CLICKS = math.ceil((END_MS - FIRST_CLICK_MS) / PERIOD_MS)
LAST_CLICK_MS = FIRST_CLICK_MS + (CLICKS - 1) * PERIOD_MS
PERIOD_NS = PERIOD_MS * 1_000_000
END_S = END_MS / 1000
