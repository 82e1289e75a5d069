"""The demo runs its experiment against the simulated tracker and leaves a gaze plot."""
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from lumavex import plot
from conftest import tracker_ip


def test_demo_writes_the_recording_and_a_gaze_plot_into_a_fresh_folder(tmp_path):
    out = subprocess.run(
        [sys.executable, "-m", "lumavex.demo", "--address", tracker_ip(816), "--trial-seconds", "0.5"],
        env=dict(os.environ, TMPDIR=str(tmp_path)),
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert out.returncode == 0, out.stdout + out.stderr
    assert 'refused: -3 "Bad value"' in out.stdout and out.stdout.count("0 lost-data records") == 3
    written = out.stdout.strip().splitlines()[-1].split("Gaze plot: ")[1]
    folder = os.path.dirname(written)
    assert os.path.dirname(folder) == str(tmp_path)
    assert sorted(os.listdir(folder)) == ["demo.qrd", "gaze_plot.png"]
    assert os.stat(folder).st_mode & 0o077 == 0  # the user's own
    with open(written, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"


def test_without_matplotlib_the_plot_is_an_svg(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.backends.backend_agg", None)
    trial = plot.Trial("t", [10, 20, 30], [40, 50, 60], [(20, 50, 300), (30, 60, 120)])
    written = plot.gaze_plot(tmp_path / "gaze.png", [trial])
    assert written == str(tmp_path / "gaze.svg")
    root = ElementTree.parse(written).getroot()
    circles = root.findall(".//{http://www.w3.org/2000/svg}circle")
    assert [float(c.get("cx")) for c in circles] == [20, 30]
    assert float(circles[0].get("r")) > float(circles[1].get("r"))  # the longer fixation
