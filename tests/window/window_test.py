#!/usr/bin/python3
"""The live window under a virtual X server, checked from outside the program.

    window_test.py LUMAVEX_LIVE OUT_DIR setup|gaze TRACKER_ADDRESS

Starts Xvfb on a display number it picks itself (never the user's), runs lumavex_live against
its simulated tracker with a key script, takes screenshots of the window with xwd at the moments
the program's --trace lines announce, turns them into PPM with ImageMagick, writes a PNG copy of
each into OUT_DIR and checks the pictures:

  setup  the camera view shows a picture with the pupil crosshair across it and the title text
         above it; the second calibration target is drawn where the tracker asked for it (the
         simulated tracker's nine-point pattern, centre first, then the top middle) and the first
         one is gone;
  gaze   with the mouse moved to two places (the simulated eye follows the pointer), the red
         gaze cursor sits at each in turn, fixation rings mark where the eye rested, and the
         status line is drawn.

The checks look at colours and places, not at glyphs, so that any font rendering passes.
Standard library only (Debian's /usr/bin/python3).
"""

import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zlib

WIDTH, HEIGHT = 800, 600
WINDOW_NAME = "lumavex_live"
DEADLINE_S = 50  # the whole test


class Picture:
    """An RGB picture read from a binary PPM (P6, 8-bit)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError(f"{path}: not an 8-bit P6 picture")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1:pos + 1 + 3 * self.width * self.height]

    def get(self, x, y):
        i = 3 * (y * self.width + x)
        return self.pixels[i], self.pixels[i + 1], self.pixels[i + 2]

    def save_png(self, path):
        rows = b"".join(b"\0" + self.pixels[3 * self.width * y:3 * self.width * (y + 1)]
                        for y in range(self.height))

        def chunk(kind, body):
            return (len(body).to_bytes(4, "big") + kind + body +
                    zlib.crc32(kind + body).to_bytes(4, "big"))

        header = (self.width.to_bytes(4, "big") + self.height.to_bytes(4, "big") +
                  bytes([8, 2, 0, 0, 0]))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                    chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


# --- what the pictures must show ---

def near(c, ref, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(c, ref))


def is_green(c):  # the pupil crosshair
    return c[1] >= 200 and c[0] <= 100 and c[2] <= 100


def is_bright(c):  # the title's white
    return min(c) >= 170


def is_dark(c):  # a target's outer disc
    return max(c) <= 60


def is_red(c):  # the gaze cursor
    return c[0] >= 200 and c[1] <= 90 and c[2] <= 90


def is_ring(c):  # a fixation mark
    return c[2] >= 200 and 120 <= c[1] <= 200 and c[0] <= 130


def check_camera_view(p):
    """Returns a list of failures: picture, crosshair and title of the camera view."""
    background = (48, 48, 48)
    rows = [y for y in range(p.height)
            if sum(not near(p.get(x, y), background, 6) for x in range(0, p.width, 2))
            >= 0.4 * p.width / 2]
    if not rows:
        return ["no camera picture: every row is mostly background"]
    top, bottom = rows[0], rows[-1]
    y_mid = (top + bottom) // 2
    columns = [x for x in range(p.width) if not near(p.get(x, y_mid), background, 6)] or [0]
    left, right = columns[0], columns[-1]
    failures = []
    if right - left < 0.3 * p.width or bottom - top < 0.3 * p.height:
        failures.append(f"camera picture too small: {left}..{right} x {top}..{bottom}")
    # An eye: the white of the eye light, the iris and the pupil dark, on mid-grey skin.
    sampled = [p.get(x, y) for y in range(top, bottom, 3) for x in range(left, right, 3)]
    light = sum(min(c) >= 190 for c in sampled) / len(sampled)
    dark = sum(max(c) <= 110 for c in sampled) / len(sampled)
    if light < 0.05 or dark < 0.02:
        failures.append(f"no eye in the camera picture ({light:.0%} light, {dark:.0%} dark)")
    width, height = right - left + 1, bottom - top + 1
    across = max(sum(is_green(p.get(x, y)) for x in range(left, right + 1))
                 for y in range(top, bottom + 1))
    down = max(sum(is_green(p.get(x, y)) for y in range(top, bottom + 1))
               for x in range(left, right + 1))
    if across < 0.6 * width or down < 0.6 * height:
        failures.append(f"no crosshair across the picture (longest green row {across} of "
                        f"{width}, column {down} of {height})")
    band = range(max(0, top - 60), top)
    bright = [(x, y) for y in band for x in range(p.width) if is_bright(p.get(x, y))]
    span = max(x for x, _ in bright) - min(x for x, _ in bright) if bright else 0
    if len(bright) < 60 or span < 100:
        failures.append(f"no title above the picture ({len(bright)} bright pixels over {span})")
    return failures


def check_target(p, expected, gone):
    """Failures: a target (dark disc, light centre) at `expected`, none at `gone`."""
    ex, ey = (round(v) for v in expected)
    dark = [(x, y) for y in range(max(0, ey - 30), min(p.height, ey + 31))
            for x in range(max(0, ex - 30), min(p.width, ex + 31)) if is_dark(p.get(x, y))]
    failures = []
    if not 150 <= len(dark) <= 450:
        failures.append(f"no target disc at {expected}: {len(dark)} dark pixels near it")
    else:
        cx = sum(x for x, _ in dark) / len(dark)
        cy = sum(y for _, y in dark) / len(dark)
        if abs(cx - ex) > 3 or abs(cy - ey) > 3:
            failures.append(f"target at ({cx:.1f}, {cy:.1f}), the tracker asked for {expected}")
        if is_dark(p.get(ex, ey)):
            failures.append("the target has no light centre")
    gx, gy = (round(v) for v in gone)
    if any(is_dark(p.get(x, y)) for y in range(gy - 12, gy + 13) for x in range(gx - 12, gx + 13)):
        failures.append(f"the previous target at {gone} is still drawn")
    return failures


def cursor_at(p):
    red = [(x, y) for y in range(p.height) for x in range(p.width) if is_red(p.get(x, y))]
    if len(red) < 100:
        return None
    return sum(x for x, _ in red) / len(red), sum(y for _, y in red) / len(red)


def check_gaze(p, pointer, rings_expected):
    failures = []
    at = cursor_at(p)
    if at is None:
        failures.append("no gaze cursor")
    elif abs(at[0] - pointer[0]) > 25 or abs(at[1] - pointer[1]) > 25:
        failures.append(f"gaze cursor at ({at[0]:.0f}, {at[1]:.0f}), the mouse at {pointer}")
    rings = sum(is_ring(p.get(x, y)) for y in range(0, p.height, 2) for x in range(0, p.width, 2))
    if rings_expected and rings < 20:
        failures.append(f"no fixation marks ({rings} ring pixels)")
    status = sum(is_bright(p.get(x, y)) for y in range(0, 40) for x in range(p.width))
    if status < 100:
        failures.append(f"no status line ({status} bright pixels at the top)")
    return failures


# --- the run ---

class Run:
    def __init__(self, live, out_dir):
        self.live = live
        self.out_dir = out_dir
        self.work = tempfile.mkdtemp(prefix="lvx_window_")
        self.deadline = time.monotonic() + DEADLINE_S
        self.xvfb = None
        self.display = None
        self.program = None
        self.lines = queue.Queue()
        self.output = []

    def start_x(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n") and time.monotonic() < self.deadline:
            piece = os.read(read_end, 16)
            if not piece:
                break
            number += piece
        os.close(read_end)
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def start_program(self, args):
        env = dict(os.environ, DISPLAY=self.display, SDL_AUDIODRIVER="dummy")
        self.program = subprocess.Popen([self.live] + args, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True,
                                        start_new_session=True)

        def reader():
            for line in self.program.stdout:
                self.lines.put(line.rstrip("\n"))
            self.lines.put(None)

        threading.Thread(target=reader, daemon=True).start()

    def wait_for(self, match):
        """The words of the first trace line for which match(words) holds."""
        while True:
            left = self.deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("timed out waiting; the program said:\n" +
                                   "\n".join(self.output[-40:]))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise RuntimeError("the program ended early; it said:\n" +
                                   "\n".join(self.output[-40:]))
            self.output.append(line)
            words = line.split()
            if words and match(words):
                return words

    def screenshot(self, name):
        xwd = os.path.join(self.work, name + ".xwd")
        ppm = os.path.join(self.work, name + ".ppm")
        subprocess.run(["xwd", "-silent", "-display", self.display, "-name", WINDOW_NAME,
                        "-out", xwd], check=True, timeout=20)
        subprocess.run(["convert", xwd, ppm], check=True, timeout=20)
        picture = Picture(ppm)
        png = os.path.join(self.out_dir, name + ".png")
        picture.save_png(png)
        print(f"screenshot {png}")
        return picture

    def finish(self):
        """Waits for the program's own end (bounded) and returns its status."""
        status = None
        if self.program is not None:
            try:
                status = self.program.wait(timeout=max(1, self.deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                os.killpg(self.program.pid, signal.SIGKILL)
                self.program.wait()
        return status

    def close(self):
        if self.program is not None and self.program.poll() is None:
            os.killpg(self.program.pid, signal.SIGKILL)
            self.program.wait()
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        shutil.rmtree(self.work, ignore_errors=True)


def checked(run, name, check, attempts=3):
    """The failures of the first of `attempts` screenshots that passes (or of the last). The
    simulated eye blinks for 100 to 200 ms every few seconds, and a picture taken then has no
    pupil to find: the next one is taken after the next frame the program announces."""
    for attempt in range(attempts):
        failures = check(run.screenshot(name))
        if not failures or attempt + 1 == attempts:
            return failures
        run.wait_for(lambda w: w[0] in ("camera-image", "gaze-frame"))
        run.wait_for(lambda w: w[0] in ("camera-image", "gaze-frame"))


def setup_test(run, address):
    run.start_program([
        "--sim", "--address", address, "--setup", "--size", f"{WIDTH}x{HEIGHT}", "--trace",
        "--seconds", "40", "--keys",
        "1s enter @camera @camera @camera 8s enter 500ms c @target 500ms enter @target 4s esc "
        "500ms esc"])
    run.wait_for(lambda w: w[0] == "camera-image" and int(w[1]) >= 3)
    failures = checked(run, "camera_view", check_camera_view)
    run.wait_for(lambda w: w[:2] == ["step", "c"])
    run.wait_for(lambda w: w[0] == "target")
    run.wait_for(lambda w: w[0] == "target")
    # The simulated tracker's nine-point pattern: the centre, then the top middle.
    first = (0.5 * WIDTH, 0.5 * HEIGHT)
    second = ((0.06 + 0.44) * WIDTH, 0.085 * HEIGHT)
    failures += check_target(run.screenshot("calibration_target"), second, first)
    run.wait_for(lambda w: w[:2] == ["result", "setup"])
    return failures


def gaze_test(run, address):
    points = [(200, 150), (600, 450)]
    run.start_program([
        "--sim", "--address", address, "--gaze", "--mouse-gaze", "--size", f"{WIDTH}x{HEIGHT}",
        "--trace", "--seconds", "40", "--keys",
        f"1s mouse:{points[0][0]},{points[0][1]} 6s mouse:{points[1][0]},{points[1][1]} 6s esc"])
    failures = []
    for i, (px, py) in enumerate(points):
        run.wait_for(lambda w: w[0] == "step" and w[1] == f"mouse:{px},{py}")
        # Once the cursor has been at the pointer for a while (the eye needs a saccade to get
        # there), the screen is taken.
        settled = 0
        while settled < 10:
            w = run.wait_for(lambda w: w[0] == "gaze-frame")
            close = abs(float(w[2]) - px) < 20 and abs(float(w[3]) - py) < 20
            settled = settled + 1 if close else 0
        failures += checked(run, f"gaze_{i + 1}",
                            lambda p: check_gaze(p, (px, py), rings_expected=i > 0))
    return failures


def main():
    if len(sys.argv) != 5 or sys.argv[3] not in ("setup", "gaze"):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    live, out_dir, which, address = sys.argv[1:]
    for tool in ("Xvfb", "xwd", "convert"):
        if shutil.which(tool) is None:
            print(f"{tool} is missing (scripts/setup.sh installs it)", file=sys.stderr)
            return 1
    os.makedirs(out_dir, exist_ok=True)
    run = Run(live, out_dir)
    try:
        run.start_x()
        failures = (setup_test if which == "setup" else gaze_test)(run, address)
        status = run.finish()
        if status != 0:
            failures.append(f"lumavex_live ended with status {status}")
    except (RuntimeError, subprocess.SubprocessError, OSError, ValueError) as e:
        failures = [str(e)]
    finally:
        run.close()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
