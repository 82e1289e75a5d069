"""The connection to a tracker: lumavex.connect() and Tracker."""
import atexit
import collections
import contextlib
import ctypes
import math
import os
import threading
import time

from . import raw
from . import records as _rec
from .flags import Eye, Mode, RecordFlag, RecordingResult, RecordType, Result

_SAMPLES, _EVENTS = 0, 1
_LOST = int(RecordType.LOST_DATA)
_SAMPLE_TYPE = int(RecordType.SAMPLE)
# Largest command or message text any tracker takes (with large packets).
_LONGEST_COMMAND = 991


class LumavexError(Exception):
    """A call of the library failed: code is its result, the message the library's text for it."""

    def __init__(self, code, message):
        super().__init__("%s (%s)" % (message, code))
        self.code = code
        self.text = message


def error_text(code, function):
    """The library's text for a result code of the named exported function."""
    text = raw.lumavex_get_error(int(code), function.encode())
    return text.decode("utf-8", "replace") if text else "result %d" % code


def _fail(code, function):
    raise LumavexError(code, error_text(code, function))


def _text(value):
    return value.encode("utf-8") if isinstance(value, str) else bytes(value)


# The library holds one link per process: the Tracker open now, if any.
_open_tracker = None
_open_lock = threading.Lock()


def connect(address, *, port=None, tcp=False, options=""):
    """Connects to the tracker at address and returns the Tracker.

    port is the tracker's UDP link port (the library's "eyeport" option; 589 when None). tcp
    selects the TCP-only link, which can be chosen only before the network starts in the process.
    options adds the library's link options ("tcpport=N fileport=N ..."). Nothing is sent to any
    other address. Raises LumavexError with the library's result (-201 when no tracker answers).
    """
    global _open_tracker
    with _open_lock:
        if _open_tracker is not None:
            raise RuntimeError(
                "lumavex: a tracker is connected already (%s); close it first"
                % _open_tracker.address
            )
        if tcp and raw.set_lumavex_tcp_only(1) != 0:
            raise LumavexError(
                -1, "the TCP-only link must be chosen before the network starts in this process"
            )
        # Each connection names every port, so none is left over from an earlier one.
        text = "eyeport=%d tcpport=%d fileport=%d %s" % (
            raw.LUMAVEX_TRACKER_PORT if port is None else int(port),
            raw.LUMAVEX_TRACKER_TCP_PORT,
            3873,
            options,
        )
        # The address goes in before the link system opens, since over TCP opening it connects
        # to the configured tracker at once; and again after, since the address takes its port
        # from the options in force.
        if raw.set_lumavex_address(_text(address)) != 0:
            raise ValueError("lumavex: not an IPv4 address: %r" % (address,))
        if raw.open_lumavex_system(0, text.strip().encode()) == 0:
            raise LumavexError(Result.LINK_NOT_OPEN, "Cannot initialize link")
        raw.set_lumavex_address(_text(address))
        r = raw.lumavex_open()
        if r != 0:
            raw.close_lumavex_system()
            _fail(r, "lumavex_open")
        raw.lumavex_reset_data(1)
        _open_tracker = Tracker(address, port)
        return _open_tracker


@atexit.register
def _close_at_exit():
    t = _open_tracker
    if t is not None:
        t.close()


class _Intake:
    """Records taken from the library's queue and not yet handed out.

    The library's readers take several records at a time; those that a reader has not yet
    yielded (a loop that stopped early, or records of the kind another reader wants: events
    while samples() runs) wait here, in arrival order, for the next reader. A lost-data record
    waits for both kinds, so that each reader sees the gap. Records of a kind nobody reads are
    kept up to HOLD_LIMIT; beyond that the oldest give way to one lost-data record.
    """

    HOLD_LIMIT = 65536
    READ_SLOTS = 256

    def __init__(self):
        self._buffer = (raw.float_data * self.READ_SLOTS)()
        self._held = (collections.deque(), collections.deque())
        self._seq = 0

    def read(self, wait_rounds):
        """Takes what the library has queued (waiting up to wait_rounds of 10 ms for the first).
        Returns the number of records taken."""
        if wait_rounds > 0:
            start = time.monotonic()
            n = raw.lumavex_wait_for_next_data(self._buffer, self.READ_SLOTS, wait_rounds)
            if n <= 0 and time.monotonic() - start < 0.001:
                time.sleep(0.01)  # not waited: no link system; a loop around this must not spin
        else:
            n = raw.lumavex_get_all_float_data(self._buffer, self.READ_SLOTS)
        if n <= 0:
            return 0
        data = ctypes.string_at(self._buffer, n * _rec.SLOT_SIZE)
        samples, events = self._held
        seq = self._seq
        type_of = _rec._TYPE
        for off in range(0, n * _rec.SLOT_SIZE, _rec.SLOT_SIZE):
            t = type_of(data, off + 4)[0]
            item = (seq, data, off)
            if t == _SAMPLE_TYPE:
                samples.append(item)
            elif t == _LOST:
                samples.append(item)
                events.append(item)
            else:
                events.append(item)
            seq += 1
        self._seq = seq
        for q in self._held:
            if len(q) > self.HOLD_LIMIT:
                self._overflow(q)
        return n

    def _overflow(self, q):
        first = None
        while len(q) > self.HOLD_LIMIT:
            seq, data, off = q.popleft()
            first = (seq, data, off) if first is None else first
        seq, data, off = first
        # The gap carries the time of the first record given up.
        q.appendleft((seq, _rec.lost_slot(_rec._TIME(data, off)[0]), 0))

    def pop(self, kinds):
        """The oldest held record of the given kinds as (data, offset), or None."""
        if len(kinds) == 1:
            q = self._held[kinds[0]]
            if not q:
                return None
            _, data, off = q.popleft()
            return data, off
        samples, events = self._held
        if not samples and not events:
            return None
        if samples and (not events or samples[0][0] <= events[0][0]):
            seq, data, off = samples.popleft()
            if events and events[0][0] == seq:
                events.popleft()  # a lost-data record, held for both kinds
        else:
            _, data, off = events.popleft()
        return data, off

    def held(self, kinds):
        return any(self._held[k] for k in kinds)


def _wait_rounds(seconds):
    return max(1, min(10, math.ceil(seconds / 0.010)))


class Tracker:
    """A connected tracker. Use it as a context manager: it closes when the block ends, also when
    it raises, and at interpreter exit otherwise.

    Records are read in arrival order through samples(), events() and records() (iterators),
    read_batch() (NumPy), or on_data() (a callback on a thread of the package).
    """

    def __init__(self, address, port):
        self.address = address
        self.port = port
        self.closed = False
        self._intake = _Intake()
        self._dispatcher = None
        self._reading = threading.Lock()
        buf = ctypes.create_string_buffer(64)
        self.generation = raw.lumavex_get_tracker_version(buf)
        self.version = buf.value.decode("utf-8", "replace")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        state = "closed" if self.closed else "connected"
        return "<lumavex.Tracker %s %s %r>" % (self.address, state, self.version)

    # ---- Connection

    def close(self):
        """Stops a data callback, puts the tracker into idle mode, closes its recording file and
        disconnects. Does nothing the second time."""
        global _open_tracker
        if self.closed:
            return
        self.closed = True
        with contextlib.suppress(Exception):
            self.on_data(None)
        if raw.lumavex_is_connected() == 1:
            raw.set_offline_mode()
            raw.lumavex_send_command(b"close_data_file")
        raw.close_lumavex_system()
        with _open_lock:
            if _open_tracker is self:
                _open_tracker = None

    @property
    def connected(self):
        return not self.closed and raw.lumavex_is_connected() != 0

    # ---- Commands and messages

    def command(self, text, timeout_ms=1000):
        """Sends a command and waits up to timeout_ms for its result: the tracker's code (0 done),
        or Result.NO_REPLY (1000) when the wait ran out. Raises LumavexError when the link is
        down."""
        data = _text(text)
        if not data or len(data) > _LONGEST_COMMAND:
            raise ValueError("lumavex: a command has 1 to %d characters" % _LONGEST_COMMAND)
        r = raw.lumavex_timed_command(int(timeout_ms), data)
        if r == Result.LINK_TERMINATED:
            _fail(r, "lumavex_timed_command")
        return r

    def message(self, text, offset_ms=0):
        """Puts a message into the tracker's recording file, stamped with the moment of the call
        moved by offset_ms (negative: the event happened before the call)."""
        r = raw.lumavex_send_message_ex(int(offset_ms), _text(text))
        if r != 0:
            _fail(r, "lumavex_send_message_ex")

    def last_reply(self):
        """The tracker's text for the last command result."""
        buf = ctypes.create_string_buffer(200)
        raw.lumavex_last_message(buf)
        return buf.value.decode("utf-8", "replace")

    def mode(self):
        """The tracker's current mode as Mode bits."""
        return Mode(raw.lumavex_current_mode() & 0xFFFF)

    def eye_available(self):
        return Eye(raw.lumavex_eye_available())

    # ---- Recording

    def open_data_file(self, name):
        """Opens the tracker's recording file (base name of at most 8 characters, .qrd)."""
        r = raw.open_data_file(_text(name))
        if r != 0:
            _fail(r, "open_data_file")

    def close_data_file(self):
        r = raw.close_data_file()
        if r != 0:
            _fail(r, "close_data_file")

    def start_recording(self, file_samples=True, file_events=True, link_samples=True, link_events=True):
        """Starts recording; returns once the tracker records and the link data asked for flows."""
        r = raw.start_recording(int(file_samples), int(file_events), int(link_samples), int(link_events))
        if r != 0:
            _fail(r, "start_recording")

    def stop_recording(self):
        return raw.stop_recording()

    def check_recording(self):
        """RecordingResult.RUNS while the recording goes on; otherwise why it ended."""
        return RecordingResult(raw.check_recording())

    @contextlib.contextmanager
    def recording(self, file_samples=True, file_events=True, link_samples=True, link_events=True):
        """A trial: recording starts when the block starts and stops when it ends."""
        self.start_recording(file_samples, file_events, link_samples, link_events)
        try:
            yield self
        finally:
            self.stop_recording()

    def download(self, remote, local="", progress=None, replace=False):
        """Copies the tracker's file remote to local (a file name, or an existing folder) and
        returns its size. progress(received, total) is called as bytes arrive, on this thread.
        Without replace an existing local file is kept and the copy gets a new name."""
        local = os.fspath(local) if local else ""
        option = raw.RECEIVE_FILE_TO_DIR if local and os.path.isdir(local) else raw.RECEIVE_FILE_ONLY
        if replace:
            option |= raw.RECEIVE_FILE_REPLACE
        errors = []

        def report(_src, total, received):
            try:
                progress(received, total)
            except BaseException as e:  # raised again once the library has returned
                errors.append(e)
            return 0

        callback = raw.download_progress_fn(report) if progress else raw.download_progress_fn()
        r = raw.receive_data_file_feedback64(_text(remote), _text(local), option, callback)
        if errors:
            raise errors[0]
        if r <= 0:
            _fail(r, "receive_data_file_feedback64")
        return r

    # ---- Clocks

    def tracker_time(self):
        """The tracker's clock now, in seconds; None while no tracker time is known."""
        us = raw.lumavex_tracker_double_usec()
        return None if us < 0 else us / 1e6

    def to_monotonic(self, tracker_ms):
        """A tracker time in ms (a record's time) as seconds of time.monotonic(); None while the
        offset between the clocks is not known."""
        offset = raw.lumavex_double_usec_offset()
        if offset == -1.0:
            return None
        return (tracker_ms * 1000.0 - offset + raw.get_zero_time()) / 1e6

    def from_monotonic(self, seconds):
        """A time.monotonic() reading as tracker time in ms; None while the offset is unknown."""
        offset = raw.lumavex_double_usec_offset()
        if offset == -1.0:
            return None
        return (seconds * 1e6 - raw.get_zero_time() + offset) / 1000.0

    # ---- Data

    def status(self):
        """A copy of the data-stream status (LinkState) as of this call."""
        p = raw.lumavex_data_status()
        return raw.link_state.from_buffer_copy(p.contents)

    def _accept(self, samples, events):
        """Switches on the link's acceptance of samples and events where asked and off now."""
        s = raw.lumavex_data_status().contents
        on_s, on_e = bool(s.samples_on), bool(s.events_on)
        if (samples and not on_s) or (events and not on_e):
            flags = (RecordFlag.LINK_SAMPLES if samples or on_s else 0) | (
                RecordFlag.LINK_EVENTS if events or on_e else 0
            )
            raw.lumavex_data_switch(int(flags))

    def _records(self, kinds, timeout):
        if self._dispatcher is not None:
            raise RuntimeError("lumavex: a data callback reads the records (on_data)")
        intake = self._intake
        while True:
            item = intake.pop(kinds)
            if item is not None:
                yield _rec.from_slot(*item)
            elif not self._wait_for(kinds, timeout):
                return

    def _wait_for(self, kinds, timeout):
        """Reads the library's queue until a record of the kinds is held: False when none came
        within timeout seconds (None: as long as the link is up)."""
        intake = self._intake
        deadline = None if timeout is None else time.monotonic() + timeout
        while not self.closed:
            if deadline is None:
                rounds = 10
            else:
                left = deadline - time.monotonic()
                rounds = _wait_rounds(left) if left > 0 else 0
            intake.read(rounds)
            if intake.held(kinds):
                return True
            if deadline is not None and time.monotonic() >= deadline:
                return False
            if deadline is None and raw.lumavex_is_connected() == 0:
                intake.read(0)
                return intake.held(kinds)
        return False

    def samples(self, timeout=None):
        """Yields the samples (Sample) in arrival order, and LostData records where data went
        missing, until none arrives within timeout seconds (None: as long as the link is up).
        Switches the link's acceptance of samples on when it is off. Records of other kinds
        read meanwhile are kept for events() and records()."""
        self._accept(True, False)
        return self._records((_SAMPLES,), timeout)

    def events(self, timeout=None):
        """Yields events, messages, buttons, inputs, block markers and LostData records in
        arrival order, as samples() does for samples."""
        self._accept(False, True)
        return self._records((_EVENTS,), timeout)

    def records(self, timeout=None):
        """Yields every record in arrival order, samples and the rest."""
        self._accept(True, True)
        return self._records((_SAMPLES, _EVENTS), timeout)

    def read_batch(self, max_records=4096, timeout=0.0):
        """Takes up to max_records records at once into a Batch (NumPy arrays), waiting up to
        timeout seconds for the first. Records held back by the iterators come first."""
        if self._dispatcher is not None:
            raise RuntimeError("lumavex: a data callback reads the records (on_data)")
        if _rec._np is None:
            raise RuntimeError("lumavex: read_batch needs NumPy (python3-numpy); the iterators do not")
        self._accept(True, True)
        return _rec.Batch(self._take(max_records, timeout))

    def _take(self, max_records, timeout):
        """Up to max_records slots, the held ones first, then straight from the library's queue
        into one buffer, in order; waits up to timeout seconds when there is nothing at all."""
        intake = self._intake
        parts = []
        while len(parts) < max_records:
            item = intake.pop((_SAMPLES, _EVENTS))
            if item is None:
                break
            data, off = item
            parts.append(data[off : off + _rec.SLOT_SIZE])
        left = max_records - len(parts)
        if left <= 0:
            return b"".join(parts)
        wait = not parts and timeout
        if not wait:  # room for what is queued now, and a little more that may come meanwhile
            left = min(left, raw.lumavex_data_count(1, 1) + 64)
        buffer = bytearray(left * _rec.SLOT_SIZE)
        deadline = time.monotonic() + (timeout or 0)
        taken = 0
        while taken < left:
            view = (ctypes.c_char * ((left - taken) * _rec.SLOT_SIZE)).from_buffer(
                buffer, taken * _rec.SLOT_SIZE
            )
            count = min(left - taken, 32767)
            remaining = deadline - time.monotonic()
            if wait and taken == 0 and remaining > 0:
                n = raw.lumavex_wait_for_next_data(view, count, _wait_rounds(remaining))
                if n <= 0:
                    continue
            else:
                n = raw.lumavex_get_all_float_data(view, count)
                if n <= 0:
                    break
            taken += n
        view = None
        del buffer[taken * _rec.SLOT_SIZE :]
        return b"".join(parts) + buffer if parts else buffer

    def newest_sample(self):
        """The newest sample without taking anything from the queue, or None before the first."""
        s = raw.float_sample()
        r = raw.lumavex_newest_float_sample2(ctypes.byref(s))
        return None if r < 0 else _rec.Sample.from_ctypes(s)

    def on_data(self, callback):
        """Calls callback(records) with each run of records that arrived (a list, in arrival
        order) on a thread of the package, until on_data(None) or close().

        The callback never runs on the library's receive thread. That thread takes in every
        datagram, the tracker's answers as well as the data, and calls the library's data-ready
        callback once per record: a Python function there would hold it for the whole call, and
        for as long as another Python thread keeps the interpreter lock, with the stream and
        every answer waiting behind. Here the receive thread only queues; the package's thread
        takes what has arrived and hands it over at once, so a callback slower than the sample
        interval receives longer lists instead of falling behind. While a callback is installed
        it is the only reader: the iterators and read_batch raise.
        """
        old = self._dispatcher
        if old is not None:
            self._dispatcher = None
            old.stop()
            if old.error is not None:
                raise RuntimeError("lumavex: the data callback raised") from old.error
        if callback is None:
            return
        if self.closed:
            raise RuntimeError("lumavex: the tracker is closed")
        self._accept(True, True)
        self._dispatcher = _Dispatcher(self, callback)
        self._dispatcher.start()

    @property
    def callback_error(self):
        d = self._dispatcher
        return d.error if d is not None else None


class _Dispatcher(threading.Thread):
    def __init__(self, tracker, callback):
        super().__init__(name="lumavex-data", daemon=True)
        self._tracker = tracker
        self._callback = callback
        self._stopping = threading.Event()
        self.error = None

    def stop(self):
        self._stopping.set()
        if threading.current_thread() is not self:
            self.join(5.0)

    def run(self):
        intake = self._tracker._intake
        kinds = (_SAMPLES, _EVENTS)
        while not self._stopping.is_set():
            if not intake.held(kinds):
                intake.read(2)
            batch = []
            while True:
                item = intake.pop(kinds)
                if item is None:
                    break
                batch.append(_rec.from_slot(*item))
            if batch and not self._stopping.is_set():
                try:
                    self._callback(batch)
                except BaseException as e:
                    self.error = e
                    raise
