"""The demo: a short experiment against the simulated tracker, ending in a gaze plot.

    python3 -m lumavex.demo [--address 127.x.y.z] [--output DIR] [--trial-seconds S] [--rate HZ]

It starts the stand-alone simulated tracker on loopback, connects, sends the commands and messages
an experiment sends, records three trials into the tracker's file "demo.qrd" while reading the
samples and events as they arrive, copies the file back, and draws the scan path of the first
trial with its fixations as circles sized by duration (the simulated eye starts afresh with each
recording, so the trials look alike). Everything it writes goes into a fresh folder of
the user's own (or --output DIR), whose name it prints.
"""
import argparse
import os
import sys
import tempfile
import time

import lumavex
from lumavex import plot
from lumavex.sim import SimulatedTracker

SCREEN = (1024, 768)


def show(what, result, function="lumavex_timed_command"):
    if result == 0:
        print("  %-38s -> done (0)" % what)
    else:
        print('  %-38s -> refused: %d "%s"' % (what, result, lumavex.error_text(result, function)))


def commands_and_messages(tracker):
    print("\nCommands (the tracker answers each with a result code; 0 means done):")
    for text in (
        "screen_pixel_coords = 0 0 %d %d" % (SCREEN[0] - 1, SCREEN[1] - 1),
        "calibration_type = HV9",
        "sample_rate 333",
        "make_coffee now",
    ):
        show(text, tracker.command(text))
    tracker.message("DISPLAY_COORDS 0 0 %d %d" % (SCREEN[0] - 1, SCREEN[1] - 1))
    tracker.message("DISPLAY ON (shown 20 ms before this call)", offset_ms=-20)


def run_trial(tracker, number, seconds):
    """One trial; returns its plot.Trial and counts of what arrived."""
    trial = plot.Trial("trial %d" % number)
    counts = {"samples": 0, "events": 0, "lost": 0, "messages": 0}
    eye = None
    with tracker.recording():
        tracker.message("TRIALID %d" % number)
        end = time.monotonic() + seconds
        next_check = time.monotonic() + 0.25
        result = lumavex.RecordingResult.RUNS
        for r in tracker.records(timeout=0.5):
            if isinstance(r, lumavex.Sample):
                counts["samples"] += 1
                if eye is None:
                    eye = 0 if r.flags & lumavex.SampleFlag.LEFT else 1
                x, y = r.gaze_x[eye], r.gaze_y[eye]
                if x != lumavex.MISSING_VALUE and y != lumavex.MISSING_VALUE:
                    trial.xs.append(x)
                    trial.ys.append(y)
            elif isinstance(r, lumavex.Event):
                counts["events"] += 1
                if r.type == lumavex.RecordType.ENDFIX and r.eye == (eye or 0):
                    trial.fixations.append((r.avg_x, r.avg_y, r.duration))
            elif isinstance(r, lumavex.LostData):
                counts["lost"] += 1
                tracker.message("LINK_DATA_LOST %d" % r.time)
            elif isinstance(r, lumavex.Message):
                counts["messages"] += 1
            now = time.monotonic()
            if now >= next_check:
                result = tracker.check_recording()
                next_check += 0.25
            if now >= end or result != lumavex.RecordingResult.RUNS:
                break
        tracker.message("TRIAL_RESULT %d" % result)
    return trial, counts


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m lumavex.demo", description=__doc__.split("\n")[0])
    parser.add_argument("--address", help="the simulated tracker's loopback address (default: a free one)")
    parser.add_argument("--output", help="folder for the recording and the plot (default: a new one)")
    parser.add_argument("--trial-seconds", type=float, default=2.0)
    parser.add_argument("--rate", type=int, default=1000, choices=(250, 500, 1000, 2000))
    args = parser.parse_args(argv)

    if args.output:
        folder = os.path.abspath(args.output)
        os.makedirs(folder, exist_ok=True)
    else:
        folder = tempfile.mkdtemp(prefix="lumavex_demo_")

    with SimulatedTracker(args.address, file_service=True) as sim:
        print("Simulated tracker listening on %s, UDP port %d" % (sim.address, sim.port))
        with sim.connect() as tracker:
            print("Connected: %s (generation %d)" % (tracker.version, tracker.generation))
            commands_and_messages(tracker)
            tracker.command("sample_rate %d" % args.rate)
            print("\nExperiment: three trials into the tracker's recording file \"demo.qrd\"")
            tracker.open_data_file("demo.qrd")
            trials = []
            for number in (1, 2, 3):
                trial, counts = run_trial(tracker, number, args.trial_seconds)
                trials.append(trial)
                print(
                    "  trial %d: %d samples, %d events, %d lost-data records, %d fixations"
                    % (number, counts["samples"], counts["events"], counts["lost"], len(trial.fixations))
                )
            last = tracker.newest_sample()
            if last is not None and tracker.to_monotonic(last.time) is not None:
                print(
                    "  the last sample's tracker time %d ms is time.monotonic() %.3f s (now %.3f s)"
                    % (last.time, tracker.to_monotonic(last.time), time.monotonic())
                )
            tracker.close_data_file()
            size = tracker.download("demo.qrd", folder, replace=True)
            print("  recording copied back: %s (%d bytes)" % (os.path.join(folder, "demo.qrd"), size))

    written = plot.gaze_plot(os.path.join(folder, "gaze_plot"), trials[:1], SCREEN, "Gaze in trial 1")
    print("\nGaze plot: %s" % written)
    return 0


if __name__ == "__main__":
    sys.exit(main())
