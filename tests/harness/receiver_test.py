#!/usr/bin/env python3
"""Checks of the harness's own judgement, on made-up bursts and lines: a harness that passed
a broken burst would hide every fault the integration tests are there to find."""

import unittest

from harness import receiver
from harness.receiver import Event, parse_event

MS = 1_000_000
START_NS = 5_000 * MS


def good_burst(**changes) -> receiver.Burst:
    presses = [START_NS + (2060 + 60 * n) * MS for n in range(448)]
    burst = receiver.Burst(start_ns=START_NS, presses=presses,
                     releases=[ns + MS // 10 for ns in presses], button_order="du" * 448,
                     exit_status=0, run_s=28.93, exit_ns=START_NS + 28_930 * MS)
    for name, value in changes.items():
        setattr(burst, name, value)
    return burst


class CheckBurstJudgesEachRule(unittest.TestCase):
    def failures(self, burst, **expect):
        return receiver.check_burst(burst, receiver.Expectations(**expect))

    def test_a_correct_burst_passes(self):
        self.assertEqual(self.failures(good_burst()), [])

    def test_click_count_outside_the_tolerance_fails_inside_passes(self):
        for count, ok in ((446, True), (450, True), (445, False), (451, False), (0, False)):
            presses = [START_NS + (2060 + 59 * n) * MS for n in range(count)]
            burst = good_burst(presses=presses, releases=presses, button_order="du" * count)
            self.assertEqual(self.failures(burst) == [], ok, count)

    def test_a_missing_release_or_a_held_button_fails(self):
        burst = good_burst()
        self.assertIn("447 releases for 448 presses",
                      " ".join(self.failures(good_burst(releases=burst.releases[:-1]))))
        held = "dd" + "u" * 2 + "du" * 446
        self.assertIn("do not alternate", " ".join(self.failures(good_burst(button_order=held))))

    def test_a_press_inside_the_grace_fails(self):
        burst = good_burst()
        burst.presses[0] = START_NS + 1999 * MS
        self.assertIn("grace", " ".join(self.failures(burst)))

    def test_an_end_too_early_too_late_or_not_by_itself_fails(self):
        for run_s in (27.5, 31.5):
            self.assertEqual(self.failures(good_burst(run_s=run_s)),
                             [f"ended {run_s:.2f} s after Start, expected 28.0-31.0 s"])
        self.assertIn("did not end by itself",
                      " ".join(self.failures(good_burst(exit_status=None, run_s=None))))

    def test_a_status_other_than_zero_fails(self):
        self.assertIn("exit status 70", " ".join(self.failures(good_burst(exit_status=70))))

    def test_a_press_after_the_exit_fails(self):
        burst = good_burst(exit_ns=START_NS + 28_000 * MS)
        self.assertIn("after the program had ended", " ".join(self.failures(burst)))

    def test_other_buttons_and_a_moving_pointer_fail_but_motion_before_clicking_is_allowed(self):
        right = Event("button", START_NS + 3000 * MS, 0, (3,))
        self.assertEqual(self.failures(good_burst(other_buttons=[right])),
                         ["1 presses of other buttons [3]"])
        during = Event("motion", START_NS + 5000 * MS, 0, (10, 10))
        self.assertIn("pointer moved", " ".join(self.failures(good_burst(motions=[during]))))
        before = Event("motion", START_NS + 500 * MS, 0, (10, 10))
        self.assertEqual(self.failures(good_burst(motions=[before])), [])


class ReceiverLines(unittest.TestCase):
    def test_event_lines_parse_and_others_are_ignored(self):
        self.assertEqual(parse_event(7, "down 123"), Event("down", 123, 7))
        self.assertEqual(parse_event(7, "motion 10 20 99"), Event("motion", 99, 7, (10, 20)))
        self.assertEqual(parse_event(7, "button 3 99"), Event("button", 99, 7, (3,)))
        for text in ("ready 5", "down", "down x", "up 1 2", "", "fixme:wine noise"):
            self.assertIsNone(parse_event(7, text), text)


if __name__ == "__main__":
    unittest.main()
