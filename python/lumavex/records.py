"""Records of the data stream as Python objects, and as NumPy dtypes for batch reads.

The ctypes Structures (FloatSample, FloatEvent, ...) mirror the C records byte for byte. For the
iterators the package turns each 268-byte float_data slot into a light object instead: Sample,
Event, Message, IoRecord, BlockMarker or LostData. Their attributes carry the C field names;
per-eye pairs are tuples indexed by Eye.LEFT (0) and Eye.RIGHT (1), two-dimensional arrays tuples
of tuples, texts str. A value the tracker did not send is MISSING_VALUE (-32768.0).
"""
import ctypes
import struct

from . import _bindings as _b
from .flags import RecordType, SampleFlag

SLOT_SIZE = ctypes.sizeof(_b.float_data)

_FORMATS = {
    ctypes.c_uint8: "B",
    ctypes.c_int8: "b",
    ctypes.c_int16: "h",
    ctypes.c_uint16: "H",
    ctypes.c_int32: "i",
    ctypes.c_uint32: "I",
    ctypes.c_int64: "q",
    ctypes.c_uint64: "Q",
    ctypes.c_float: "f",
    ctypes.c_double: "d",
}


def _flatten(ctype):
    """(struct format letter, shape) of a field type: arrays become shapes, char arrays texts."""
    shape = []
    while issubclass(ctype, ctypes.Array):
        if ctype._type_ is ctypes.c_char:
            return "%ds" % ctype._length_, tuple(shape) + ("text",)
        shape.append(ctype._length_)
        ctype = ctype._type_
    return _FORMATS[ctype], tuple(shape)


def _getter(index, shape):
    if not shape:
        return lambda self: self._v[index]
    if shape[-1] == "text":
        return lambda self: self._v[index].split(b"\0", 1)[0].decode("utf-8", "replace")
    if len(shape) == 1:
        end = index + shape[0]
        return lambda self: self._v[index:end]
    rows, cols = shape

    def rows_of(self):
        v = self._v
        return tuple(v[index + r * cols : index + (r + 1) * cols] for r in range(rows))

    return rows_of


def layout(structure):
    """A struct.Struct that unpacks the record, and (name, index, shape) for each field."""
    fmt = ["<"]
    fields = []
    at = 0
    index = 0
    for name, ctype in structure._fields_:
        offset = getattr(structure, name).offset
        if offset > at:
            fmt.append("%dx" % (offset - at))
        letter, shape = _flatten(ctype)
        if shape and shape[-1] == "text":
            fmt.append(letter)
            count = 1
        else:
            count = 1
            for n in shape:
                count *= n
            fmt.append(letter * count)
        fields.append((name, index, shape))
        index += count
        at = offset + ctypes.sizeof(ctype)
    return struct.Struct("".join(fmt)), fields


class Record:
    """A record read from the data stream; its values unpacked from the C record once."""

    __slots__ = ("_v",)
    _struct = None
    _names = ()

    def __init__(self, values):
        self._v = values

    @classmethod
    def from_buffer(cls, buffer, offset=0):
        return cls(cls._struct.unpack_from(buffer, offset))

    @classmethod
    def from_ctypes(cls, record):
        return cls(cls._struct.unpack_from(bytes(record)))

    def as_dict(self):
        return {name: getattr(self, name) for name in self._names}

    def __eq__(self, other):
        return type(self) is type(other) and self._v == other._v

    def __hash__(self):
        return hash((type(self), self._v))

    def __repr__(self):
        shown = ", ".join("%s=%r" % (n, getattr(self, n)) for n in self._names[:6])
        return "%s(%s, ...)" % (type(self).__name__, shown)


def _record_class(name, structure, doc, base=Record):
    unpacker, fields = layout(structure)
    namespace = {"__slots__": (), "__doc__": doc, "_struct": unpacker}
    namespace["_names"] = tuple(f[0] for f in fields)
    for fname, index, shape in fields:
        namespace[fname] = property(_getter(index, shape))
    return type(name, (base,), namespace)


Sample = _record_class(
    "Sample",
    _b.float_sample,
    "A sample (float_sample): time in tracker ms, gaze_x, gaze_y, pupil_size, ... per eye.",
)
Sample.exact_time = property(
    lambda self: self._v[0] + (0.5 if self._v[2] & SampleFlag.HALF_MS else 0.0),
    doc="The sample's time in tracker ms with the half millisecond of a 2000 Hz stream.",
)
Event = _record_class(
    "Event", _b.float_event, "A parsed event (float_event): fixations, saccades, blinks."
)
Event.duration = property(
    lambda self: self.end_time - self.start_time, doc="end_time - start_time, ms (end events)."
)
Message = _record_class("Message", _b.message_event, "A message from the recording.")
IoRecord = _record_class(
    "IoRecord", _b.io_event, "A button or input record (type BUTTONS or INPUT), or another."
)
BlockMarker = _record_class(
    "BlockMarker", _b.io_event, "The start or end of the sample or event block.", IoRecord
)
LostData = _record_class(
    "LostData",
    _b.io_event,
    "Data was lost before the next record. Its time is that of the record read before (for a gap\n"
    "on the link), or of the first record given up (records no reader took in time).",
    IoRecord,
)

_TYPE = struct.Struct("<h").unpack_from
_TIME = struct.Struct("<I").unpack_from
_BY_TYPE = {int(RecordType.SAMPLE): Sample, int(RecordType.MESSAGE): Message}
for _t in range(1, 11):
    _BY_TYPE[_t] = Event
for _t in (15, 16, 17, 18):
    _BY_TYPE[_t] = BlockMarker
_BY_TYPE[int(RecordType.LOST_DATA)] = LostData


def from_slot(buffer, offset=0):
    """The record in the float_data slot at offset of buffer."""
    cls = _BY_TYPE.get(_TYPE(buffer, offset + 4)[0], IoRecord)
    return cls(cls._struct.unpack_from(buffer, offset))


def lost_slot(time):
    """A float_data slot holding a lost-data record at the given time."""
    return struct.pack("<Ih", time & 0xFFFFFFFF, int(RecordType.LOST_DATA)).ljust(SLOT_SIZE, b"\0")


# ---- NumPy -------------------------------------------------------------------------------------

try:
    import numpy as _np
except ImportError:  # the batch read needs NumPy; everything else works without it
    _np = None


def slot_dtype(structure):
    """The NumPy dtype of a record as it sits in a 268-byte float_data slot."""
    if _np is None:
        raise RuntimeError("lumavex: batch reads need NumPy (python3-numpy)")
    d = _np.dtype(structure)
    return _np.dtype(
        {
            "names": list(d.names),
            "formats": [d.fields[n][0] for n in d.names],
            "offsets": [d.fields[n][1] for n in d.names],
            "itemsize": SLOT_SIZE,
        }
    )


class Batch:
    """Records read at once, in arrival order, as a NumPy array of float_data slots.

    records has the fields time and type of every slot; samples and events are the samples and
    parsed events among them as structured arrays with the C field names (gaze_x has shape
    (n, 2), ...); lost holds the times of the lost-data records, which mark a gap before the
    record that follows them; others() gives the remaining records (messages, buttons, block
    markers, lost data) as Python records.
    """

    def __init__(self, data):
        self._data = data
        self.records = _np.frombuffer(data, dtype=_HEAD_DTYPE) if data else _np.zeros(0, _HEAD_DTYPE)

    def __len__(self):
        return len(self.records)

    def _of(self, mask, dtype):
        if not self._data:
            return _np.zeros(0, dtype)
        # Selected as plain bytes (a copy of whole slots), then seen with the record's fields.
        return _np.frombuffer(self._data, dtype=_SLOT_BYTES)[mask].view(dtype)

    @property
    def samples(self):
        return self._of(self.records["type"] == RecordType.SAMPLE, SAMPLE_DTYPE)

    @property
    def events(self):
        t = self.records["type"]
        return self._of((t >= 1) & (t <= 10), EVENT_DTYPE)

    @property
    def lost(self):
        return self.records["time"][self.records["type"] == RecordType.LOST_DATA]

    def others(self):
        t = self.records["type"]
        keep = (t != RecordType.SAMPLE) & ((t < 1) | (t > 10))
        return [from_slot(self._data, int(i) * SLOT_SIZE) for i in _np.nonzero(keep)[0]]


if _np is not None:
    _HEAD_DTYPE = _np.dtype(
        {"names": ["time", "type"], "formats": ["<u4", "<i2"], "offsets": [0, 4], "itemsize": SLOT_SIZE}
    )
    _SLOT_BYTES = _np.dtype("V%d" % SLOT_SIZE)
    SAMPLE_DTYPE = slot_dtype(_b.float_sample)
    EVENT_DTYPE = slot_dtype(_b.float_event)
