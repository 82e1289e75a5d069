"""The stand-alone simulated tracker (lumavex_sim_tracker) for rehearsals and users' own tests.

    with SimulatedTracker(rate=1000, drop_rate=0.01) as sim, sim.connect() as tracker:
        ...

It listens on a loopback address on ports the system chooses, so it needs no root and cannot
clash with a real tracker or another simulated one; connect() points the library at exactly that
address and those ports.
"""
import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

ENV_VAR = "LUMAVEX_SIM_TRACKER"
PROGRAM = "lumavex_sim_tracker"

_used_addresses = set()
_used_lock = threading.Lock()


def find_program():
    """The simulated tracker's program: $LUMAVEX_SIM_TRACKER, else beside the library the package
    loaded (a build tree's sim/, an installation's bin/, the wheel's copy), else on PATH."""
    explicit = os.environ.get(ENV_VAR)
    if explicit:
        return explicit
    from . import raw

    lib_dir = os.path.dirname(raw.LIBRARY_PATH)
    for rel in ("../sim", "../bin", "../../bin", "."):
        path = os.path.normpath(os.path.join(lib_dir, rel, PROGRAM))
        if os.access(path, os.X_OK) and os.path.isfile(path):
            return path
    found = shutil.which(PROGRAM)
    if found:
        return found
    raise FileNotFoundError(
        "lumavex: %s not found beside %s or on PATH; set %s to its path"
        % (PROGRAM, raw.LIBRARY_PATH, ENV_VAR)
    )


def _free_address():
    with _used_lock:
        while True:
            address = "127.0.%d.%d" % (random.randint(128, 254), random.randint(1, 254))
            if address not in _used_addresses:
                _used_addresses.add(address)
                return address


class SimulatedTracker:
    """Starts lumavex_sim_tracker on a loopback address (a free one when address is None) with
    ports the system chooses, and stops it with stop() or at the end of a with block.

    rate streams samples and events at 250, 500, 1000 or 2000 Hz from the moment a display
    connects (without it data flows while a recording sends link data, at the tracker's
    sample_rate). eyes is "left", "right" or "both"; seed makes the synthetic eye and the fault
    draws repeatable. The faults: drop_rate, duplicate_rate and reorder_rate (fractions of the
    data packets), silence_after_s / silence_for_s and restart_after_s / down_for_s (once,
    counted from the first connect). tcp serves the TCP link too; file_service (implied by
    data_dir) serves the data folder's files. extra_args go to the program as they are.
    """

    def __init__(
        self,
        address=None,
        *,
        rate=None,
        eyes=None,
        seed=None,
        drop_rate=None,
        duplicate_rate=None,
        reorder_rate=None,
        silence_after_s=None,
        silence_for_s=None,
        restart_after_s=None,
        down_for_s=None,
        tcp=False,
        file_service=False,
        data_dir=None,
        model=None,
        offset_us=None,
        extra_args=(),
        program=None,
        start=True,
    ):
        self.address = address or _free_address()
        self.port = None
        self.tcp_port = None
        self.file_port = None
        self.program = program or find_program()
        args = [self.program, "--address", self.address, "--udp-port", "0", "--print-connections"]
        options = [
            ("--stream", rate),
            ("--eyes", eyes),
            ("--seed", seed),
            ("--drop-rate", drop_rate),
            ("--duplicate-rate", duplicate_rate),
            ("--reorder-rate", reorder_rate),
            ("--silence-after-s", silence_after_s),
            ("--silence-for-s", silence_for_s),
            ("--restart-after-s", restart_after_s),
            ("--down-for-s", down_for_s),
            ("--data-dir", data_dir),
            ("--model", model),
            ("--offset-us", offset_us),
        ]
        for flag, value in options:
            if value is not None:
                args += [flag, str(value)]
        if tcp:
            args += ["--tcp-port", "0"]
        if file_service or data_dir is not None:
            args += ["--file-port", "0"]
        self.args = args + [str(a) for a in extra_args]
        self._process = None
        self._log = None
        if start:
            self.start()

    def start(self, timeout=5.0):
        """Starts the program and waits (at most timeout seconds) for it to listen."""
        if self._process is not None:
            return
        self._log = tempfile.NamedTemporaryFile(prefix="lumavex_sim_", suffix=".log", delete=False)
        self._process = subprocess.Popen(
            self.args, stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT
        )
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            m = re.search(r"^listening udp=[\d.]+:(\d+)(.*)$", self.output(), re.M)
            if m:
                self.port = int(m.group(1))
                rest = m.group(2)
                tcp = re.search(r" tcp=[\d.]+:(\d+)", rest)
                files = re.search(r" files=(\d+)", rest)
                self.tcp_port = int(tcp.group(1)) if tcp else None
                self.file_port = int(files.group(1)) if files else None
                return
            if self._process.poll() is not None:
                break
            time.sleep(0.02)
        out = self.output()
        self.stop()
        raise RuntimeError("lumavex: the simulated tracker did not start:\n" + out)

    def output(self):
        """What the program printed so far: a line per packet it received, connects, faults."""
        if self._log is None:
            return ""
        with open(self._log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    @property
    def running(self):
        return self._process is not None and self._process.poll() is None

    def stop(self, timeout=5.0):
        """Stops the program (SIGTERM, then SIGKILL after timeout seconds)."""
        p = self._process
        if p is not None and p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout)
        if self._log is not None:
            self._log.close()
            os.unlink(self._log.name)
            self._log = None
        self._process = None
        with _used_lock:
            _used_addresses.discard(self.address)

    def options(self):
        """The library's link options that point it at this tracker's TCP port and file service."""
        parts = []
        if self.tcp_port:
            parts.append("tcpport=%d" % self.tcp_port)
        if self.file_port:
            parts.append("fileport=%d" % self.file_port)
        return " ".join(parts)

    def connect(self, *, tcp=False, options=""):
        """lumavex.connect() to this tracker."""
        from .tracker import connect

        return connect(
            self.address, port=self.port, tcp=tcp, options=(self.options() + " " + options).strip()
        )

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def __repr__(self):
        return "<SimulatedTracker %s udp=%s %s>" % (
            self.address,
            self.port,
            "running" if self.running else "stopped",
        )
