# Generated from include/lumavex_core.h by tools/gen_bindings.py; do not edit by hand.
# Constants, records, function-pointer types and the prototypes of the exported functions.
import ctypes as _c

# ---- Constants
LUMAVEX_HEADER_VERSION = 200
LUMAVEX_LIBRARY_VERSION_TEXT = '2,2,596,0'
LUMAVEX_LINK_PROTOCOL_MAJOR = 3
LUMAVEX_LINK_PROTOCOL_MINOR = 2
OK_RESULT = 0
NO_REPLY = 1000
LINK_TERMINATED_RESULT = -100
LINK_NOT_OPEN_RESULT = -200
CONNECT_TIMEOUT_RESULT = -201
CONNECT_VERSION_MISMATCH_RESULT = -202
CONNECT_BUSY_RESULT = -203
LUMAVEX_REMOTE_PORT = 4000
LUMAVEX_TRACKER_PORT = 589
LUMAVEX_TRACKER_TCP_PORT = 3875
QX_CLOCK_BASE_LIBRARY = 0
QX_CLOCK_BASE_MACHINE_LOCAL = 1
COMMAND_PKT = 1
KEY_PKT = 2
STATUS_PKT = 3
DATA_PKT = 4
MESSAGE_PKT = 5
IMAGE_PKT = 6
FILE_PKT = 7
CONNECT_PKT = 99
NODE_PKT = 255
LUMAVEX_MAX_NODE_MESSAGE = 420
MISSING_VALUE = -32768
SF_LEFT = 32768
SF_RIGHT = 16384
SF_FULL_TIME = 8192
SF_PUPIL_XY = 4096
SF_HREF_XY = 2048
SF_GAZE_XY = 1024
SF_RESOLUTION = 512
SF_PUPIL_SIZE = 256
SF_STATUS = 128
SF_INPUT = 64
SF_BUTTONS = 32
SF_AUX = 16
SF_BLOCKS = 8
SF_SKIP_CHUNKS = 4
SF_HALF_MS = 2
SF_SAMPLE = 1
RF_START = 1
RF_END = 2
RF_AVG = 4
RF_START_POS = 8
RF_END_POS = 16
RF_AVG_POS = 32
RF_END_TIME = 64
RF_PUPIL_SIZE = 128
RF_VELOCITY = 256
RF_RESOLUTION = 512
RF_PUPIL_XY = 1024
RF_HREF_XY = 2048
RF_GAZE_XY = 4096
RF_STATUS = 8192
RF_EXTENDED = 16384
STARTBLINK = 1
ENDBLINK = 2
STARTSACC = 3
ENDSACC = 4
STARTFIX = 5
ENDFIX = 6
FIXUPDATE = 7
EV_SAMPLE_BLOCK_START = 15
EV_SAMPLE_BLOCK_END = 16
EV_EVENT_BLOCK_START = 17
EV_EVENT_BLOCK_END = 18
EV_MESSAGE = 24
EV_BUTTONS = 25
EV_INPUT = 28
EV_LOST_DATA = 63
EV_SAMPLE = 200
LUMAVEX_GAP_SAMPLES = 32768
LUMAVEX_GAP_EVENTS = 16384
LUMAVEX_GAP_MARKERS = 8192
LUMAVEX_OPEN_CONNECT = 0
LUMAVEX_OPEN_DUMMY = 1
LUMAVEX_OPEN_LINK_ONLY = -1
LUMAVEX_OPEN_SLAVE = 2
LUMAVEX_OPEN_MASTER = 3
LUMAVEX_MAX_PORTABLE_TEXT = 247
IN_DISCONNECT_MODE = 16384
IN_PLAYBACK_MODE = 256
IN_USER_MENU = 64
IN_IDLE_MODE = 1
IN_SETUP_MODE = 2
IN_RECORD_MODE = 4
IN_TARGET_MODE = 8
IN_DRIFTCORR_MODE = 16
IN_IMAGE_MODE = 32
LUMAVEX_RECORD_FILE_SAMPLES = 1
LUMAVEX_RECORD_FILE_EVENTS = 2
LUMAVEX_RECORD_LINK_SAMPLES = 4
LUMAVEX_RECORD_LINK_EVENTS = 8
LUMAVEX_RECORD_ALL = 15
LUMAVEX_EYE_NONE = -1
LUMAVEX_EYE_LEFT = 0
LUMAVEX_EYE_RIGHT = 1
LUMAVEX_EYE_BOTH = 2
LUMAVEX_FILTER_5 = 1
LUMAVEX_FILTER_9 = 2
LUMAVEX_FILTER_17 = 3
LUMAVEX_FILTER_GROUPS = 4
LUMAVEX_AUX_HREF_CORNERS = 232
TERMINATE_KEY = 32767
LUMAVEX_SOUND_TARGET_SHOWN = 1
LUMAVEX_SOUND_CAL_DONE = 0
LUMAVEX_SOUND_CAL_FAILED = -1
LUMAVEX_SOUND_DRIFT_TARGET = 3
LUMAVEX_SOUND_DRIFT_DONE = 2
LUMAVEX_SOUND_DRIFT_FAILED = -2
LUMAVEX_CAMERA_LEFT_EYE = 1
LUMAVEX_CAMERA_HEAD = 2
LUMAVEX_CAMERA_RIGHT_EYE = 3
LUMAVEX_CAMERA_SCENE = 4
LUMAVEX_PAL_CR_THRESHOLD = 1
LUMAVEX_PAL_RAMP1 = 2
LUMAVEX_PAL_RAMP2 = 4
LUMAVEX_PAL_MARKERS = 16
LUMAVEX_PAL_MARKER_BOX = 32
LUMAVEX_PAL_MARKER_ELLIPSE = 64
LUMAVEX_PAL_LOST_PUPIL = 256
LUMAVEX_PAL_LOST_CR = 512
LUMAVEX_PAL_LOST_PUPIL_RIGHT = 1024
LUMAVEX_PAL_LOST_CR_RIGHT = 2048
LUMAVEX_PAL_LOST_TARGET = 4096
CR_HAIR_COLOR = 1
PUPIL_HAIR_COLOR = 2
PUPIL_BOX_COLOR = 3
SEARCH_LIMIT_BOX_COLOR = 4
MOUSE_CURSOR_COLOR = 5
MARKER_COLOR = 6
MARKER_COLOR_WEAK = 7
RECORDING_RUNS = 0
RECORDING_FAILED = -1
ABORT_MENU_ENTRY_2 = 1
ABORT_MENU_ENTRY_3 = 2
RECORDING_ABORTED = 3
LVX_MAX_PATH_TEXT = 4095
LUMAVEX_PROGRESS_CANCEL = 10
RECEIVE_FILE_ONLY = 0
RECEIVE_FILE_TO_DIR = 1
RECEIVE_FILE_AND_VIDEO = 2
RECEIVE_FILE_AND_VIDEO_TO_DIR = 3
RECEIVE_VIDEO_ONLY = 4
RECEIVE_VIDEO_ONLY_TO_DIR = 5
RECEIVE_FILE_TO_PATH = 6
RECEIVE_FILE_REPLACE = 16384
BACKDROP_SAVE_AND_DRAW = 32
BACKDROP_VIA_FILE = 32
BACKDROP_GREY = 16
BACKDROP_COARSE_DITHER = 8
BACKDROP_TRANSFER = 256

# ---- Records (fields follow once every record exists)
class LVXADDR(_c.Structure):
    pass
class LVXNODE(_c.Structure):
    pass
class MICRO_TIME(_c.Structure):
    pass
class float_sample(_c.Structure):
    pass
class float_event(_c.Structure):
    pass
class message_event(_c.Structure):
    pass
class io_event(_c.Structure):
    pass
class compact_float_sample(_c.Structure):
    pass
class compact_float_event(_c.Structure):
    pass
class float_data_head(_c.Structure):
    pass
class float_data(_c.Union):
    pass
class double_sample(_c.Structure):
    pass
class compact_double_sample(_c.Structure):
    pass
class double_event(_c.Structure):
    pass
class double_message_event(_c.Structure):
    pass
class double_io_event(_c.Structure):
    pass
class double_data_head(_c.Structure):
    pass
class double_data(_c.Union):
    pass
class link_sample_item(_c.Structure):
    pass
class link_event_item(_c.Structure):
    pass
class link_data_item_head(_c.Structure):
    pass
class link_data_item(_c.Union):
    pass
class link_state(_c.Structure):
    pass
class raw_values(_c.Structure):
    pass
class corrected_raw(_c.Structure):
    pass
class InputEvent(_c.Structure):
    pass
class GraphicHooks(_c.Structure):
    pass
class GraphicHooksV2(_c.Structure):
    pass
class PaletteInfo(_c.Structure):
    pass
class CrosshairCanvas(_c.Structure):
    pass
class pixel_format(_c.Structure):
    pass
class bitmap_record(_c.Structure):
    pass

# ---- Function-pointer types
lumavex_data_ready_callback = _c.CFUNCTYPE(None, _c.c_int)
lumavex_write_image_hook = _c.CFUNCTYPE(_c.c_int, _c.c_char_p, _c.c_int, _c.c_void_p)
download_progress_fn = _c.CFUNCTYPE(_c.c_int, _c.c_char_p, _c.c_uint64, _c.c_uint64)
download_progress32_fn = _c.CFUNCTYPE(_c.c_int, _c.c_uint32, _c.c_uint32)
upload_progress_fn = _c.CFUNCTYPE(_c.c_int, _c.c_uint32, _c.c_uint32)

# ---- Record fields, in the header's order
LVXADDR._fields_ = [
    ('addr', _c.c_uint8 * 4),
    ('port', _c.c_uint8 * 2),
    ('unused', _c.c_uint8 * 10),
]
LVXNODE._fields_ = [
    ('addr', LVXADDR),
    ('name', _c.c_char * 40),
]
MICRO_TIME._fields_ = [
    ('msec', _c.c_uint32),
    ('usec', _c.c_uint16),
]
float_sample._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('flags', _c.c_uint16),
    ('pupil_x', _c.c_float * 2),
    ('pupil_y', _c.c_float * 2),
    ('href_x', _c.c_float * 2),
    ('href_y', _c.c_float * 2),
    ('pupil_size', _c.c_float * 2),
    ('gaze_x', _c.c_float * 2),
    ('gaze_y', _c.c_float * 2),
    ('res_x', _c.c_float),
    ('res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('input', _c.c_uint16),
    ('buttons', _c.c_uint16),
    ('aux_type', _c.c_uint16),
    ('aux_data', _c.c_uint16 * 8),
    ('extra_a', (_c.c_float * 3) * 2),
    ('extra_word', _c.c_uint32),
    ('extra_b', (_c.c_float * 3) * 2),
    ('extra_c', _c.c_float * 2),
    ('extra_d', (_c.c_float * 2) * 2),
    ('extra3_lead', _c.c_float * 2),
    ('extra3_point', _c.c_float * 2),
    ('extra3_points', (_c.c_float * 2) * 5),
]
float_event._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('read', _c.c_uint16),
    ('eye', _c.c_int16),
    ('start_time', _c.c_uint32),
    ('end_time', _c.c_uint32),
    ('start_href_x', _c.c_float),
    ('start_href_y', _c.c_float),
    ('start_x', _c.c_float),
    ('start_y', _c.c_float),
    ('start_pupil_size', _c.c_float),
    ('end_href_x', _c.c_float),
    ('end_href_y', _c.c_float),
    ('end_x', _c.c_float),
    ('end_y', _c.c_float),
    ('end_pupil_size', _c.c_float),
    ('avg_href_x', _c.c_float),
    ('avg_href_y', _c.c_float),
    ('avg_x', _c.c_float),
    ('avg_y', _c.c_float),
    ('avg_pupil_size', _c.c_float),
    ('avg_velocity', _c.c_float),
    ('peak_velocity', _c.c_float),
    ('start_velocity', _c.c_float),
    ('end_velocity', _c.c_float),
    ('start_res_x', _c.c_float),
    ('end_res_x', _c.c_float),
    ('start_res_y', _c.c_float),
    ('end_res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('ext_pairs_a', (_c.c_float * 2) * 3),
    ('ext_pairs_b', (_c.c_float * 2) * 3),
    ('ext_triplets_a', (_c.c_float * 3) * 3),
    ('ext_triplets_b', (_c.c_float * 3) * 3),
]
message_event._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('length', _c.c_uint16),
    ('text', _c.c_char * 260),
]
io_event._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('data', _c.c_uint16),
]
compact_float_sample._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('flags', _c.c_uint16),
    ('pupil_x', _c.c_float * 2),
    ('pupil_y', _c.c_float * 2),
    ('href_x', _c.c_float * 2),
    ('href_y', _c.c_float * 2),
    ('pupil_size', _c.c_float * 2),
    ('gaze_x', _c.c_float * 2),
    ('gaze_y', _c.c_float * 2),
    ('res_x', _c.c_float),
    ('res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('input', _c.c_uint16),
    ('buttons', _c.c_uint16),
    ('aux_type', _c.c_uint16),
    ('aux_data', _c.c_uint16 * 8),
]
compact_float_event._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('read', _c.c_uint16),
    ('eye', _c.c_int16),
    ('start_time', _c.c_uint32),
    ('end_time', _c.c_uint32),
    ('start_href_x', _c.c_float),
    ('start_href_y', _c.c_float),
    ('start_x', _c.c_float),
    ('start_y', _c.c_float),
    ('start_pupil_size', _c.c_float),
    ('end_href_x', _c.c_float),
    ('end_href_y', _c.c_float),
    ('end_x', _c.c_float),
    ('end_y', _c.c_float),
    ('end_pupil_size', _c.c_float),
    ('avg_href_x', _c.c_float),
    ('avg_href_y', _c.c_float),
    ('avg_x', _c.c_float),
    ('avg_y', _c.c_float),
    ('avg_pupil_size', _c.c_float),
    ('avg_velocity', _c.c_float),
    ('peak_velocity', _c.c_float),
    ('start_velocity', _c.c_float),
    ('end_velocity', _c.c_float),
    ('start_res_x', _c.c_float),
    ('end_res_x', _c.c_float),
    ('start_res_y', _c.c_float),
    ('end_res_y', _c.c_float),
    ('status', _c.c_uint16),
]
float_data_head._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
]
float_data._fields_ = [
    ('head', float_data_head),
    ('fs', float_sample),
    ('fe', float_event),
    ('im', message_event),
    ('io', io_event),
    ('raw', _c.c_uint8 * 268),
]
double_sample._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
    ('flags', _c.c_uint16),
    ('pupil_x', _c.c_float * 2),
    ('pupil_y', _c.c_float * 2),
    ('href_x', _c.c_float * 2),
    ('href_y', _c.c_float * 2),
    ('pupil_size', _c.c_float * 2),
    ('gaze_x', _c.c_float * 2),
    ('gaze_y', _c.c_float * 2),
    ('res_x', _c.c_float),
    ('res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('input', _c.c_uint16),
    ('buttons', _c.c_uint16),
    ('aux_type', _c.c_uint16),
    ('aux_data', _c.c_uint16 * 8),
    ('extra_a', (_c.c_float * 3) * 2),
    ('extra_word', _c.c_uint32),
    ('extra_b', (_c.c_float * 3) * 2),
    ('extra_c', _c.c_float * 2),
    ('extra_d', (_c.c_float * 2) * 2),
    ('extra3_lead', _c.c_float * 2),
    ('extra3_point', _c.c_float * 2),
    ('extra3_points', (_c.c_float * 2) * 5),
]
compact_double_sample._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
    ('flags', _c.c_uint16),
    ('pupil_x', _c.c_float * 2),
    ('pupil_y', _c.c_float * 2),
    ('href_x', _c.c_float * 2),
    ('href_y', _c.c_float * 2),
    ('pupil_size', _c.c_float * 2),
    ('gaze_x', _c.c_float * 2),
    ('gaze_y', _c.c_float * 2),
    ('res_x', _c.c_float),
    ('res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('input', _c.c_uint16),
    ('buttons', _c.c_uint16),
    ('aux_type', _c.c_uint16),
    ('aux_data', _c.c_uint16 * 8),
]
double_event._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
    ('read', _c.c_uint16),
    ('eye', _c.c_int16),
    ('start_time', _c.c_double),
    ('end_time', _c.c_double),
    ('start_href_x', _c.c_float),
    ('start_href_y', _c.c_float),
    ('start_x', _c.c_float),
    ('start_y', _c.c_float),
    ('start_pupil_size', _c.c_float),
    ('end_href_x', _c.c_float),
    ('end_href_y', _c.c_float),
    ('end_x', _c.c_float),
    ('end_y', _c.c_float),
    ('end_pupil_size', _c.c_float),
    ('avg_href_x', _c.c_float),
    ('avg_href_y', _c.c_float),
    ('avg_x', _c.c_float),
    ('avg_y', _c.c_float),
    ('avg_pupil_size', _c.c_float),
    ('avg_velocity', _c.c_float),
    ('peak_velocity', _c.c_float),
    ('start_velocity', _c.c_float),
    ('end_velocity', _c.c_float),
    ('start_res_x', _c.c_float),
    ('end_res_x', _c.c_float),
    ('start_res_y', _c.c_float),
    ('end_res_y', _c.c_float),
    ('status', _c.c_uint16),
    ('ext_pairs_a', (_c.c_float * 2) * 3),
    ('ext_pairs_b', (_c.c_float * 2) * 3),
    ('ext_triplets_a', (_c.c_float * 3) * 3),
    ('ext_triplets_b', (_c.c_float * 3) * 3),
]
double_message_event._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
    ('length', _c.c_uint16),
    ('text', _c.c_char * 260),
]
double_io_event._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
    ('data', _c.c_uint16),
]
double_data_head._fields_ = [
    ('time', _c.c_double),
    ('type', _c.c_int16),
]
double_data._fields_ = [
    ('head', double_data_head),
    ('fs', double_sample),
    ('fe', double_event),
    ('im', double_message_event),
    ('io', double_io_event),
    ('raw', _c.c_uint8 * 272),
]
link_sample_item._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('flags', _c.c_uint16),
    ('pupil_x', _c.c_int16 * 2),
    ('pupil_y', _c.c_int16 * 2),
    ('href_x', _c.c_int16 * 2),
    ('href_y', _c.c_int16 * 2),
    ('pupil_size', _c.c_uint16 * 2),
    ('gaze_x', _c.c_int16 * 2),
    ('gaze_y', _c.c_int16 * 2),
    ('res_x', _c.c_uint16),
    ('res_y', _c.c_uint16),
    ('status', _c.c_uint16),
    ('input', _c.c_uint16),
    ('buttons', _c.c_uint16),
    ('aux_type', _c.c_uint16),
    ('aux_data', _c.c_uint16 * 8),
    ('block', _c.c_float * 12),
    ('block_word', _c.c_uint32),
    ('block2', _c.c_float * 6),
    ('float_gaze_x', _c.c_float * 2),
    ('float_gaze_y', _c.c_float * 2),
    ('block3', _c.c_float * 14),
]
link_event_item._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
    ('read', _c.c_uint16),
    ('eye', _c.c_int16),
    ('start_time', _c.c_uint32),
    ('end_time', _c.c_uint32),
    ('start_href_x', _c.c_int16),
    ('start_href_y', _c.c_int16),
    ('start_x', _c.c_int16),
    ('start_y', _c.c_int16),
    ('start_pupil_size', _c.c_uint16),
    ('end_href_x', _c.c_int16),
    ('end_href_y', _c.c_int16),
    ('end_x', _c.c_int16),
    ('end_y', _c.c_int16),
    ('end_pupil_size', _c.c_uint16),
    ('avg_href_x', _c.c_int16),
    ('avg_href_y', _c.c_int16),
    ('avg_x', _c.c_int16),
    ('avg_y', _c.c_int16),
    ('avg_pupil_size', _c.c_uint16),
    ('avg_velocity', _c.c_int16),
    ('peak_velocity', _c.c_int16),
    ('start_velocity', _c.c_int16),
    ('end_velocity', _c.c_int16),
    ('start_res_x', _c.c_int16),
    ('end_res_x', _c.c_int16),
    ('start_res_y', _c.c_int16),
    ('end_res_y', _c.c_int16),
    ('status', _c.c_uint16),
    ('extended', _c.c_float * 36),
]
link_data_item_head._fields_ = [
    ('time', _c.c_uint32),
    ('type', _c.c_int16),
]
link_data_item._fields_ = [
    ('head', link_data_item_head),
    ('sample', link_sample_item),
    ('event', link_event_item),
    ('message', message_event),
    ('io', io_event),
    ('raw', _c.c_uint8 * 268),
]
link_state._fields_ = [
    ('status_time', _c.c_uint32),
    ('record_version', _c.c_uint32),
    ('sample_rate_x10', _c.c_uint16),
    ('sample_block_word', _c.c_uint16),
    ('position_prescaler', _c.c_uint16),
    ('velocity_prescaler', _c.c_uint16),
    ('pupil_prescaler', _c.c_uint16),
    ('rate_word', _c.c_uint16),
    ('sample_data_flags', _c.c_uint16),
    ('event_data_flags', _c.c_uint16),
    ('event_type_flags', _c.c_uint16),
    ('in_sample_block', _c.c_uint8),
    ('in_event_block', _c.c_uint8),
    ('left_eye_present', _c.c_uint8),
    ('right_eye_present', _c.c_uint8),
    ('gap_types', _c.c_uint16),
    ('last_kind', _c.c_uint16),
    ('last_size', _c.c_uint16),
    ('control_read', _c.c_uint16),
    ('first_in_block', _c.c_uint16),
    ('last_item_time', _c.c_uint32),
    ('last_item_type', _c.c_uint16),
    ('last_item_read', _c.c_uint16),
    ('last_item', link_data_item),
    ('block_number', _c.c_uint32),
    ('block_sample_count', _c.c_uint32),
    ('block_event_count', _c.c_uint32),
    ('last_res_x', _c.c_uint16),
    ('last_res_y', _c.c_uint16),
    ('last_pupil_size', _c.c_uint16 * 2),
    ('last_status', _c.c_uint16),
    ('queued_samples', _c.c_uint16),
    ('queued_events', _c.c_uint16),
    ('queue_size', _c.c_uint32),
    ('queue_free', _c.c_uint32),
    ('last_receive_time', _c.c_uint32),
    ('samples_on', _c.c_uint8),
    ('events_on', _c.c_uint8),
    ('packet_flags', _c.c_uint16),
    ('tracker_address', LVXADDR),
    ('tracker_name', _c.c_char * 40),
    ('own_name', _c.c_char * 40),
    ('own_address', LVXADDR),
    ('tracker_broadcast', LVXADDR),
    ('remote_broadcast', LVXADDR),
    ('poll_mode', _c.c_int16),
    ('poll_count', _c.c_int16),
    ('poll_responses', LVXNODE * 4),
    ('header_word16', _c.c_uint16),
    ('header_word14', _c.c_uint16),
    ('header_byte18', _c.c_uint8),
    ('header_byte19', _c.c_uint8),
    ('tracker_mode_word', _c.c_uint16),
]
raw_values._fields_ = [
    ('reserved', _c.c_uint32),
    ('pupil_raw_x', _c.c_float),
    ('pupil_raw_y', _c.c_float),
    ('cr_raw_x', _c.c_float),
    ('cr_raw_y', _c.c_float),
    ('pupil_area', _c.c_int32),
    ('cr_area', _c.c_int32),
    ('pupil_dim', _c.c_int32 * 2),
    ('cr_dim', _c.c_int32 * 2),
    ('origin_x', _c.c_int32),
    ('origin_y', _c.c_int32),
    ('pupil_cr_x', _c.c_float),
    ('pupil_cr_y', _c.c_float),
    ('aux_code', _c.c_int32),
    ('aux_point', _c.c_float * 2),
]
corrected_raw._fields_ = [
    ('pupil_x', _c.c_float),
    ('pupil_y', _c.c_float),
    ('cr_x', _c.c_float),
    ('cr_y', _c.c_float),
    ('diff_x', _c.c_float),
    ('diff_y', _c.c_float),
    ('pupil_area', _c.c_int32),
]
InputEvent._fields_ = [
    ('type', _c.c_uint8),
    ('state', _c.c_uint8),
    ('key', _c.c_uint16),
    ('modifiers', _c.c_uint16),
    ('key_word2', _c.c_uint16),
    ('data', _c.c_uint32),
]
GraphicHooks._fields_ = [
    ('open_target_screen_hook', _c.CFUNCTYPE(_c.c_int16)),
    ('close_target_screen_hook', _c.CFUNCTYPE(None)),
    ('hide_for_abort_menu_hook', _c.CFUNCTYPE(None)),
    ('open_camera_view_hook', _c.CFUNCTYPE(_c.c_int16, _c.c_int16, _c.c_int16)),
    ('camera_title_hook', _c.CFUNCTYPE(None, _c.c_int16, _c.c_char_p)),
    ('camera_line_hook', _c.CFUNCTYPE(None, _c.c_int16, _c.c_int16, _c.c_int16, _c.POINTER(_c.c_uint8))),
    ('camera_palette_hook', _c.CFUNCTYPE(None, _c.c_int16, _c.POINTER(_c.c_uint8), _c.POINTER(_c.c_uint8), _c.POINTER(_c.c_uint8))),
    ('close_camera_view_hook', _c.CFUNCTYPE(None)),
    ('erase_target_hook', _c.CFUNCTYPE(None)),
    ('blank_target_screen_hook', _c.CFUNCTYPE(None)),
    ('draw_target_hook', _c.CFUNCTYPE(None, _c.c_int32, _c.c_int32)),
    ('target_shown_sound_hook', _c.CFUNCTYPE(None)),
    ('calibration_end_sound_hook', _c.CFUNCTYPE(None, _c.c_int32)),
    ('drift_end_sound_hook', _c.CFUNCTYPE(None, _c.c_int32)),
    ('drift_target_sound_hook', _c.CFUNCTYPE(None)),
    ('poll_input_events_hook', _c.CFUNCTYPE(_c.c_int16, _c.POINTER(InputEvent))),
    ('alert_hook', _c.CFUNCTYPE(None, _c.c_char_p)),
]
GraphicHooksV2._fields_ = [
    ('major_version', _c.c_int32),
    ('reserved1', _c.c_void_p),
    ('user_data', _c.c_void_p),
    ('open_target_screen_hook', _c.CFUNCTYPE(_c.c_int16, _c.c_void_p)),
    ('close_target_screen_hook', _c.CFUNCTYPE(None, _c.c_void_p)),
    ('open_camera_view_hook', _c.CFUNCTYPE(_c.c_int16, _c.c_void_p, _c.c_int16, _c.c_int16)),
    ('camera_title_hook', _c.CFUNCTYPE(None, _c.c_void_p, _c.c_char_p)),
    ('camera_image_hook', _c.CFUNCTYPE(None, _c.c_void_p, _c.c_int16, _c.c_int16, _c.POINTER(_c.c_uint32))),
    ('close_camera_view_hook', _c.CFUNCTYPE(None, _c.c_void_p)),
    ('erase_target_hook', _c.CFUNCTYPE(None, _c.c_void_p)),
    ('blank_target_screen_hook', _c.CFUNCTYPE(None, _c.c_void_p)),
    ('draw_target_hook', _c.CFUNCTYPE(None, _c.c_void_p, _c.c_float, _c.c_float)),
    ('play_sound_hook', _c.CFUNCTYPE(None, _c.c_void_p, _c.c_int32)),
    ('poll_input_events_hook', _c.CFUNCTYPE(_c.c_int16, _c.c_void_p, _c.POINTER(InputEvent))),
    ('alert_hook', _c.CFUNCTYPE(None, _c.c_void_p, _c.c_char_p)),
    ('reserved2', _c.c_void_p * 4),
]
PaletteInfo._fields_ = [
    ('palette_id', _c.c_uint8),
    ('reserved1', _c.c_uint8),
    ('camera', _c.c_uint8),
    ('pupil_threshold', _c.c_uint8),
    ('flags', _c.c_uint16),
    ('reserved6', _c.c_uint16),
    ('cr_threshold', _c.c_uint8),
    ('reserved9', _c.c_uint8),
    ('markers34', _c.c_uint8 * 8),
    ('grey_first', _c.c_uint8),
    ('grey_first_level', _c.c_uint8),
    ('grey_last', _c.c_uint8),
    ('grey_last_level', _c.c_uint8),
    ('colour_count', _c.c_int16),
    ('colours', _c.c_uint8 * 8),
    ('ramp1', _c.c_uint8 * 8),
    ('ramp2', _c.c_uint8 * 8),
]
CrosshairCanvas._fields_ = [
    ('user_data', _c.c_void_p),
    ('width', _c.c_int32),
    ('height', _c.c_int32),
    ('last_mouse_state', _c.c_int32),
    ('reserved', _c.c_int32),
    ('draw_line', _c.CFUNCTYPE(None, _c.POINTER(CrosshairCanvas), _c.c_int32, _c.c_int32, _c.c_int32, _c.c_int32, _c.c_int32)),
    ('draw_box', _c.CFUNCTYPE(None, _c.POINTER(CrosshairCanvas), _c.c_int32, _c.c_int32, _c.c_int32, _c.c_int32, _c.c_int32)),
    ('get_mouse_state', _c.CFUNCTYPE(None, _c.POINTER(CrosshairCanvas), _c.POINTER(_c.c_int32), _c.POINTER(_c.c_int32), _c.POINTER(_c.c_int32))),
]
pixel_format._fields_ = [
    ('red_mask', _c.c_uint32),
    ('green_mask', _c.c_uint32),
    ('blue_mask', _c.c_uint32),
    ('alpha_mask', _c.c_uint32),
]
bitmap_record._fields_ = [
    ('width', _c.c_int32),
    ('height', _c.c_int32),
    ('pitch', _c.c_int32),
    ('depth', _c.c_int32),
    ('pixels', _c.c_void_p),
    ('format', _c.POINTER(pixel_format)),
]

# Records named in the header, in its order (nested ones carry their parent's name).
RECORDS = (
    'LVXADDR',
    'LVXNODE',
    'MICRO_TIME',
    'float_sample',
    'float_event',
    'message_event',
    'io_event',
    'compact_float_sample',
    'compact_float_event',
    'float_data_head',
    'float_data',
    'double_sample',
    'compact_double_sample',
    'double_event',
    'double_message_event',
    'double_io_event',
    'double_data_head',
    'double_data',
    'link_sample_item',
    'link_event_item',
    'link_data_item_head',
    'link_data_item',
    'link_state',
    'raw_values',
    'corrected_raw',
    'InputEvent',
    'GraphicHooks',
    'GraphicHooksV2',
    'PaletteInfo',
    'CrosshairCanvas',
    'pixel_format',
    'bitmap_record',
)

# Exported functions: name -> (result type, argument types, variadic).
PROTOTYPES = {
    'open_lumavex_connection': (_c.c_int16, [_c.c_int16], False),
    'close_lumavex_connection': (None, [], False),
    'open_lumavex_system': (_c.c_int16, [_c.c_uint16, _c.c_char_p], False),
    'close_lumavex_system': (None, [], False),
    'lumavex_open': (_c.c_int16, [], False),
    'lumavex_open_node': (_c.c_int16, [_c.POINTER(LVXADDR), _c.c_int16], False),
    'lumavex_broadcast_open': (_c.c_int16, [], False),
    'lumavex_dummy_open': (_c.c_int16, [], False),
    'lumavex_close': (_c.c_int16, [_c.c_int16], False),
    'lumavex_is_connected': (_c.c_int16, [], False),
    'lumavex_tracker_mode': (_c.c_uint16, [], False),
    'lumavex_get_tracker_version': (_c.c_int16, [_c.POINTER(_c.c_char)], False),
    'lumavex_set_name': (None, [_c.c_char_p], False),
    'lumavex_quiet_mode': (_c.c_int16, [_c.c_int16], False),
    'lumavex_dll_version': (None, [_c.POINTER(_c.c_char)], False),
    'text_to_lvxaddr': (_c.c_int16, [_c.c_char_p, _c.POINTER(LVXADDR), _c.c_int16], False),
    'set_lumavex_address': (_c.c_int16, [_c.c_char_p], False),
    'lumavex_set_tracker_node': (_c.c_int16, [_c.POINTER(LVXADDR)], False),
    'set_lumavex_tcp_only': (_c.c_int16, [_c.c_int], False),
    'lumavex_poll_trackers': (_c.c_int16, [], False),
    'lumavex_poll_remotes': (_c.c_int16, [], False),
    'lumavex_poll_responses': (_c.c_int16, [], False),
    'lumavex_get_node': (_c.c_int16, [_c.c_int16, _c.POINTER(LVXNODE)], False),
    'lumavex_node_send': (_c.c_int16, [_c.POINTER(LVXADDR), _c.c_void_p, _c.c_uint16], False),
    'lumavex_node_receive': (_c.c_int16, [_c.POINTER(LVXADDR), _c.c_void_p], False),
    'lumavex_timed_command': (_c.c_int16, [_c.c_uint32, _c.c_char_p], False),
    'lumavex_send_command': (_c.c_int16, [_c.c_char_p], False),
    'lumavex_command_result': (_c.c_int16, [], False),
    'lumavex_wait_for_command_result': (_c.c_int16, [_c.c_uint32], False),
    'eyecmd_printf': (_c.c_int16, [_c.c_char_p], True),
    'lumavex_last_message': (_c.c_int16, [_c.POINTER(_c.c_char)], False),
    'lumavex_get_error': (_c.c_char_p, [_c.c_int, _c.c_char_p], False),
    'set_offline_mode': (_c.c_int16, [], False),
    'lumavex_send_message': (_c.c_int16, [_c.c_char_p], False),
    'lumavex_send_message_ex': (_c.c_int16, [_c.c_int32, _c.c_char_p], False),
    'eyemsg_printf': (_c.c_int16, [_c.c_char_p], True),
    'eyemsg_printf_ex': (_c.c_int16, [_c.c_int32, _c.c_char_p], True),
    'lumavex_node_send_message': (_c.c_int16, [_c.POINTER(LVXADDR), _c.c_char_p], False),
    'lumavex_node_send_message_ex': (_c.c_int16, [_c.c_int32, _c.POINTER(LVXADDR), _c.c_char_p], False),
    'lumavex_abort': (_c.c_int16, [], False),
    'lumavex_start_setup': (_c.c_int16, [], False),
    'lumavex_set_tracker_setup_default': (_c.c_int16, [_c.c_int16], False),
    'lumavex_accept_trigger': (_c.c_int16, [], False),
    'lumavex_driftcorr_start': (_c.c_int16, [_c.c_int16, _c.c_int16], False),
    'lumavex_driftcorr_startf': (_c.c_int16, [_c.c_float, _c.c_float], False),
    'lumavex_apply_driftcorr': (_c.c_int16, [], False),
    'lumavex_data_start': (_c.c_int16, [_c.c_uint16, _c.c_int16], False),
    'lumavex_data_stop': (_c.c_int16, [], False),
    'lumavex_playback_start': (_c.c_int16, [], False),
    'lumavex_playback_stop': (_c.c_int16, [], False),
    'lumavex_current_mode': (_c.c_int16, [], False),
    'lumavex_in_setup': (_c.c_int16, [], False),
    'lumavex_wait_for_mode_ready': (_c.c_int16, [_c.c_uint32], False),
    'lumavex_eye_available': (_c.c_int16, [], False),
    'lumavex_read_request': (_c.c_int16, [_c.c_char_p], False),
    'lumavex_read_reply': (_c.c_int16, [_c.POINTER(_c.c_char)], False),
    'lumavex_request_time': (_c.c_int16, [], False),
    'lumavex_node_request_time': (_c.c_int16, [_c.POINTER(LVXADDR)], False),
    'lumavex_read_time': (_c.c_uint32, [], False),
    'lumavex_cal_message': (_c.c_int16, [_c.POINTER(_c.c_char)], False),
    'lumavex_cal_result': (_c.c_int16, [], False),
    'lumavex_target_check': (_c.c_int16, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16)], False),
    'lumavex_target_checkf': (_c.c_int16, [_c.POINTER(_c.c_float), _c.POINTER(_c.c_float)], False),
    'lumavex_user_menu_selection': (_c.c_int16, [], False),
    'lumavex_data_count': (_c.c_int16, [_c.c_int16, _c.c_int16], False),
    'lumavex_sample_data_flags': (_c.c_uint16, [], False),
    'lumavex_event_data_flags': (_c.c_int16, [], False),
    'lumavex_event_type_flags': (_c.c_uint16, [], False),
    'lumavex_position_prescaler': (_c.c_int16, [], False),
    'lumavex_in_data_block': (_c.c_int16, [_c.c_int16, _c.c_int16], False),
    'lumavex_wait_for_block_start': (_c.c_int16, [_c.c_uint32, _c.c_int16, _c.c_int16], False),
    'lumavex_wait_for_data': (_c.c_int16, [_c.c_uint32, _c.c_int16, _c.c_int16], False),
    'lumavex_send_keybutton': (_c.c_int16, [_c.c_uint16, _c.c_uint16, _c.c_uint8], False),
    'lumavex_flush_keybuttons': (_c.c_int16, [_c.c_int16], False),
    'lumavex_button_states': (_c.c_uint16, [], False),
    'lumavex_last_button_states': (_c.c_uint16, [_c.POINTER(_c.c_uint32)], False),
    'lumavex_read_keybutton': (_c.c_uint16, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_uint16), _c.POINTER(_c.c_uint32)], False),
    'lumavex_last_button_press': (_c.c_uint16, [_c.POINTER(_c.c_uint32)], False),
    'lumavex_bitmap_packet': (_c.c_int16, [_c.c_void_p, _c.c_uint16, _c.c_uint16], False),
    'lumavex_bitmap_ack_count': (_c.c_int16, [], False),
    'lumavex_get_next_data': (_c.c_int, [_c.c_void_p], False),
    'lumavex_get_float_data': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_get_double_data': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_get_all_float_data': (_c.c_int16, [_c.c_void_p, _c.c_int], False),
    'lumavex_wait_for_next_data': (_c.c_int16, [_c.c_void_p, _c.c_int, _c.c_int], False),
    'lumavex_wait_for_next_double_data': (_c.c_int16, [_c.c_void_p, _c.c_int, _c.c_int], False),
    'lumavex_newest_float_sample': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_newest_float_sample2': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_newest_double_sample': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_newest_double_sample2': (_c.c_int16, [_c.c_void_p], False),
    'lumavex_wait_for_new_float_sample': (_c.c_int16, [_c.c_void_p, _c.c_int], False),
    'lumavex_wait_for_new_float_sample2': (_c.c_int16, [_c.c_void_p, _c.c_int], False),
    'lumavex_wait_for_new_double_sample': (_c.c_int16, [_c.c_void_p, _c.c_int], False),
    'lumavex_wait_for_new_double_sample2': (_c.c_int16, [_c.c_void_p, _c.c_int], False),
    'lumavex_data_status': (_c.POINTER(link_state), [], False),
    'lumavex_reset_data': (_c.c_int16, [_c.c_int16], False),
    'lumavex_data_switch': (_c.c_int16, [_c.c_uint16], False),
    'lumavex_mode_data': (_c.c_int16, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16)], False),
    'lumavex2_mode_data': (_c.c_int16, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16)], False),
    'lumavex_set_data_ready_notify': (_c.c_int16, [lumavex_data_ready_callback], False),
    'lumavex_get_data_ready_notify': (lumavex_data_ready_callback, [], False),
    'lumavex_reconstr_raw_link_data': (_c.c_int16, [_c.POINTER(compact_float_sample), _c.c_int, _c.POINTER(raw_values)], False),
    'lumavex_get_extra_raw_values_v2': (_c.c_int16, [_c.POINTER(compact_float_sample), _c.c_int, _c.POINTER(raw_values)], False),
    'lumavex_get_extra_raw_values': (_c.c_int16, [_c.POINTER(compact_float_sample), _c.POINTER(raw_values)], False),
    'preprocess_raw_link_data': (_c.c_int16, [_c.c_int, _c.c_float, _c.c_float, _c.c_float, _c.c_float, _c.c_float, _c.POINTER(raw_values), _c.POINTER(corrected_raw)], False),
    'lumavex_reconstr_preprocess_raw_link_data': (_c.c_int16, [_c.POINTER(compact_float_sample), _c.c_int, _c.POINTER(corrected_raw)], False),
    'lumavex_calculate_velocity_x_y': (_c.c_int16, [_c.c_int, _c.POINTER(_c.c_float), _c.POINTER(_c.c_float), _c.POINTER(compact_float_sample)], False),
    'lumavex_calculate_velocity': (_c.c_int16, [_c.c_int, _c.POINTER(_c.c_float), _c.POINTER(compact_float_sample)], False),
    'lumavex_calculate_overallvelocity_and_acceleration': (_c.c_int16, [_c.c_int, _c.POINTER(_c.c_float), _c.POINTER(_c.c_float), _c.POINTER(compact_float_sample)], False),
    'lumavex_calculate_overallvelocity_and_acceleration2': (_c.c_int16, [_c.c_int, _c.POINTER(_c.c_float), _c.POINTER(float_data)], False),
    'lumavex_initialize_mapping': (_c.c_int, [_c.c_float, _c.c_float, _c.c_float, _c.c_float], False),
    'lumavex_href_to_gaze': (_c.c_int, [_c.POINTER(_c.c_float), _c.POINTER(_c.c_float), _c.POINTER(compact_float_sample)], False),
    'lumavex_gaze_to_href': (_c.c_int, [_c.POINTER(_c.c_float), _c.POINTER(_c.c_float), _c.POINTER(compact_float_sample)], False),
    'lumavex_href_angle': (_c.c_double, [_c.c_float, _c.c_float, _c.c_float, _c.c_float], False),
    'lumavex_href_resolution': (None, [_c.c_float, _c.c_float, _c.POINTER(_c.c_float), _c.POINTER(_c.c_float)], False),
    'lumavex_set_special_keys': (None, [_c.c_int, _c.c_int, _c.c_int, _c.c_int, _c.c_int], False),
    'lumavex_set_special_keys_ex': (None, [_c.c_int, _c.POINTER(_c.c_int), _c.POINTER(_c.c_int), _c.c_int], False),
    'lumavex_get_special_keys_ex': (None, [_c.c_int, _c.POINTER(_c.c_int), _c.POINTER(_c.c_int), _c.POINTER(_c.c_int)], False),
    'key_message_pump': (_c.c_int16, [], False),
    'message_pump': (_c.c_int16, [], False),
    'pump_delay': (None, [_c.c_uint32], False),
    'getkey': (_c.c_uint32, [], False),
    'read_getkey_queue': (_c.c_uint32, [], False),
    'getkey_with_mod': (_c.c_uint32, [_c.POINTER(_c.c_uint16)], False),
    'echo_key': (_c.c_uint32, [], False),
    'flush_getkey_queue': (_c.c_int16, [], False),
    'escape_pressed': (_c.c_int16, [], False),
    'break_pressed': (_c.c_int16, [], False),
    'terminal_break': (None, [_c.c_int16], False),
    'application_terminated': (_c.c_int16, [], False),
    'lumavex_peep_input_event': (_c.c_int16, [_c.POINTER(InputEvent), _c.c_uint8], False),
    'lumavex_get_input_event': (_c.c_int16, [_c.POINTER(InputEvent), _c.c_uint8], False),
    'lumavex_peep_last_input_event': (_c.c_int16, [_c.POINTER(InputEvent), _c.c_uint8], False),
    'lumavex_flush_input_event': (None, [], False),
    'setup_graphic_hook_functions': (_c.c_int, [_c.POINTER(GraphicHooks)], False),
    'setup_graphic_hook_functions_V2': (_c.c_int16, [_c.POINTER(GraphicHooksV2)], False),
    'get_all_hook_functions': (_c.POINTER(GraphicHooks), [], False),
    'get_all_hook_functions_V2': (_c.POINTER(GraphicHooksV2), [], False),
    'set_write_image_hook': (_c.c_int, [lumavex_write_image_hook, _c.c_int], False),
    'alert_printf': (None, [_c.c_char_p], True),
    'lumavex_request_image': (_c.c_int16, [_c.c_int16, _c.c_int16, _c.c_int16], False),
    'lumavex_abort_image': (None, [], False),
    'lumavex_get_palette': (_c.c_int16, [_c.POINTER(PaletteInfo)], False),
    'lumavex_get_line': (_c.c_int16, [_c.POINTER(_c.c_uint8)], False),
    'lumavex_image_status': (_c.c_int, [], False),
    'lumavex_image_data': (_c.c_int16, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16)], False),
    'image_display_kernal_init': (_c.c_int16, [_c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16], False),
    'image_display_kernal_iterate': (_c.c_int16, [_c.c_int16], False),
    'image_display_kernal_pause': (_c.c_int16, [_c.c_int16], False),
    'get_image_xhair_data': (_c.c_int, [_c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16), _c.POINTER(_c.c_int16)], False),
    'get_corneal_threshold': (_c.c_int, [], False),
    'get_last_corneal_threshold': (_c.c_int, [], False),
    'set_last_corneal_threshold': (None, [_c.c_int], False),
    'do_tracker_setup': (_c.c_int16, [], False),
    'do_drift_correctf': (_c.c_int16, [_c.c_float, _c.c_float, _c.c_int16, _c.c_int16], False),
    'do_drift_correct': (_c.c_int16, [_c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16], False),
    'target_mode_display': (_c.c_int16, [], False),
    'image_mode_display': (_c.c_int16, [], False),
    'exit_calibration': (None, [], False),
    'lumavex_draw_cross_hair': (_c.c_int, [_c.POINTER(CrosshairCanvas)], False),
    'open_data_file': (_c.c_int16, [_c.c_char_p], False),
    'close_data_file': (_c.c_int16, [], False),
    'lumavex_set_options': (_c.c_int16, [_c.c_char_p], False),
    'start_recording': (_c.c_int16, [_c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16], False),
    'check_recording': (_c.c_int16, [], False),
    'check_record_exit': (_c.c_int16, [], False),
    'stop_recording': (_c.c_int16, [], False),
    'splice_fname': (None, [_c.c_char_p, _c.c_char_p, _c.POINTER(_c.c_char)], False),
    'check_filename_characters': (_c.c_int16, [_c.c_char_p], False),
    'file_exists': (_c.c_int16, [_c.c_char_p], False),
    'create_path': (_c.c_int16, [_c.POINTER(_c.c_char), _c.c_int16, _c.c_int16], False),
    'begin_realtime_mode': (None, [_c.c_uint32], False),
    'end_realtime_mode': (None, [], False),
    'set_high_priority': (_c.c_int32, [], False),
    'set_normal_priority': (_c.c_int32, [], False),
    'set_application_priority': (_c.c_int32, [_c.c_int32], False),
    'in_realtime_mode': (_c.c_int32, [], False),
    'lumavex_in_realtime_mode': (_c.c_int32, [], False),
    'lumavex_enable_extended_realtime': (None, [], False),
    'lumavex_check_mmcss': (_c.c_int32, [], False),
    'open_message_file': (_c.c_int16, [_c.c_char_p], False),
    'close_message_file': (None, [], False),
    'timemsg_printf': (_c.c_int16, [_c.c_uint32, _c.c_char_p], True),
    'current_time': (_c.c_uint32, [], False),
    'current_usec': (_c.c_uint64, [], False),
    'current_double_usec': (_c.c_double, [], False),
    'current_micro': (_c.c_uint32, [_c.POINTER(MICRO_TIME)], False),
    'msec_delay': (None, [_c.c_int32], False),
    'get_zero_time': (_c.c_uint64, [], False),
    'lumavex_set_clock_base': (None, [_c.c_int32], False),
    'lumavex_get_clock_base': (_c.c_int32, [], False),
    'lumavex_reset_clock': (_c.c_int16, [_c.c_int16], False),
    'lumavex_tracker_double_usec': (_c.c_double, [], False),
    'lumavex_tracker_msec': (_c.c_uint32, [], False),
    'lumavex_double_usec_offset': (_c.c_double, [], False),
    'lumavex_double_msec_offset': (_c.c_double, [], False),
    'lumavex_msec_offset': (_c.c_uint32, [], False),
    'lumavex_set_log': (_c.c_int16, [_c.c_char_p], False),
    'add_to_lumavex_log': (None, [_c.c_char_p], True),
    'receive_data_file': (_c.c_int32, [_c.c_char_p, _c.c_char_p, _c.c_int16], False),
    'receive_data_file_feedback': (_c.c_int32, [_c.c_char_p, _c.c_char_p, _c.c_int16, download_progress32_fn], False),
    'receive_data_file_feedback64': (_c.c_int32, [_c.c_char_p, _c.c_char_p, _c.c_int32, download_progress_fn], False),
    'send_data_file': (_c.c_int32, [_c.c_char_p, _c.c_char_p, _c.c_int16], False),
    'send_data_file_feedback': (_c.c_int32, [_c.c_char_p, _c.c_char_p, _c.c_int16, upload_progress_fn], False),
    'send_data_file_mem': (_c.c_int32, [_c.c_void_p, _c.c_char_p, _c.c_uint32, upload_progress_fn], False),
    'lumavex_request_file_read': (_c.c_int16, [_c.c_char_p], False),
    'lumavex_get_file_block': (_c.c_int16, [_c.c_void_p, _c.POINTER(_c.c_int32)], False),
    'lumavex_request_file_block': (_c.c_int16, [_c.c_int32], False),
    'lumavex_end_file_transfer': (_c.c_int16, [], False),
    'lv_bitmap_save_and_backdrop': (_c.c_int, [_c.POINTER(bitmap_record), _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_char_p, _c.c_char_p, _c.c_uint16, _c.c_int16, _c.c_int16, _c.c_uint16], False),
    'lv_bitmap_to_backdrop': (_c.c_int, [_c.POINTER(bitmap_record), _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_uint16], False),
    'lv_bitmap_save': (_c.c_int, [_c.POINTER(bitmap_record), _c.c_int16, _c.c_int16, _c.c_int16, _c.c_int16, _c.c_char_p, _c.c_char_p, _c.c_uint16], False),
    'lv_set_backdrop': (_c.c_int16, [_c.c_char_p], False),
}
