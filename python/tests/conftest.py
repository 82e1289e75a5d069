import os
import time

import pytest

from lumavex.sim import SimulatedTracker

# The source tree (the header, the generator): beside this folder, or where the runner says.
SOURCE_DIR = os.environ.get("LUMAVEX_SOURCE_DIR") or os.path.normpath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
)


def tracker_ip(n):
    """Test number n names the tracker's loopback address: 127.0.<n / 256>.<n % 256>."""
    return "127.0.%d.%d" % (n >> 8, n & 0xFF)


def printed(sim, text, seconds=3.0):
    """Whether the simulated tracker prints text within seconds."""
    end = time.monotonic() + seconds
    while text not in sim.output():
        if time.monotonic() > end:
            return False
        time.sleep(0.02)
    return True


def take(records, seconds, count=None):
    """The records an iterator yields within seconds (and at most count of them)."""
    out = []
    end = time.monotonic() + seconds
    for r in records:
        out.append(r)
        if time.monotonic() > end or (count is not None and len(out) >= count):
            break
    return out


@pytest.fixture
def simulated():
    """Starts simulated trackers by test number; stops them when the test ends."""
    started = []

    def start(n, **options):
        sim = SimulatedTracker(tracker_ip(n), **options)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


def gaps(samples, step):
    """Where consecutive samples are not step ms apart: (time before, time after). A block's
    first sample has no sample before it to share its millisecond with, so whether it lies half
    a millisecond later cannot be told: the steps are checked from the second sample on."""
    s = samples[1:]
    return [(a.time, b.time) for a, b in zip(s, s[1:]) if b.exact_time - a.exact_time != step]
