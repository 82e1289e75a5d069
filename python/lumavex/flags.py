"""Named flags, modes and codes: the header's constants as enum.IntFlag and enum.IntEnum.

Each member is an int, so it goes wherever the library takes or returns the number:

    sample.flags & SampleFlag.LEFT
    tracker.mode() & Mode.RECORD
    raw.lumavex_data_start(RecordFlag.ALL, 0)
"""
import enum

from . import _bindings as _b


class Result(enum.IntEnum):
    """Result codes of the link and of commands."""

    OK = _b.OK_RESULT
    NO_REPLY = _b.NO_REPLY
    LINK_TERMINATED = _b.LINK_TERMINATED_RESULT
    LINK_NOT_OPEN = _b.LINK_NOT_OPEN_RESULT
    CONNECT_TIMEOUT = _b.CONNECT_TIMEOUT_RESULT
    CONNECT_VERSION_MISMATCH = _b.CONNECT_VERSION_MISMATCH_RESULT
    CONNECT_BUSY = _b.CONNECT_BUSY_RESULT


class SampleFlag(enum.IntFlag):
    """A sample's flags: the eyes and the values the tracker sent."""

    LEFT = _b.SF_LEFT
    RIGHT = _b.SF_RIGHT
    FULL_TIME = _b.SF_FULL_TIME
    PUPIL_XY = _b.SF_PUPIL_XY
    HREF_XY = _b.SF_HREF_XY
    GAZE_XY = _b.SF_GAZE_XY
    RESOLUTION = _b.SF_RESOLUTION
    PUPIL_SIZE = _b.SF_PUPIL_SIZE
    STATUS = _b.SF_STATUS
    INPUT = _b.SF_INPUT
    BUTTONS = _b.SF_BUTTONS
    AUX = _b.SF_AUX
    BLOCKS = _b.SF_BLOCKS
    SKIP_CHUNKS = _b.SF_SKIP_CHUNKS
    HALF_MS = _b.SF_HALF_MS
    SAMPLE = _b.SF_SAMPLE


class EventFlag(enum.IntFlag):
    """A parsed event's read flags: which of its values the tracker sent."""

    START = _b.RF_START
    END = _b.RF_END
    AVG = _b.RF_AVG
    START_POS = _b.RF_START_POS
    END_POS = _b.RF_END_POS
    AVG_POS = _b.RF_AVG_POS
    END_TIME = _b.RF_END_TIME
    PUPIL_SIZE = _b.RF_PUPIL_SIZE
    VELOCITY = _b.RF_VELOCITY
    RESOLUTION = _b.RF_RESOLUTION
    PUPIL_XY = _b.RF_PUPIL_XY
    HREF_XY = _b.RF_HREF_XY
    GAZE_XY = _b.RF_GAZE_XY
    STATUS = _b.RF_STATUS
    EXTENDED = _b.RF_EXTENDED


class RecordType(enum.IntEnum):
    """The type of a record in the data stream."""

    STARTBLINK = _b.STARTBLINK
    ENDBLINK = _b.ENDBLINK
    STARTSACC = _b.STARTSACC
    ENDSACC = _b.ENDSACC
    STARTFIX = _b.STARTFIX
    ENDFIX = _b.ENDFIX
    FIXUPDATE = _b.FIXUPDATE
    SAMPLE_BLOCK_START = _b.EV_SAMPLE_BLOCK_START
    SAMPLE_BLOCK_END = _b.EV_SAMPLE_BLOCK_END
    EVENT_BLOCK_START = _b.EV_EVENT_BLOCK_START
    EVENT_BLOCK_END = _b.EV_EVENT_BLOCK_END
    MESSAGE = _b.EV_MESSAGE
    BUTTONS = _b.EV_BUTTONS
    INPUT = _b.EV_INPUT
    LOST_DATA = _b.EV_LOST_DATA
    SAMPLE = _b.EV_SAMPLE


class Mode(enum.IntFlag):
    """The bits of the tracker's current mode (Tracker.mode())."""

    DISCONNECT = _b.IN_DISCONNECT_MODE
    PLAYBACK = _b.IN_PLAYBACK_MODE
    USER_MENU = _b.IN_USER_MENU
    IDLE = _b.IN_IDLE_MODE
    SETUP = _b.IN_SETUP_MODE
    RECORD = _b.IN_RECORD_MODE
    TARGET = _b.IN_TARGET_MODE
    DRIFTCORR = _b.IN_DRIFTCORR_MODE
    IMAGE = _b.IN_IMAGE_MODE


class RecordFlag(enum.IntFlag):
    """What a recording writes to the tracker's file and sends over the link."""

    FILE_SAMPLES = _b.LUMAVEX_RECORD_FILE_SAMPLES
    FILE_EVENTS = _b.LUMAVEX_RECORD_FILE_EVENTS
    LINK_SAMPLES = _b.LUMAVEX_RECORD_LINK_SAMPLES
    LINK_EVENTS = _b.LUMAVEX_RECORD_LINK_EVENTS
    ALL = _b.LUMAVEX_RECORD_ALL


class Eye(enum.IntEnum):
    """Eyes: also the index of the per-eye pairs in samples."""

    NONE = _b.LUMAVEX_EYE_NONE
    LEFT = _b.LUMAVEX_EYE_LEFT
    RIGHT = _b.LUMAVEX_EYE_RIGHT
    BOTH = _b.LUMAVEX_EYE_BOTH


class GapType(enum.IntFlag):
    """Kinds of records the full data queue discarded (LinkState.gap_types)."""

    SAMPLES = _b.LUMAVEX_GAP_SAMPLES
    EVENTS = _b.LUMAVEX_GAP_EVENTS
    MARKERS = _b.LUMAVEX_GAP_MARKERS


class RecordingResult(enum.IntEnum):
    """Results of Tracker.check_recording()."""

    RUNS = _b.RECORDING_RUNS
    FAILED = _b.RECORDING_FAILED
    ABORT_MENU_ENTRY_2 = _b.ABORT_MENU_ENTRY_2
    ABORT_MENU_ENTRY_3 = _b.ABORT_MENU_ENTRY_3
    ABORTED = _b.RECORDING_ABORTED


class PaletteFlag(enum.IntFlag):
    """PaletteInfo.flags bits of a camera image."""

    CR_THRESHOLD = _b.LUMAVEX_PAL_CR_THRESHOLD
    RAMP1 = _b.LUMAVEX_PAL_RAMP1
    RAMP2 = _b.LUMAVEX_PAL_RAMP2
    MARKERS = _b.LUMAVEX_PAL_MARKERS
    MARKER_BOX = _b.LUMAVEX_PAL_MARKER_BOX
    MARKER_ELLIPSE = _b.LUMAVEX_PAL_MARKER_ELLIPSE
    LOST_PUPIL = _b.LUMAVEX_PAL_LOST_PUPIL
    LOST_CR = _b.LUMAVEX_PAL_LOST_CR
    LOST_PUPIL_RIGHT = _b.LUMAVEX_PAL_LOST_PUPIL_RIGHT
    LOST_CR_RIGHT = _b.LUMAVEX_PAL_LOST_CR_RIGHT
    LOST_TARGET = _b.LUMAVEX_PAL_LOST_TARGET


MISSING_VALUE = _b.MISSING_VALUE
