"""lumavex: experiment code in Python for Lumavex eye trackers, over liblumavex_core.

    import lumavex

    with lumavex.connect("10.77.1.1") as tracker:
        tracker.command("sample_rate 1000")
        tracker.open_data_file("subj01")
        with tracker.recording():
            tracker.message("TRIALID 1")
            for sample in tracker.samples(timeout=0.1):
                print(sample.time, sample.gaze_x[lumavex.Eye.LEFT])

The library is found through LUMAVEX_CORE_LIBRARY (a path to liblumavex_core.so), else where
CMake or the Debian package installed it, else a copy bundled with the package. Every exported
function is in lumavex.raw as declared in the C header; lumavex.sim starts the simulated tracker.
"""
from . import raw
from . import _bindings as _b
from .flags import (
    MISSING_VALUE,
    EventFlag,
    Eye,
    GapType,
    Mode,
    PaletteFlag,
    RecordFlag,
    RecordingResult,
    RecordType,
    Result,
    SampleFlag,
)
from .records import Batch, BlockMarker, Event, IoRecord, LostData, Message, Record, Sample
from .tracker import LumavexError, Tracker, connect, error_text

__version__ = "0.2.0"

# The C records as ctypes Structures, byte for byte as the header lays them out.
FloatSample = _b.float_sample
FloatEvent = _b.float_event
MessageEvent = _b.message_event
IoEvent = _b.io_event
CompactFloatSample = _b.compact_float_sample
CompactFloatEvent = _b.compact_float_event
FloatData = _b.float_data
DoubleSample = _b.double_sample
CompactDoubleSample = _b.compact_double_sample
DoubleEvent = _b.double_event
DoubleMessageEvent = _b.double_message_event
DoubleIoEvent = _b.double_io_event
DoubleData = _b.double_data
LinkSampleItem = _b.link_sample_item
LinkEventItem = _b.link_event_item
LinkDataItem = _b.link_data_item
LinkState = _b.link_state
Address = _b.LVXADDR
Node = _b.LVXNODE
MicroTime = _b.MICRO_TIME
InputEvent = _b.InputEvent
GraphicHooks = _b.GraphicHooks
GraphicHooksV2 = _b.GraphicHooksV2
PaletteInfo = _b.PaletteInfo
CrosshairCanvas = _b.CrosshairCanvas

__all__ = [
    "connect",
    "Tracker",
    "LumavexError",
    "error_text",
    "raw",
    "Record",
    "Sample",
    "Event",
    "Message",
    "IoRecord",
    "BlockMarker",
    "LostData",
    "Batch",
    "MISSING_VALUE",
    "EventFlag",
    "Eye",
    "GapType",
    "Mode",
    "PaletteFlag",
    "RecordFlag",
    "RecordingResult",
    "RecordType",
    "Result",
    "SampleFlag",
    "FloatSample",
    "FloatEvent",
    "MessageEvent",
    "IoEvent",
    "CompactFloatSample",
    "CompactFloatEvent",
    "FloatData",
    "DoubleSample",
    "CompactDoubleSample",
    "DoubleEvent",
    "DoubleMessageEvent",
    "DoubleIoEvent",
    "DoubleData",
    "LinkSampleItem",
    "LinkEventItem",
    "LinkDataItem",
    "LinkState",
    "Address",
    "Node",
    "MicroTime",
    "InputEvent",
    "GraphicHooks",
    "GraphicHooksV2",
    "PaletteInfo",
    "CrosshairCanvas",
]
