"""Checks and waits. Every wait has a time limit and raises Timeout with what
was awaited; a check that does not hold raises Failure with what was
checked."""
import time


class Timeout(Exception):
    pass


class Failure(Exception):
    """A check of a scenario that did not hold."""


def check(condition, what):
    """Raises Failure naming `what` unless `condition`; prints it when it holds."""
    if not condition:
        raise Failure(what)
    print(f"  ok: {what}", flush=True)


def wait_until(condition, what, timeout, interval=0.2):
    """Polls `condition` until it returns something true, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)
