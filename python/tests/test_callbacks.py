"""Data callbacks run on the package's thread and keep up with the stream however slow they are."""
import threading
import time

import lumavex
from conftest import gaps


def test_a_slow_callback_keeps_up_with_2000_hz(simulated):
    sim = simulated(815, rate=2000)
    received = []
    threads = set()

    def slow(records):
        threads.add(threading.current_thread().name)
        received.extend(records)
        time.sleep(0.003)  # three milliseconds per call: six samples' worth

    with sim.connect() as tracker:
        tracker.on_data(slow)
        time.sleep(1.2)
        newest = tracker.newest_sample()
        behind = newest.time - received[-1].time if received else None
        tracker.on_data(None)
    assert threads == {"lumavex-data"}
    samples = [r for r in received if isinstance(r, lumavex.Sample)]
    assert not any(isinstance(r, lumavex.LostData) for r in received)
    # Every sample in order (one each half millisecond), a second's worth, and the callback no
    # further behind than a few of its own calls.
    assert gaps(samples, 0.5) == []
    assert samples[-1].time - samples[0].time > 800
    assert behind is not None and behind < 100
