"""A lab's session against the stand-alone simulated tracker, through the package."""
import subprocess
import sys
import textwrap
import time

import pytest

import lumavex
from lumavex import raw
from conftest import gaps, printed, take, tracker_ip


def test_session_commands_messages_recording_and_samples(simulated, tmp_path):
    sim = simulated(810, file_service=True, extra_args=["--print-commands"])
    with sim.connect() as tracker:
        assert tracker.version == "LUMAVEX RX 5.7" and tracker.connected
        assert tracker.command("screen_pixel_coords = 0 0 1023 767") == 0
        assert tracker.command("sample_rate 333") == -3  # the tracker's "Bad value"
        assert tracker.command("make_coffee") == 1
        assert tracker.command("sample_rate 2000") == 0
        tracker.open_data_file("pysess")
        tracker.message("DISPLAY_COORDS 0 0 1023 767")
        with tracker.recording():
            assert tracker.mode() & lumavex.Mode.RECORD
            tracker.message("TRIALID 1")
            live = take(tracker.records(timeout=1.0), seconds=0.3)
        live += take(tracker.records(timeout=0.2), seconds=1.0)
        assert tracker.mode() & lumavex.Mode.IDLE

        samples = [r for r in live if isinstance(r, lumavex.Sample)]
        assert len(samples) > 200
        assert not any(isinstance(r, lumavex.LostData) for r in live)
        # In order, every one: 2000 Hz is a sample each half millisecond.
        assert gaps(samples, 0.5) == []
        assert all(s.flags & lumavex.SampleFlag.LEFT and s.flags & lumavex.SampleFlag.RIGHT for s in samples)
        assert any(isinstance(r, lumavex.Event) and r.type == lumavex.RecordType.ENDFIX for r in live)
        assert [r.text for r in live if isinstance(r, lumavex.Message)] == ["TRIALID 1"]

        # What the tracker sent, as it recorded it: its playback is the same samples again.
        assert raw.lumavex_playback_start() == 0
        again = [r for r in take(tracker.samples(timeout=0.5), seconds=5.0) if isinstance(r, lumavex.Sample)]
        raw.lumavex_playback_stop()
        assert again[: len(samples)] == samples
        assert samples[100].gaze_x == again[100].gaze_x and samples[100].pupil_size[0] > 0

        # The batch read gives the same values as the records, as NumPy arrays.
        np = pytest.importorskip("numpy")
        with tracker.recording(link_events=False):
            batch = tracker.read_batch(max_records=500, timeout=1.0)
            first = next(tracker.samples(timeout=1.0))
        got = batch.samples
        assert len(got) > 0 and got["gaze_x"].shape == (len(got), 2)
        assert np.all(np.diff(got["time"].astype(np.int64)) >= 0) and got["time"][-1] <= first.time

        tracker.close_data_file()
        done = []
        size = tracker.download("pysess.qrd", tmp_path, progress=lambda got, total: done.append((got, total)))
        assert (tmp_path / "pysess.qrd").stat().st_size == size and done[-1] == (size, size)
    assert not tracker.connected
    assert printed(sim, "disconnect from")


def test_lost_data_surfaces_in_both_readers_and_times_convert(simulated):
    sim = simulated(811, drop_rate=0.05, duplicate_rate=0.05, seed=7, offset_us=86_400_000_000)
    with sim.connect() as tracker:
        with tracker.recording():
            samples = take(tracker.samples(timeout=1.0), seconds=0.6)
            newest = tracker.newest_sample()
            now = time.monotonic()
        events = take(tracker.events(timeout=0.2), seconds=2.0)
        # The tracker's clock runs a day ahead of the monotonic clock.
        assert abs(tracker.to_monotonic(newest.time) - now) < 0.1
        assert abs(tracker.from_monotonic(now) - newest.time) < 100
    lost = [r for r in samples if isinstance(r, lumavex.LostData)]
    assert lost and any(isinstance(r, lumavex.LostData) for r in events)
    # Every gap in the samples is announced by a lost-data record just before it, and a repeated
    # packet never shows twice.
    previous = None
    announced = False
    for r in samples:
        if isinstance(r, lumavex.LostData):
            announced = True
        elif isinstance(r, lumavex.Sample):
            if previous is not None:
                assert r.time > previous
                assert r.time == previous + 1 or announced, "gap before %d not announced" % r.time
            previous, announced = r.time, False


def test_records_no_reader_takes_give_way_to_a_lost_data_record(simulated):
    sim = simulated(817, rate=1000)
    with sim.connect() as tracker:
        tracker._intake.HOLD_LIMIT = 100
        take(tracker.events(timeout=1.0), seconds=0.5)  # the samples meanwhile are held
        held = take(tracker.samples(timeout=0), seconds=1.0)
    assert isinstance(held[0], lumavex.LostData)
    samples = [r for r in held if isinstance(r, lumavex.Sample)]
    assert len(samples) >= 100 and held[0].time < samples[0].time
    assert gaps(samples, 1.0) == []


def test_errors_and_closing_on_an_exception(simulated):
    with pytest.raises(lumavex.LumavexError) as nobody:
        lumavex.connect(tracker_ip(812), port=9)  # nothing listens there
    assert nobody.value.code == lumavex.Result.CONNECT_TIMEOUT == -201
    assert "Timed Out" in str(nobody.value)

    sim = simulated(813)
    with pytest.raises(ZeroDivisionError):
        with sim.connect() as tracker:
            with pytest.raises(RuntimeError):
                sim.connect()  # one link per process
            with tracker.recording():
                1 / 0
    assert raw.lumavex_is_connected() == 0 and printed(sim, "disconnect from")
    with pytest.raises(lumavex.LumavexError) as refused:
        with sim.connect() as tracker:
            tracker.open_data_file("not a name!")
    assert refused.value.code == -1
    assert raw.lumavex_is_connected() == 0


def test_tcp_link_and_closing_at_exit(simulated):
    # The TCP-only link is chosen once per process, so the session runs in a process of its own,
    # which ends without closing: the package closes the tracker's file as it exits.
    sim = simulated(814, tcp=True, extra_args=["--print-commands"])
    script = textwrap.dedent(
        """
        import lumavex
        tracker = lumavex.connect(%r, port=%d, tcp=True, options=%r)
        tracker.start_recording()
        n = sum(1 for _, s in zip(range(100), tracker.samples(timeout=1.0)) if isinstance(s, lumavex.Sample))
        print("samples", n)
        """
        % (sim.address, sim.port, sim.options())
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["samples", "100"]
    assert printed(sim, "disconnect from")
    assert " tcp\n" in sim.output() and "close_data_file" in sim.output()
