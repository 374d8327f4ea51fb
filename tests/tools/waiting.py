"""Waiting for a condition with a time-out, for the test tiers that drive
processes from outside (end-to-end, load)."""
import time


def wait_until(condition, timeout, interval=0.05):
    """Polls condition until it returns a true value or timeout seconds pass;
    returns the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)
