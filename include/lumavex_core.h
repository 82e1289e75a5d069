/**
 * @file lumavex_core.h
 * @brief lumavex_core: client library for driving a Lumavex eye tracker over its link.
 *
 * This is the one header an application includes. Every function here is exported from
 * liblumavex_core.so with C linkage; nothing else is. Results are 16-bit signed status codes
 * unless a comment says otherwise: 0 for success, negative for failure, and a few documented
 * positive values such as NO_REPLY. No function throws and no call blocks forever.
 *
 * Ownership: the library never keeps a pointer the application passes in after the call
 * returns (text, buffers and tables are copied), except the callbacks it is given; pointers it
 * returns point to its own records, which stay valid for the life of the process and must not
 * be freed. Times are in milliseconds unless a name or comment says otherwise.
 */
#ifndef LUMAVEX_CORE_H
#define LUMAVEX_CORE_H

#include <stdint.h>

/** Marks the exported functions. The library's own build defines LVX_BUILDING_LIBRARY (export);
 *  a program that links the static library defines LVX_STATIC (nothing to import); everything
 *  else imports from the shared library. */
#if defined(LVX_STATIC)
#define LVX_API
#elif defined(_WIN32)
#if defined(LVX_BUILDING_LIBRARY)
#define LVX_API __declspec(dllexport)
#else
#define LVX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && defined(LVX_BUILDING_LIBRARY)
#define LVX_API __attribute__((visibility("default")))
#else
#define LVX_API
#endif

/** No exported function throws: C++ callers see them as noexcept. */
#ifdef __cplusplus
#define LVX_NOEXCEPT noexcept
#else
#define LVX_NOEXCEPT
#endif

/** Lets the compiler check the arguments of the printf-like functions against their format. */
#if defined(__GNUC__)
#define LVX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LVX_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ==== The families of the interface ======================================================== */

/**
 * @defgroup lvx_connection Connection
 * @brief Opening the link to the tracker, addresses, polling, node messages, the log.
 *
 * A program opens the link system and connects with open_lumavex_connection(): to the tracker
 * at the default address 10.77.1.1, or to the one set_lumavex_address() named first. A tracker
 * on other ports (the simulated tracker) is named with the options of open_lumavex_system():
 * "eyeport", "tcpport", "fileport". Every failure to connect returns -1 after an alert naming
 * its cause (no free local port, no answer within 2 s, the tracker busy with another display,
 * another link protocol); lumavex_open() gives the distinct code. lumavex_is_connected() tells
 * whether the link is up (1), in dummy mode (-1), listening (2) or connected through a relay.
 * close_lumavex_connection() puts the tracker into idle mode, closes its data file and
 * disconnects. After a tracker restart the link is down: close, then connect again.
 *
 * @code
 * #include <lumavex_core.h>
 * #include <stdio.h>
 *
 * int main(void) {
 *   set_lumavex_address("10.77.1.1");
 *   if (open_lumavex_connection(LUMAVEX_OPEN_CONNECT) != 0) return 1;  // the alert said why
 *   char version[40];
 *   int generation = lumavex_get_tracker_version(version);
 *   printf("tracker: %s (generation %d)\n", version, generation);
 *   close_lumavex_connection();
 *   return 0;
 * }
 * @endcode
 */

/**
 * @defgroup lvx_time Time
 * @brief The local clock and the estimate of the tracker's clock.
 *
 * Every sample, event and message carries the tracker's time in milliseconds. The local clock is
 * current_time() (ms) and current_double_usec() (µs); lumavex_double_msec_offset() is the
 * estimated tracker time minus local time, kept up to date from the time stamp in every packet
 * the tracker sends. Adding it to a local time places that moment on the tracker's time line.
 * With lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL) the local clock reads the machine's
 * monotonic clock from its own origin (CLOCK_MONOTONIC), so that other programs' time stamps
 * can be compared with it.
 *
 * @code
 * flip_the_display();                           // the application's own
 * double shown_ms = current_double_usec() / 1000.0;
 * double on_tracker_ms = shown_ms + lumavex_double_msec_offset();
 * // ... later: the message's stamp moved back to the moment of the flip
 * eyemsg_printf_ex((int32_t)(shown_ms - current_double_usec() / 1000.0), "STIMULUS_ON");
 * @endcode
 */

/**
 * @defgroup lvx_commands Commands and messages
 * @brief Commands that configure the tracker, messages that mark its recording file, the
 *        local message file.
 *
 * A command is text the tracker carries out; lumavex_timed_command() waits for its result (0 for
 * done, a negative code with a text from lumavex_get_error()). eyecmd_printf() formats and waits
 * too. A message goes into the tracker's recording file with the tracker's time: eyemsg_printf(),
 * or eyemsg_printf_ex() with an offset for an event that happened before the call. Long
 * messages are sent in pieces. timemsg_printf() writes to a local message file of the
 * application's own (open_message_file()).
 *
 * @code
 * if (lumavex_timed_command(1000, "screen_pixel_coords = 0 0 1023 767") != OK_RESULT)
 *   printf("refused: %s\n", lumavex_get_error(lumavex_command_result(), "command"));
 * eyecmd_printf("calibration_type = HV%d", 9);
 * eyemsg_printf("TRIALID %d", trial);
 * eyemsg_printf_ex(-20, "DISPLAY ON");   // the display changed 20 ms before this call
 * @endcode
 */

/**
 * @defgroup lvx_modes Tracker modes
 * @brief The tracker's mode (idle, setup, recording, playback) and the requests that change it.
 *
 * lumavex_current_mode() returns the mode as IN_*_MODE bits; lumavex_abort() returns the tracker
 * to idle; lumavex_data_start() and lumavex_data_stop() start and stop recording at the level
 * below start_recording(); lumavex_eye_available() says which eyes are recorded. Reads of the
 * tracker's variables go through lumavex_read_request() and lumavex_read_reply().
 *
 * @code
 * lumavex_abort();   // idle first
 * if (lumavex_data_start(LUMAVEX_RECORD_ALL, 0) == 0 &&
 *     lumavex_wait_for_block_start(1000, 1, 1) == 1)
 *   printf("recording, eye %d\n", lumavex_eye_available());
 * char reply[200];
 * lumavex_read_request("screen_distance");
 * for (int i = 0; i < 100 && lumavex_read_reply(reply) != OK_RESULT; ++i) msec_delay(10);
 * @endcode
 */

/**
 * @defgroup lvx_data Data
 * @brief Samples and events from the link: the records, the queue, the newest sample.
 *
 * While the tracker records with link data, samples and events wait in the library's queue until
 * the program reads them: lumavex_wait_for_next_data() takes many at once into float_data slots,
 * each with its record type in head.type (EV_SAMPLE, STARTFIX, ENDSACC, EV_MESSAGE, ...). A
 * record of type EV_LOST_DATA stands where data was lost (a full queue, or packets the network
 * dropped), with the time and the kinds lost; nothing is lost silently.
 * lumavex_newest_float_sample() looks at the newest sample without touching the queue, for
 * displays that follow the eye. A callback (lumavex_set_data_ready_notify()) can be told of each
 * item as it arrives.
 *
 * @code
 * float_data slots[100];
 * int n = lumavex_wait_for_next_data(slots, 100, 5);
 * for (int i = 0; i < n; ++i) {
 *   if (slots[i].head.type == EV_SAMPLE && slots[i].fs.gaze_x[0] != MISSING_VALUE)
 *     draw_cursor(slots[i].fs.gaze_x[0], slots[i].fs.gaze_y[0]);
 *   else if (slots[i].head.type == EV_LOST_DATA)
 *     note_gap(slots[i].head.time);
 * }
 * @endcode
 */

/**
 * @defgroup lvx_gaze Gaze arithmetic
 * @brief Velocity and acceleration from the newest samples, href and gaze mapping, raw values.
 *
 * lumavex_calculate_velocity() gives each eye's velocity in degrees per second from a window of
 * the newest samples (5, 9 or 17 samples, or groups by the sample rate); the history is the
 * receive thread's own, so the result does not depend on how the program reads the queue.
 * lumavex_href_to_gaze() converts head-referenced positions to display coordinates through the
 * corner points a tracker set up for it sends in each sample (lumavex_initialize_mapping() once
 * first). The extra raw camera values of a tracker that sends them come from
 * lumavex_get_extra_raw_values_v2().
 *
 * @code
 * float vel[2];
 * lumavex_calculate_velocity(LUMAVEX_FILTER_9, vel, NULL);
 * if (vel[0] != MISSING_VALUE && vel[0] > 30.0f) start_the_saccade_contingent_change();
 *
 * lumavex_initialize_mapping(0, 0, 1023, 767);
 * float_sample s;
 * if (lumavex_newest_float_sample2(&s) == 1) {
 *   float x = s.href_x[0], y = s.href_y[0];
 *   if (lumavex_href_to_gaze(&x, &y, (const compact_float_sample *)&s) == 0) use(x, y);
 * }
 * @endcode
 */

/**
 * @defgroup lvx_setup Setup and calibration
 * @brief Camera setup, calibration, validation and drift correction through the hooks; the
 *        camera image and its crosshairs.
 *
 * do_tracker_setup() runs the tracker's setup mode on the display computer: the camera image,
 * calibration and validation, driven by the operator's keys (Enter shows the camera image, 'c'
 * calibrates, 'v' validates, Escape leaves). do_drift_correctf() shows one target and measures
 * the drift. Everything is drawn through the graphic hooks (see @ref lvx_hooks); the live window
 * lumavex_live and the reference display of the source tree are two such drawings.
 * lumavex_cal_message() gives the result text of the last calibration, validation or drift
 * correction.
 *
 * @code
 * setup_graphic_hook_functions_V2(&my_window_hooks);   // the application's drawing
 * if (do_tracker_setup() != 0) return;                  // calibrated and validated
 * char text[100];
 * for (;;) {   // before each trial
 *   int16_t r = do_drift_correctf(512.0f, 384.0f, 1, 1);
 *   if (r == 0) break;               // accepted
 *   if (r == TERMINATE_KEY) return;  // the operator ended the session
 * }
 * lumavex_cal_message(text);         // "DRIFTCORRECT LR LEFT OFFSET 0.40 deg. ..."
 * @endcode
 */

/**
 * @defgroup lvx_recording Recording
 * @brief The recording file, trials, checking a trial, real-time mode.
 *
 * open_data_file() opens the recording file on the tracker; start_recording() starts a trial
 * with the data chosen for the file and the link and returns once it runs. During the trial,
 * check_recording() says whether recording goes on: 0 while it does, RECORDING_FAILED when
 * the tracker stopped on its own, RECORDING_ABORTED when the link is lost or the operator
 * aborted, or the operator's choice from the tracker's abort menu. stop_recording() ends the
 * trial; close_data_file() closes the file before it is copied back (see @ref lvx_files).
 * begin_realtime_mode() raises the program's priority for the time-critical part of a trial.
 *
 * @code
 * open_data_file("sub01.qrd");
 * for (int trial = 1; trial <= trials; ++trial) {
 *   if (start_recording(1, 1, 1, 1) != 0) break;
 *   begin_realtime_mode(100);
 *   eyemsg_printf("TRIALID %d", trial);
 *   int16_t r = 0;
 *   while (r == 0 && !trial_done()) r = check_recording();
 *   end_realtime_mode();
 *   stop_recording();
 *   eyemsg_printf("TRIAL_RESULT %d", r);
 *   if (r == RECORDING_ABORTED) break;   // the link is gone or the operator stopped
 * }
 * close_data_file();
 * @endcode
 */

/**
 * @defgroup lvx_files Files
 * @brief Copying the recording and its video files back, uploads, local file names.
 *
 * receive_data_file_feedback64() copies a recording from the tracker (and, from a tracker that
 * records video, its video files) over the tracker's file service, or over the link for older
 * trackers, with progress reports. It never leaves a partial file under the final name: a
 * negative result means the copy is incomplete. send_data_file_feedback() copies a file to the
 * tracker.
 *
 * @code
 * close_data_file();
 * int32_t bytes = receive_data_file_feedback64("sub01", "results", RECEIVE_FILE_TO_DIR, NULL);
 * if (bytes < 0) fprintf(stderr, "the recording did not arrive whole (%d)\n", (int)bytes);
 * @endcode
 */

/**
 * @defgroup lvx_backdrop Backdrop
 * @brief The picture behind the gaze cursor on the tracker's operator screen.
 *
 * lv_bitmap_to_backdrop() sends an image of the application's (any size and depth; the library
 * scales, dithers and packs it for the tracker) as the backdrop of the operator's screen, over
 * the link or through the file service. lv_bitmap_save_and_backdrop() also saves it through the
 * write-image hook; lv_set_backdrop() shows a file the tracker already holds.
 *
 * @code
 * bitmap_record image = {1024, 768, 0, 32, pixels, NULL};   // 32-bit pixels: blue, green, red
 * if (lv_bitmap_to_backdrop(&image, 0, 0, 0, 0, 0, 0, 0) != 0) puts("no backdrop");
 * @endcode
 */

/**
 * @defgroup lvx_relay Relay
 * @brief Several programs on one link: a master and up to ten slaves on the same computer.
 *
 * The experiment program opens the link as the master with open_lumavex_connection(3); other
 * programs on the same computer, started in the same working folder, open it with
 * open_lumavex_connection(2) as slaves (an online gaze monitor, a logger). They meet through the
 * Unix socket "./server.sock" in that folder, which only its owner can use. Every slave sees the
 * samples, events and replies the master sees; a slave's messages reach the recording file
 * through the master, and its read requests are answered to it alone. Slaves cannot send
 * commands. At most ten slaves attach at once.
 *
 * @code
 * // the monitor, started beside the experiment in the same folder
 * if (open_lumavex_connection(2) != 0) return 1;   // no master here
 * float_sample s;
 * while (lumavex_is_connected())
 *   if (lumavex_wait_for_new_float_sample2(&s, 20) == 1) show(s.gaze_x[0], s.gaze_y[0]);
 * close_lumavex_connection();
 * @endcode
 */

/**
 * @defgroup lvx_hooks Hooks and input
 * @brief The application's drawing, sound, keyboard and alerts: the graphic hook tables and the
 *        key and input-event queues.
 *
 * The library never draws, plays sounds or reads the keyboard itself. The application installs a
 * table of hooks (setup_graphic_hook_functions_V2() with a GraphicHooksV2, or the older
 * GraphicHooks) and every camera, calibration and drift-correction screen, every input poll and
 * every alert goes through it. Alerts without a hook go to standard error as
 * "Lumavex Error: text". Keys reach the library through the input hook and the key queue
 * (getkey(), escape_pressed()).
 *
 * @code
 * static void show_alert(void *user, const char *text) { my_status_line(user, text); }
 * static void draw_target(void *user, float x, float y) { my_draw_disc(user, x, y); }
 *
 * GraphicHooksV2 hooks = {0};
 * hooks.major_version = 1;
 * hooks.user_data = my_window;
 * hooks.alert_hook = show_alert;
 * hooks.draw_target_hook = draw_target;
 * setup_graphic_hook_functions_V2(&hooks);
 * @endcode
 */
/* ---- Versions ------------------------------------------------------------------------------ */
/** @addtogroup lvx_connection
 *  @{ */

/** Version of this header, as major * 10000 + minor * 100 + patch. */
#define LUMAVEX_HEADER_VERSION 200 /* 0.2.0 */
/** Library version text that lumavex_dll_version() reports. */
#define LUMAVEX_LIBRARY_VERSION_TEXT "2,2,596,0"
/** Link protocol version spoken in connect packets: major part. */
#define LUMAVEX_LINK_PROTOCOL_MAJOR 3
/** Link protocol version spoken in connect packets: minor part. */
#define LUMAVEX_LINK_PROTOCOL_MINOR 2

/** @} */

/* ---- Result codes -------------------------------------------------------------------------- */
/** @addtogroup lvx_connection
 *  @{ */

/** Success. */
#define OK_RESULT 0
/** No result has arrived yet, or a wait for one ran out. */
#define NO_REPLY 1000
/** Not connected, a send failed, or a packet was too large for the link. */
#define LINK_TERMINATED_RESULT (-100)
/** The link system is not open. */
#define LINK_NOT_OPEN_RESULT (-200)
/** No connect reply within the time-out (2 s). */
#define CONNECT_TIMEOUT_RESULT (-201)
/** The tracker answered with another link protocol version. */
#define CONNECT_VERSION_MISMATCH_RESULT (-202)
/** The tracker refused the connection because it is busy. */
#define CONNECT_BUSY_RESULT (-203)

/** @} */

/* ---- Addresses ----------------------------------------------------------------------------- */
/** @addtogroup lvx_connection
 *  @{ */

/** A node on the link: IPv4 address and UDP port, both in network byte order, then zeros.
 *  Two addresses are the same node when their first six bytes are equal. 255.255.255.255 is
 *  broadcast. */
typedef struct {
  uint8_t addr[4];    /**< IPv4 address, most significant byte first */
  uint8_t port[2];    /**< UDP port, most significant byte first */
  uint8_t unused[10]; /**< zeros */
} LVXADDR;

/** A node address with its NUL-terminated name. */
typedef struct {
  LVXADDR addr;  /**< where the node is */
  char name[40]; /**< its node name, NUL-terminated */
} LVXNODE;

/** The display computer's own UDP port; when it is taken the library tries the next ones, up to
 *  4010. */
#define LUMAVEX_REMOTE_PORT 4000
/** The tracker's UDP link port. */
#define LUMAVEX_TRACKER_PORT 589
/** The tracker's TCP link port, used after set_lumavex_tcp_only. */
#define LUMAVEX_TRACKER_TCP_PORT 3875

/** @} */

/* ---- Time ---------------------------------------------------------------------------------- */
/** @addtogroup lvx_time
 *  @{ */

/** A local time split into whole milliseconds and the microseconds within them (0..999). */
typedef struct {
  uint32_t msec; /**< whole milliseconds */
  uint16_t usec; /**< microseconds within the millisecond, 0..999 */
} MICRO_TIME;

/** Clock base for lumavex_set_clock_base: count from the library's start (the default). */
#define QX_CLOCK_BASE_LIBRARY 0
/** Clock base for lumavex_set_clock_base: count from the monotonic clock's own origin, so that
 *  every process on the machine reads the same time. Base 0 counts from clock initialisation. */
#define QX_CLOCK_BASE_MACHINE_LOCAL 1

/** @} */

/* ---- Link packet types (byte 0 of every packet header) --------------------------------------- */
/** @addtogroup lvx_connection
 *  @{ */

#define COMMAND_PKT 1    /**< a command or request to the tracker */
#define KEY_PKT 2        /**< keys and buttons, both ways */
#define STATUS_PKT 3     /**< results, replies and status from the tracker */
#define DATA_PKT 4       /**< samples and events from the tracker */
#define MESSAGE_PKT 5    /**< a message for the tracker's recording file */
#define IMAGE_PKT 6      /**< camera images from, and backdrop bitmaps to, the tracker */
#define FILE_PKT 7       /**< file transfer */
#define CONNECT_PKT 0x63 /**< connects, disconnects and polls */
#define NODE_PKT 0xFF    /**< a node message between programs on the link */

/** Largest payload of one node message, in bytes. */
#define LUMAVEX_MAX_NODE_MESSAGE 420

/** @} */

/* ---- Data stream records -------------------------------------------------------------------- */
/** @addtogroup lvx_data
 *  @{ */

/** A value the tracker did not send: -32768 in integer fields, -32768.0 in float fields. */
#define MISSING_VALUE (-32768)

/** Sample flags (the flags field of a sample). */
#define SF_LEFT 0x8000        /**< left-eye values present */
#define SF_RIGHT 0x4000       /**< right-eye values present */
#define SF_FULL_TIME 0x2000   /**< 32-bit time on the wire */
#define SF_PUPIL_XY 0x1000    /**< pupil x/y present */
#define SF_HREF_XY 0x0800     /**< head-referenced x/y present */
#define SF_GAZE_XY 0x0400     /**< gaze x/y present */
#define SF_RESOLUTION 0x0200  /**< resolution present */
#define SF_PUPIL_SIZE 0x0100  /**< pupil sizes present */
#define SF_STATUS 0x0080      /**< status word present */
#define SF_INPUT 0x0040       /**< input word present */
#define SF_BUTTONS 0x0020     /**< buttons word present */
#define SF_AUX 0x0010         /**< aux type and words present */
#define SF_BLOCKS 0x0008      /**< extension blocks present */
#define SF_SKIP_CHUNKS 0x0004 /**< skipped chunks present */
#define SF_HALF_MS 0x0002 /**< same full time as the sample before: the time is really +0.5 ms */
#define SF_SAMPLE 0x0001  /**< always set in a sample */

/** Event read flags (the read field of a parsed event): which of its values were sent. */
#define RF_START 0x0001      /**< start time */
#define RF_END 0x0002        /**< end values */
#define RF_AVG 0x0004        /**< averages */
#define RF_START_POS 0x0008  /**< start position */
#define RF_END_POS 0x0010    /**< end position */
#define RF_AVG_POS 0x0020    /**< average position */
#define RF_END_TIME 0x0040   /**< end time */
#define RF_PUPIL_SIZE 0x0080 /**< pupil sizes */
#define RF_VELOCITY 0x0100   /**< velocities */
#define RF_RESOLUTION 0x0200 /**< resolutions */
#define RF_PUPIL_XY 0x0400   /**< position slots hold unscaled pupil coordinates */
#define RF_HREF_XY 0x0800    /**< head-referenced positions */
#define RF_GAZE_XY 0x1000    /**< position slots hold gaze */
#define RF_STATUS 0x2000     /**< status word */
#define RF_EXTENDED 0x4000   /**< the extended values (ext_ fields) */

/** Record types. 1..10 are parsed events: 1 start blink, 2 end blink, 3 start saccade, 4 end
 *  saccade, 5 start fixation, 6 end fixation, 7 fixation update, 8..10 further parsed events. */
#define STARTBLINK 1             /**< a blink began (float_event) */
#define ENDBLINK 2               /**< a blink ended (float_event) */
#define STARTSACC 3              /**< a saccade began (float_event) */
#define ENDSACC 4                /**< a saccade ended (float_event) */
#define STARTFIX 5               /**< a fixation began (float_event) */
#define ENDFIX 6                 /**< a fixation ended (float_event) */
#define FIXUPDATE 7              /**< a fixation goes on: its values so far (float_event) */
#define EV_SAMPLE_BLOCK_START 15 /**< block marker: samples start (recording began) */
#define EV_SAMPLE_BLOCK_END 16   /**< block marker: samples end (recording ended) */
#define EV_EVENT_BLOCK_START 17  /**< block marker: events start */
#define EV_EVENT_BLOCK_END 18    /**< block marker: events end */
#define EV_MESSAGE 24            /**< a message from the recording (message_event) */
#define EV_BUTTONS 25            /**< buttons changed (io_event: the buttons word) */
#define EV_INPUT 28              /**< the input port changed (io_event: the input word) */
/** Data was lost before the next record (io_event, data 0): packets missing on the link, or
 *  items the full data queue discarded (see link_state::gap_types). */
#define EV_LOST_DATA 63
#define EV_SAMPLE 200 /**< a sample (float_sample) */

/** A sample in float form (type EV_SAMPLE, 228 bytes). Per-eye arrays are indexed by
 *  LUMAVEX_EYE_LEFT (0) and LUMAVEX_EYE_RIGHT (1); flags says which eyes and values the tracker
 *  sent, and a value it did not send is MISSING_VALUE (-32768.0). */
typedef struct {
  uint32_t time;         /**< tracker time, ms (see SF_HALF_MS) */
  int16_t type;          /**< EV_SAMPLE */
  uint16_t flags;        /**< SF_ flags: the eyes and the values present */
  float pupil_x[2];      /**< pupil position x in camera units, as the tracker sent it */
  float pupil_y[2];      /**< pupil position y in camera units */
  float href_x[2];       /**< head-referenced position x, as the tracker sent it */
  float href_y[2];       /**< head-referenced position y */
  float pupil_size[2];   /**< pupil size (area or diameter, as the tracker is set up) */
  float gaze_x[2];       /**< gaze position x on the display, in the tracker's screen pixels */
  float gaze_y[2];       /**< gaze position y on the display, in the tracker's screen pixels */
  float res_x;           /**< angular resolution x at the gaze position: pixels per degree */
  float res_y;           /**< angular resolution y at the gaze position: pixels per degree */
  uint16_t status;       /**< the tracker's status word of the sample; 0x8000 when absent */
  uint16_t input;        /**< input port word; 0x8000 when absent */
  uint16_t buttons;      /**< button states (bit n-1 for button n); 0 when absent */
  uint16_t aux_type;     /**< aux byte: its low 4 bits count the aux_data words */
  uint16_t aux_data[8];  /**< auxiliary words */
  float extra_a[2][3];   /**< extension-block values 7..9 (left) and 10..12 (right) */
  uint32_t extra_word;   /**< the word of a type-2 extension block */
  float extra_b[2][3];   /**< a type-2 block's second set of values: 1..3 (left), 4..6 (right) */
  float extra_c[2];      /**< extension-block values 3 (left) and 6 (right) */
  float extra_d[2][2];   /**< extension-block values 1, 2 (left) and 4, 5 (right) */
  float extra3_lead[2];  /**< a type-3 extension block's two leading values */
  float extra3_point[2]; /**< a type-3 extension block's chosen point (x, y) */
  float extra3_points[5][2]; /**< a type-3 extension block's five points (x, y) */
} float_sample;

/** A parsed event in float form (types 1..10: blinks, saccades, fixations). Positions are in the
 *  tracker's screen pixels (gaze) unless read has RF_PUPIL_XY; velocities in degrees per second;
 *  a value the tracker did not send is MISSING_VALUE (-32768.0). */
typedef struct {
  uint32_t time;           /**< record time, ms: the end time for end events, else the start time */
  int16_t type;            /**< STARTBLINK .. FIXUPDATE */
  uint16_t read;           /**< RF_ flags: the values the tracker sent */
  int16_t eye;             /**< LUMAVEX_EYE_LEFT, LUMAVEX_EYE_RIGHT, or -1 for neither */
  uint32_t start_time;     /**< tracker time the event began, ms */
  uint32_t end_time;       /**< tracker time the event ended, ms (end events) */
  float start_href_x;      /**< head-referenced position at the start, x */
  float start_href_y;      /**< head-referenced position at the start, y */
  float start_x;           /**< position at the start, x */
  float start_y;           /**< position at the start, y */
  float start_pupil_size;  /**< pupil size at the start */
  float end_href_x;        /**< head-referenced position at the end, x */
  float end_href_y;        /**< head-referenced position at the end, y */
  float end_x;             /**< position at the end, x */
  float end_y;             /**< position at the end, y */
  float end_pupil_size;    /**< pupil size at the end */
  float avg_href_x;        /**< average head-referenced position, x */
  float avg_href_y;        /**< average head-referenced position, y */
  float avg_x;             /**< average position, x */
  float avg_y;             /**< average position, y */
  float avg_pupil_size;    /**< average pupil size */
  float avg_velocity;      /**< average velocity, degrees per second */
  float peak_velocity;     /**< peak velocity, degrees per second */
  float start_velocity;    /**< velocity at the start, degrees per second */
  float end_velocity;      /**< velocity at the end, degrees per second */
  float start_res_x;       /**< angular resolution x at the start, pixels per degree */
  float end_res_x;         /**< angular resolution x at the end, pixels per degree */
  float start_res_y;       /**< angular resolution y at the start, pixels per degree */
  float end_res_y;         /**< angular resolution y at the end, pixels per degree */
  uint16_t status;         /**< the tracker's status word; 0x8000 when absent */
  float ext_pairs_a[3][2]; /**< extended values (RF_EXTENDED): first set of three pairs */
  float ext_pairs_b[3][2]; /**< extended values: second set of three pairs */
  float ext_triplets_a[3][3]; /**< extended values: first set of three triplets */
  float ext_triplets_b[3][3]; /**< extended values: second set of three triplets */
} float_event;

/** A message from the recording (type EV_MESSAGE). */
typedef struct {
  uint32_t time;   /**< tracker time the message was stamped with, ms */
  int16_t type;    /**< EV_MESSAGE */
  uint16_t length; /**< characters in text, at most 255 */
  char text[260];  /**< NUL-terminated */
} message_event;

/** A button, input or lost-data record (types EV_BUTTONS, EV_INPUT, EV_LOST_DATA and any other
 *  type without values). */
typedef struct {
  uint32_t time; /**< tracker time, ms; for EV_LOST_DATA the time of the record read before */
  int16_t type;  /**< the record type */
  uint16_t data; /**< the buttons or input word; 0 for EV_LOST_DATA */
} io_event;

/** The sample cut after aux_data (96 bytes): the form open_lumavex_system(20000, ...) selects.
 *  Fields as in float_sample. */
typedef struct {
  uint32_t time;        /**< tracker time, ms */
  int16_t type;         /**< EV_SAMPLE */
  uint16_t flags;       /**< SF_ flags */
  float pupil_x[2];     /**< pupil position x */
  float pupil_y[2];     /**< pupil position y */
  float href_x[2];      /**< head-referenced position x */
  float href_y[2];      /**< head-referenced position y */
  float pupil_size[2];  /**< pupil size */
  float gaze_x[2];      /**< gaze x, screen pixels */
  float gaze_y[2];      /**< gaze y, screen pixels */
  float res_x;          /**< resolution x, pixels per degree */
  float res_y;          /**< resolution y, pixels per degree */
  uint16_t status;      /**< status word */
  uint16_t input;       /**< input word */
  uint16_t buttons;     /**< button states */
  uint16_t aux_type;    /**< aux byte */
  uint16_t aux_data[8]; /**< auxiliary words */
} compact_float_sample;

/** The parsed event cut after status (116 bytes): the form open_lumavex_system(20000, ...)
 *  selects. Fields as in float_event. */
typedef struct {
  uint32_t time;          /**< record time, ms */
  int16_t type;           /**< STARTBLINK .. FIXUPDATE */
  uint16_t read;          /**< RF_ flags */
  int16_t eye;            /**< LUMAVEX_EYE_LEFT, LUMAVEX_EYE_RIGHT or -1 */
  uint32_t start_time;    /**< start, ms */
  uint32_t end_time;      /**< end, ms */
  float start_href_x;     /**< href at the start, x */
  float start_href_y;     /**< href at the start, y */
  float start_x;          /**< position at the start, x */
  float start_y;          /**< position at the start, y */
  float start_pupil_size; /**< pupil size at the start */
  float end_href_x;       /**< href at the end, x */
  float end_href_y;       /**< href at the end, y */
  float end_x;            /**< position at the end, x */
  float end_y;            /**< position at the end, y */
  float end_pupil_size;   /**< pupil size at the end */
  float avg_href_x;       /**< average href, x */
  float avg_href_y;       /**< average href, y */
  float avg_x;            /**< average position, x */
  float avg_y;            /**< average position, y */
  float avg_pupil_size;   /**< average pupil size */
  float avg_velocity;     /**< average velocity, degrees per second */
  float peak_velocity;    /**< peak velocity, degrees per second */
  float start_velocity;   /**< velocity at the start */
  float end_velocity;     /**< velocity at the end */
  float start_res_x;      /**< resolution x at the start */
  float end_res_x;        /**< resolution x at the end */
  float start_res_y;      /**< resolution y at the start */
  float end_res_y;        /**< resolution y at the end */
  uint16_t status;        /**< status word */
} compact_float_event;

/** One 268-byte slot: any float-form record. Batch readers fill arrays of these; head.type says
 *  which member to read. */
typedef union {
  /** The fields every record starts with. */
  struct {
    uint32_t time; /**< tracker time, ms */
    int16_t type;  /**< record type: EV_SAMPLE, STARTBLINK .. FIXUPDATE, EV_MESSAGE, ... */
  } head;
  float_sample fs;  /**< type EV_SAMPLE */
  float_event fe;   /**< types 1..10 */
  message_event im; /**< type EV_MESSAGE */
  io_event io;      /**< EV_BUTTONS, EV_INPUT, EV_LOST_DATA and the rest */
  uint8_t raw[268]; /**< the slot's bytes */
} float_data;

/** A sample in double form: as float_sample, with the time a double in ms (a sample with
 *  SF_HALF_MS gets +0.5). */
typedef struct {
  double time;               /**< tracker time, ms, with the half millisecond */
  int16_t type;              /**< EV_SAMPLE */
  uint16_t flags;            /**< SF_ flags */
  float pupil_x[2];          /**< pupil position x */
  float pupil_y[2];          /**< pupil position y */
  float href_x[2];           /**< head-referenced position x */
  float href_y[2];           /**< head-referenced position y */
  float pupil_size[2];       /**< pupil size */
  float gaze_x[2];           /**< gaze x, screen pixels */
  float gaze_y[2];           /**< gaze y, screen pixels */
  float res_x;               /**< resolution x, pixels per degree */
  float res_y;               /**< resolution y, pixels per degree */
  uint16_t status;           /**< status word */
  uint16_t input;            /**< input word */
  uint16_t buttons;          /**< button states */
  uint16_t aux_type;         /**< aux byte */
  uint16_t aux_data[8];      /**< auxiliary words */
  float extra_a[2][3];       /**< as float_sample::extra_a */
  uint32_t extra_word;       /**< as float_sample::extra_word */
  float extra_b[2][3];       /**< as float_sample::extra_b */
  float extra_c[2];          /**< as float_sample::extra_c */
  float extra_d[2][2];       /**< as float_sample::extra_d */
  float extra3_lead[2];      /**< as float_sample::extra3_lead */
  float extra3_point[2];     /**< as float_sample::extra3_point */
  float extra3_points[5][2]; /**< as float_sample::extra3_points */
} double_sample;

/** The double-form sample cut after aux_data: the compact form. */
typedef struct {
  double time;          /**< tracker time, ms, with the half millisecond */
  int16_t type;         /**< EV_SAMPLE */
  uint16_t flags;       /**< SF_ flags */
  float pupil_x[2];     /**< pupil position x */
  float pupil_y[2];     /**< pupil position y */
  float href_x[2];      /**< head-referenced position x */
  float href_y[2];      /**< head-referenced position y */
  float pupil_size[2];  /**< pupil size */
  float gaze_x[2];      /**< gaze x, screen pixels */
  float gaze_y[2];      /**< gaze y, screen pixels */
  float res_x;          /**< resolution x, pixels per degree */
  float res_y;          /**< resolution y, pixels per degree */
  uint16_t status;      /**< status word */
  uint16_t input;       /**< input word */
  uint16_t buttons;     /**< button states */
  uint16_t aux_type;    /**< aux byte */
  uint16_t aux_data[8]; /**< auxiliary words */
} compact_double_sample;

/** A parsed event in double form: as float_event, with its three times doubles in ms. */
typedef struct {
  double time;                /**< record time, ms */
  int16_t type;               /**< STARTBLINK .. FIXUPDATE */
  uint16_t read;              /**< RF_ flags */
  int16_t eye;                /**< LUMAVEX_EYE_LEFT, LUMAVEX_EYE_RIGHT or -1 */
  double start_time;          /**< start, ms */
  double end_time;            /**< end, ms */
  float start_href_x;         /**< href at the start, x */
  float start_href_y;         /**< href at the start, y */
  float start_x;              /**< position at the start, x */
  float start_y;              /**< position at the start, y */
  float start_pupil_size;     /**< pupil size at the start */
  float end_href_x;           /**< href at the end, x */
  float end_href_y;           /**< href at the end, y */
  float end_x;                /**< position at the end, x */
  float end_y;                /**< position at the end, y */
  float end_pupil_size;       /**< pupil size at the end */
  float avg_href_x;           /**< average href, x */
  float avg_href_y;           /**< average href, y */
  float avg_x;                /**< average position, x */
  float avg_y;                /**< average position, y */
  float avg_pupil_size;       /**< average pupil size */
  float avg_velocity;         /**< average velocity, degrees per second */
  float peak_velocity;        /**< peak velocity, degrees per second */
  float start_velocity;       /**< velocity at the start */
  float end_velocity;         /**< velocity at the end */
  float start_res_x;          /**< resolution x at the start */
  float end_res_x;            /**< resolution x at the end */
  float start_res_y;          /**< resolution y at the start */
  float end_res_y;            /**< resolution y at the end */
  uint16_t status;            /**< status word */
  float ext_pairs_a[3][2];    /**< as float_event::ext_pairs_a */
  float ext_pairs_b[3][2];    /**< as float_event::ext_pairs_b */
  float ext_triplets_a[3][3]; /**< as float_event::ext_triplets_a */
  float ext_triplets_b[3][3]; /**< as float_event::ext_triplets_b */
} double_event;

/** A message in double form. */
typedef struct {
  double time;     /**< tracker time the message was stamped with, ms */
  int16_t type;    /**< EV_MESSAGE */
  uint16_t length; /**< characters in text, at most 255 */
  char text[260];  /**< NUL-terminated */
} double_message_event;

/** A button, input or lost-data record in double form. */
typedef struct {
  double time;   /**< tracker time, ms */
  int16_t type;  /**< the record type */
  uint16_t data; /**< the buttons or input word; 0 for EV_LOST_DATA */
} double_io_event;

/** One 272-byte slot: any double-form record; head.type says which member to read. */
typedef union {
  /** The fields every record starts with. */
  struct {
    double time;  /**< tracker time, ms */
    int16_t type; /**< record type */
  } head;
  double_sample fs;        /**< type EV_SAMPLE */
  double_event fe;         /**< types 1..10 */
  double_message_event im; /**< type EV_MESSAGE */
  double_io_event io;      /**< EV_BUTTONS, EV_INPUT, EV_LOST_DATA and the rest */
  uint8_t raw[272];        /**< the slot's bytes */
} double_data;

/** A sample as lumavex_get_next_data copies it out: the tracker's integer values before scaling
 *  (gaze and resolution are in units of 1/position_prescaler). Per-eye arrays: index 0 left,
 *  1 right; absent values are -32768 (0x8000). */
typedef struct {
  uint32_t time;          /**< tracker time, ms */
  int16_t type;           /**< EV_SAMPLE */
  uint16_t flags;         /**< SF_ flags */
  int16_t pupil_x[2];     /**< pupil position x */
  int16_t pupil_y[2];     /**< pupil position y */
  int16_t href_x[2];      /**< head-referenced position x */
  int16_t href_y[2];      /**< head-referenced position y */
  uint16_t pupil_size[2]; /**< pupil size */
  int16_t gaze_x[2];      /**< gaze x, screen pixels x position_prescaler */
  int16_t gaze_y[2];      /**< gaze y, screen pixels x position_prescaler */
  uint16_t res_x;         /**< resolution x, pixels per degree x position_prescaler */
  uint16_t res_y;         /**< resolution y, pixels per degree x position_prescaler */
  uint16_t status;        /**< status word */
  uint16_t input;         /**< input word */
  uint16_t buttons;       /**< button states */
  uint16_t aux_type;      /**< aux byte */
  uint16_t aux_data[8];   /**< auxiliary words */
  float block[12];        /**< extension-block values 1..12 */
  uint32_t block_word;    /**< word of a type-2 block */
  float block2[6];        /**< type-2 block's second values 1..6 */
  float float_gaze_x[2];  /**< gaze x of a type-2 block, screen pixels */
  float float_gaze_y[2];  /**< gaze y of a type-2 block, screen pixels */
  float block3[14];       /**< type-3 block: two lead values, the point (x, y), five points (x1..x5,
                               y1..y5) */
} link_sample_item;

/** A parsed event as lumavex_get_next_data copies it out: the tracker's integer values before
 *  scaling (positions in units of 1/position_prescaler, velocities 1/velocity_prescaler). */
typedef struct {
  uint32_t time;             /**< record time, ms */
  int16_t type;              /**< STARTBLINK .. FIXUPDATE */
  uint16_t read;             /**< RF_ flags */
  int16_t eye;               /**< 0 left, 1 right, -1 neither */
  uint32_t start_time;       /**< start, ms */
  uint32_t end_time;         /**< end, ms */
  int16_t start_href_x;      /**< href at the start, x */
  int16_t start_href_y;      /**< href at the start, y */
  int16_t start_x;           /**< position at the start, x */
  int16_t start_y;           /**< position at the start, y */
  uint16_t start_pupil_size; /**< pupil size at the start */
  int16_t end_href_x;        /**< href at the end, x */
  int16_t end_href_y;        /**< href at the end, y */
  int16_t end_x;             /**< position at the end, x */
  int16_t end_y;             /**< position at the end, y */
  uint16_t end_pupil_size;   /**< pupil size at the end */
  int16_t avg_href_x;        /**< average href, x */
  int16_t avg_href_y;        /**< average href, y */
  int16_t avg_x;             /**< average position, x */
  int16_t avg_y;             /**< average position, y */
  uint16_t avg_pupil_size;   /**< average pupil size */
  int16_t avg_velocity;      /**< average velocity */
  int16_t peak_velocity;     /**< peak velocity */
  int16_t start_velocity;    /**< velocity at the start */
  int16_t end_velocity;      /**< velocity at the end */
  int16_t start_res_x;       /**< resolution x at the start */
  int16_t end_res_x;         /**< resolution x at the end */
  int16_t start_res_y;       /**< resolution y at the start */
  int16_t end_res_y;         /**< resolution y at the end */
  uint16_t status;           /**< status word */
  float extended[36];        /**< the extended values (RF_EXTENDED) as sent */
} link_event_item;

/** Any record as lumavex_get_next_data copies it out (link_state::last_size bytes of it). */
typedef union {
  /** The fields every record starts with. */
  struct {
    uint32_t time; /**< tracker time, ms */
    int16_t type;  /**< record type */
  } head;
  link_sample_item sample; /**< type EV_SAMPLE */
  link_event_item event;   /**< types 1..10 */
  message_event message;   /**< type EV_MESSAGE */
  io_event io;             /**< block markers, buttons, inputs and the rest */
  uint8_t raw[268];        /**< the record's bytes */
} link_data_item;

/** Bits of link_state::gap_types: the kinds of items the full data queue discarded. */
#define LUMAVEX_GAP_SAMPLES 0x8000 /**< samples */
#define LUMAVEX_GAP_EVENTS 0x4000  /**< events */
#define LUMAVEX_GAP_MARKERS 0x2000 /**< block start and end markers */

/** The link status that lumavex_data_status returns (740 bytes): the data stream's fields (what
 *  the last block markers said about the stream, the progress of the current block, the queue's
 *  fill, and what was lost), then the link's addresses, names and poll replies, then the header
 *  echo. */
typedef struct {
  uint32_t status_time;        /**< tracker time carried by the last block marker, ms */
  uint32_t record_version;     /**< always 2 */
  uint16_t sample_rate_x10;    /**< sample rate in tenths of Hz (10000: 1000 Hz) */
  uint16_t sample_block_word;  /**< the sample-block word of the last sample block start */
  uint16_t position_prescaler; /**< gaze and resolution divisor; 10 after a reset */
  uint16_t velocity_prescaler; /**< velocity divisor; 10 after a reset */
  uint16_t pupil_prescaler;    /**< pupil-size divisor; 1 after a reset */
  uint16_t rate_word; /**< the rate word of the last block start (1..10000; 1 after a reset) */
  uint16_t
      sample_data_flags; /**< SF_ flags the sample block announced (lumavex_sample_data_flags) */
  uint16_t event_data_flags; /**< RF_ flags the event block announced (lumavex_event_data_flags) */
  uint16_t
      event_type_flags;     /**< event kinds the event block announced, bit 15 left eye, 14 right */
  uint8_t in_sample_block;  /**< 1 between a sample block's start and end markers */
  uint8_t in_event_block;   /**< 1 between an event block's start and end markers */
  uint8_t left_eye_present; /**< 1 when the blocks carry the left eye */
  uint8_t right_eye_present; /**< 1 when the blocks carry the right eye */
  uint16_t gap_types;      /**< kinds of items discarded before the last read: LUMAVEX_GAP_SAMPLES,
                                LUMAVEX_GAP_EVENTS, LUMAVEX_GAP_MARKERS */
  uint16_t last_kind;      /**< kind of the last item read: 200 sample, 66 parsed event, 36 block
                                marker, 250 message, 8 other, 0 lost data */
  uint16_t last_size;      /**< bytes of last_item that hold the last item read */
  uint16_t control_read;   /**< 1 when the last block marker read could not be decoded */
  uint16_t first_in_block; /**< 1 when the last marker read opened a new block */
  uint32_t last_item_time; /**< time of the last event or message read, ms */
  uint16_t last_item_type; /**< record type of the last item read */
  uint16_t last_item_read; /**< read flags of the last parsed event, or the last message's length */
  link_data_item last_item;    /**< the last item read, before scaling */
  uint32_t block_number;       /**< blocks started since the last data reset */
  uint32_t block_sample_count; /**< samples read in the current block */
  uint32_t block_event_count;  /**< events read in the current block */
  uint16_t last_res_x;         /**< the last resolution x a sample carried (220 after a reset) */
  uint16_t last_res_y;         /**< the last resolution y a sample carried (220 after a reset) */
  uint16_t last_pupil_size[2]; /**< the last pupil sizes a sample carried, left and right */
  uint16_t last_status;        /**< the last status word a sample or event carried */
  uint16_t queued_samples;     /**< samples waiting in the queue (while sample delivery is on) */
  uint16_t queued_events;      /**< events and markers waiting (while event delivery is on) */
  uint32_t queue_size;         /**< the queue's capacity, bytes */
  uint32_t queue_free;         /**< the queue's free space, bytes */
  uint32_t last_receive_time;  /**< tracker time of the last data packet, ms */
  uint8_t samples_on;          /**< 1 while samples are delivered to the queue */
  uint8_t events_on;           /**< 1 while events are delivered to the queue */
  uint16_t packet_flags;       /**< flags of the last data packet: 0x8000 left eye, 0x4000 right */
  /* The link: the connected tracker, this node, the broadcast addresses and the last poll (the
     first 360 bytes above are the data stream's). */
  LVXADDR tracker_address;   /**< the tracker the link is connected to (zero before any) */
  char tracker_name[40];     /**< the tracker's node name from its connect reply */
  char own_name[40];         /**< this node's name, "Remote" until the host name replaces it */
  LVXADDR own_address;       /**< this node's first address and the port it receives on */
  LVXADDR tracker_broadcast; /**< where polls for trackers go: 255.255.255.255, tracker port */
  LVXADDR remote_broadcast;  /**< where polls for remotes go: 255.255.255.255, own port */
  int16_t poll_mode;         /**< 0 the last poll was for trackers, 1 for remotes */
  int16_t poll_count;        /**< replies held, at most 4 */
  LVXNODE poll_responses[4]; /**< the replies of the last poll, poll_count of them */
  /* The header echo of the tracker's last packet. */
  uint16_t header_word16;     /**< header word 16 of the tracker's last packet */
  uint16_t header_word14;     /**< header word 14 of the tracker's last packet */
  uint8_t header_byte18;      /**< header byte 18 of the tracker's last packet: its mode code (bit
                                   0x02 while it plays a recording back) */
  uint8_t header_byte19;      /**< header byte 19 of the tracker's last packet */
  uint16_t tracker_mode_word; /**< the tracker's mode word from the last block start; bit 15 set
                                   once a block marker carried it */
} link_state;

/** @} */

/* ==== Connection ============================================================================ */
/** @addtogroup lvx_connection
 *  @{ */

/** Modes of open_lumavex_connection. */
#define LUMAVEX_OPEN_CONNECT 0      /**< open the link system and connect to the tracker */
#define LUMAVEX_OPEN_DUMMY 1        /**< dummy mode: no tracker; commands succeed and do nothing */
#define LUMAVEX_OPEN_LINK_ONLY (-1) /**< open the link system without connecting */
#define LUMAVEX_OPEN_SLAVE 2        /**< join the relay master of the working folder as a slave */
#define LUMAVEX_OPEN_MASTER 3       /**< connect to the tracker and be the relay master */

/** Opens the link system and, by mode, connects: 0 connect to the tracker; positive (other than
 *  2 and 3) dummy mode with no tracker; negative open the link system only; 3 connect and become
 *  the relay master, whose socket "./server.sock" in the working folder lets other programs of
 *  this user share the link; 2 join that master as a slave, which sees the master's samples,
 *  events and replies and may send messages and read requests but no commands
 *  (lumavex_is_connected() is then -1). Returns 0 on success and -1 on every failure, after an
 *  alert that names the cause: no free local UDP port
 *  (EADDRINUSE) or another reason the transport could not start, no answer from the tracker
 *  within 2 s, the tracker busy with another display, a tracker speaking another link protocol,
 *  or the socket error of the connect request. A program that needs the distinct code calls
 *  open_lumavex_system(0, NULL) (0: the transport could not start) and then lumavex_open(),
 *  which returns CONNECT_TIMEOUT_RESULT, CONNECT_VERSION_MISMATCH_RESULT, CONNECT_BUSY_RESULT,
 *  LINK_NOT_OPEN_RESULT or a socket error number, and after a 0 lumavex_reset_data(1). */
LVX_API int16_t open_lumavex_connection(int16_t mode) LVX_NOEXCEPT;
/** Puts a connected tracker into idle mode, closes its data file, disconnects and closes the link
 *  system. */
LVX_API void close_lumavex_connection(void) LVX_NOEXCEPT;

/** Opens the link machinery with a data queue of bufsize bytes and an optional options text of
 *  key=value tokens: "eyeport" (the tracker's UDP port), "remport" (this node's),
 *  "tcpport" (the tracker's TCP link port), "fileport" (its file service), "hiprio", "loprio".
 *  Returns -1 on success, 0 on failure. Called again without options it only resets the link. */
LVX_API int16_t open_lumavex_system(uint16_t bufsize, const char *options) LVX_NOEXCEPT;
/** Disconnects and closes the link machinery. */
LVX_API void close_lumavex_system(void) LVX_NOEXCEPT;

/** Connects to the configured tracker node. Returns 0, -200, -201, -202, -203 or a socket error
 *  code. */
LVX_API int16_t lumavex_open(void) LVX_NOEXCEPT;
/** Connects to node; busytest > 0 sends a busy-test connect. Results as lumavex_open. */
LVX_API int16_t lumavex_open_node(const LVXADDR *node, int16_t busytest) LVX_NOEXCEPT;
/** Connects by broadcast to listen to a tracker that another program controls. */
LVX_API int16_t lumavex_broadcast_open(void) LVX_NOEXCEPT;
/** Enters dummy mode. Returns 0, or -1 when a connection is already open. */
LVX_API int16_t lumavex_dummy_open(void) LVX_NOEXCEPT;
/** Disconnects without waiting for the tracker's acknowledgement. Returns 0. */
LVX_API int16_t lumavex_close(int16_t send_msg) LVX_NOEXCEPT;

/** 0 not connected, 1 connected, 2 listening by broadcast, -1 in dummy mode; negative values
 *  other than in dummy mode mean a connection through the local relay. */
LVX_API int16_t lumavex_is_connected(void) LVX_NOEXCEPT;
/** The tracker mode word from the last tracker packet, or 0 when the system is not open. */
LVX_API uint16_t lumavex_tracker_mode(void) LVX_NOEXCEPT;
/** Returns the tracker generation (0 none yet, 1..4); copies the version text (at most 40 bytes)
 *  into text when not null. */
LVX_API int16_t lumavex_get_tracker_version(char *text) LVX_NOEXCEPT;

/** Sets the own node name (at most 39 characters; trailing blanks are cut). Null empties it. */
LVX_API void lumavex_set_name(const char *name) LVX_NOEXCEPT;
/** Sets the quiet level (0 sends all; nonzero suppresses commands; 2 or more also messages and
 *  requests) and returns the previous level. A negative level can no longer be changed. */
LVX_API int16_t lumavex_quiet_mode(int16_t level) LVX_NOEXCEPT;
/** Copies the library version text "2,2,596,0" into text when not null. */
LVX_API void lumavex_dll_version(char *text) LVX_NOEXCEPT;

/** @} */

/* ==== Addresses and transport =============================================================== */
/** @addtogroup lvx_connection
 *  @{ */

/** Parses dotted IPv4 text (each part decimal, 0x-hex or 0-octal, 0..255) into addr. The port is
 *  4000 when remote is nonzero, else 3875 in TCP-only mode and 589 otherwise. Returns 0 or -1. */
LVX_API int16_t text_to_lvxaddr(const char *text, LVXADDR *addr, int16_t remote) LVX_NOEXCEPT;
/** Makes the dotted address text the tracker node to connect to. Returns 0 or -1. */
LVX_API int16_t set_lumavex_address(const char *text) LVX_NOEXCEPT;
/** Copies node into the configured tracker node address when not null. Returns 0. */
LVX_API int16_t lumavex_set_tracker_node(const LVXADDR *node) LVX_NOEXCEPT;
/** Selects the TCP-only transport. Returns 0, or -1 once the network has been started in this
 *  process. The argument has no effect. */
LVX_API int16_t set_lumavex_tcp_only(int enable) LVX_NOEXCEPT;

/** @} */

/* ==== Polling and node messages ============================================================= */
/** @addtogroup lvx_connection
 *  @{ */

/** Broadcasts a poll for trackers; replies collect in the background. Returns 0, -1 when the
 *  send failed, -200 when the system is not open. */
LVX_API int16_t lumavex_poll_trackers(void) LVX_NOEXCEPT;
/** Broadcasts a poll for other display nodes. Results as lumavex_poll_trackers. */
LVX_API int16_t lumavex_poll_remotes(void) LVX_NOEXCEPT;
/** Number of poll replies held (at most 4), or 0 when the system is not open. */
LVX_API int16_t lumavex_poll_responses(void) LVX_NOEXCEPT;
/** resp 0: own node; -1: tracker broadcast; -2: remote broadcast; 1..count: poll reply. Returns
 *  0, or -1 for a number out of range. */
LVX_API int16_t lumavex_get_node(int16_t resp, LVXNODE *out) LVX_NOEXCEPT;
/** Sends size bytes (at most 420) to node as a node message. Returns 0, -1 for bad arguments, or
 *  the transport's error code. */
LVX_API int16_t lumavex_node_send(const LVXADDR *node, const void *data,
                                  uint16_t size) LVX_NOEXCEPT;
/** Takes the oldest node message: returns its length, 0 when none, or minus the length when the
 *  ring has overflowed. data must hold 420 bytes. */
LVX_API int16_t lumavex_node_receive(LVXADDR *sender, void *data) LVX_NOEXCEPT;

/** @} */

/* ==== Commands ============================================================================= */
/** @addtogroup lvx_commands
 *  @{ */

/** Longest command or message text (characters, without the terminating zero) that every tracker
 *  takes in one packet. Trackers with large packets take up to 991. */
#define LUMAVEX_MAX_PORTABLE_TEXT 247

/** Sends a tracker command and waits up to msec milliseconds for its result. Returns the
 *  tracker's result (0 success, or one of its codes), NO_REPLY when the wait ran out, 0 when the
 *  command was skipped by rule (dummy, quiet or relay-connected; "set_idle_mode" while idle), -3
 *  for a missing or over-long text, -100 when not connected or the send failed. */
LVX_API int16_t lumavex_timed_command(uint32_t msec, const char *text) LVX_NOEXCEPT;
/** Sends a tracker command without waiting for its result. Returns 0, -3 or -100. Commands that
 *  switch eye video on, and "sample_rate" on fourth-generation trackers, do wait (10 s and 30 s)
 *  and return their result when it is negative. */
LVX_API int16_t lumavex_send_command(const char *text) LVX_NOEXCEPT;
/** Result of the most recent command, or NO_REPLY while it has not arrived; -1 before any command
 *  was sent. 0 in dummy mode, -100 when the link system is not open. */
LVX_API int16_t lumavex_command_result(void) LVX_NOEXCEPT;
/** Waits up to msec milliseconds for the most recent command's result; returns it, or NO_REPLY. */
LVX_API int16_t lumavex_wait_for_command_result(uint32_t msec) LVX_NOEXCEPT;
/** Formats a command (at most 992 characters; more is cut) and sends it as a timed command. On
 *  trackers without large packets, a text of several lines and no quoted part is sent line by
 *  line, each line waiting for its answer before the next, and the last line's result is
 *  returned. The waits of one call share 5000 ms in all: once they are spent, the remaining lines
 *  are still sent, without waiting, and the result is the last line's as it stands then
 *  (NO_REPLY while its answer has not come). */
LVX_API int16_t eyecmd_printf(const char *format, ...) LVX_NOEXCEPT LVX_PRINTF(1, 2);
/** Copies the text of the last command result (at most 199 characters and a zero; buf must hold
 *  200 bytes) and returns its length. 0 in dummy mode or when the link system is not open. */
LVX_API int16_t lumavex_last_message(char *buf) LVX_NOEXCEPT;
/** The text for a result code of the named exported function: a static text that must not be
 *  freed; the empty text for functions whose results are not errors; NULL when no text is known.
 *  Asking about 1000 or -112 also puts a note into the tracker's recording file. */
LVX_API const char *lumavex_get_error(int code, const char *function_name) LVX_NOEXCEPT;
/** Puts the tracker into its idle (offline) mode. */
LVX_API int16_t set_offline_mode(void) LVX_NOEXCEPT;

/** @} */

/* ==== Messages ============================================================================= */
/** @addtogroup lvx_commands
 *  @{ */

/** Puts a message into the tracker's recording file, time-stamped with the moment of the call.
 *  Long texts are sent in pieces that the tracker joins again; texts of several lines become
 *  several messages. Returns 0, -3 for a text that cannot be sent, or the link's error code; 0 in
 *  dummy mode and in quiet mode 2 or higher. */
LVX_API int16_t lumavex_send_message(const char *text) LVX_NOEXCEPT;
/** As lumavex_send_message, with the time stamp moved by exectime milliseconds (negative: the
 *  event happened before the call). */
LVX_API int16_t lumavex_send_message_ex(int32_t exectime, const char *text) LVX_NOEXCEPT;
/** Formats a message (of any length) and sends it like lumavex_send_message. */
LVX_API int16_t eyemsg_printf(const char *format, ...) LVX_NOEXCEPT LVX_PRINTF(1, 2);
/** Formats a message and sends it like lumavex_send_message_ex. */
LVX_API int16_t eyemsg_printf_ex(int32_t exectime, const char *format, ...) LVX_NOEXCEPT
    LVX_PRINTF(2, 3);
/** Sends a message to the given node directly. Returns as lumavex_send_message; -100 when the
 *  link system is not open. */
LVX_API int16_t lumavex_node_send_message(const LVXADDR *node, const char *text) LVX_NOEXCEPT;
/** As lumavex_node_send_message, with the time stamp moved by exectime milliseconds. */
LVX_API int16_t lumavex_node_send_message_ex(int32_t exectime, const LVXADDR *node,
                                             const char *text) LVX_NOEXCEPT;

/** @} */

/* ==== Tracker modes and control ============================================================= */
/** @addtogroup lvx_modes
 *  @{ */

/** lumavex_current_mode() bits. */
#define IN_DISCONNECT_MODE 0x4000 /**< not connected (and not in dummy mode) */
#define IN_PLAYBACK_MODE 0x0100   /**< the tracker plays a recording back */
#define IN_USER_MENU 0x0040       /**< one of the tracker's user menus (or the abort menu) */
#define IN_IDLE_MODE 0x0001       /**< idle (offline): ready for commands, not recording */
#define IN_SETUP_MODE 0x0002      /**< camera setup menu */
#define IN_RECORD_MODE 0x0004     /**< recording (or playing a recording back) */
#define IN_TARGET_MODE 0x0008     /**< a target screen: calibration, validation, drift correction */
#define IN_DRIFTCORR_MODE 0x0010  /**< drift correction */
#define IN_IMAGE_MODE 0x0020      /**< camera image display */

/* Mode changes. Each sends its command with a 1000 ms time-out and, on success, waits up to
 * 500 ms for the tracker to settle. They return 0 or the command's result (-100 while not
 * connected). */

/** Puts the tracker into its idle mode (nothing is sent when it is idle already). Returns 0 or
 *  the command's result. */
LVX_API int16_t lumavex_abort(void) LVX_NOEXCEPT;
/** Opens the tracker's camera setup menu (or its imaging mode, see
 *  lumavex_set_tracker_setup_default). Returns 0 or the command's result. */
LVX_API int16_t lumavex_start_setup(void) LVX_NOEXCEPT;
/** 0: camera setup opens the setup menu; nonzero: the imaging mode. Returns the value stored. */
LVX_API int16_t lumavex_set_tracker_setup_default(int16_t mode) LVX_NOEXCEPT;
/** Accepts the current calibration or drift-correction fixation, as the operator's key would.
 *  Returns 0 or the command's result. */
LVX_API int16_t lumavex_accept_trigger(void) LVX_NOEXCEPT;
/** Starts a drift correction with the target at display pixel (x, y). Returns 0 or the
 *  command's result. */
LVX_API int16_t lumavex_driftcorr_start(int16_t x, int16_t y) LVX_NOEXCEPT;
/** As lumavex_driftcorr_start, with the target position in fractional pixels. */
LVX_API int16_t lumavex_driftcorr_startf(float x, float y) LVX_NOEXCEPT;
/** Applies the drift correction just measured. Returns 0 or the command's result. */
LVX_API int16_t lumavex_apply_driftcorr(void) LVX_NOEXCEPT;
/** Recording flags of lumavex_data_start (also lumavex_data_switch, which takes the link bits):
 *  what the tracker writes to its data file and what it sends over the link. */
#define LUMAVEX_RECORD_FILE_SAMPLES 0x01 /**< samples into the tracker's data file */
#define LUMAVEX_RECORD_FILE_EVENTS 0x02  /**< events into the tracker's data file */
#define LUMAVEX_RECORD_LINK_SAMPLES 0x04 /**< samples over the link to this program */
#define LUMAVEX_RECORD_LINK_EVENTS 0x08  /**< events over the link to this program */
/** Everything to the file and over the link. */
#define LUMAVEX_RECORD_ALL                                                                  \
  (LUMAVEX_RECORD_FILE_SAMPLES | LUMAVEX_RECORD_FILE_EVENTS | LUMAVEX_RECORD_LINK_SAMPLES | \
   LUMAVEX_RECORD_LINK_EVENTS)

/** Starts recording: flags 0x01 samples to file, 0x02 events to file, 0x04 samples over the
 *  link, 0x08 events over the link; lock nonzero locks the tracker's record exit. */
LVX_API int16_t lumavex_data_start(uint16_t flags, int16_t lock) LVX_NOEXCEPT;
/** Stops recording: samples and events stop reaching the queue and the tracker goes back to
 *  idle. Returns 0 or the command's result. */
LVX_API int16_t lumavex_data_stop(void) LVX_NOEXCEPT;
/** Plays the last recording back over the link, as if it were recorded again; the records are
 *  read as during recording. Returns 0, the command's result, or -100 when not connected. */
LVX_API int16_t lumavex_playback_start(void) LVX_NOEXCEPT;
/** Stops a playback. Returns 0, the command's result, or -100 when not connected. */
LVX_API int16_t lumavex_playback_stop(void) LVX_NOEXCEPT;

/** The IN_ bits of the tracker's current mode. */
LVX_API int16_t lumavex_current_mode(void) LVX_NOEXCEPT;
/** Nonzero (IN_SETUP_MODE) while the tracker is in its setup mode; 0 otherwise and while the
 *  link system is closed. */
LVX_API int16_t lumavex_in_setup(void) LVX_NOEXCEPT;
/** Waits up to maxwait ms for a mode change to settle: 1 settled, 0 time-out, -100 not
 *  connected, -1 the link dropped. maxwait 0 reads the state at once. */
LVX_API int16_t lumavex_wait_for_mode_ready(uint32_t maxwait) LVX_NOEXCEPT;
/** Eyes, as lumavex_eye_available reports them; LUMAVEX_EYE_LEFT and LUMAVEX_EYE_RIGHT are also
 *  the indexes of the per-eye arrays in samples and the eye field of events. */
#define LUMAVEX_EYE_NONE (-1) /**< not recording */
#define LUMAVEX_EYE_LEFT 0    /**< the left eye */
#define LUMAVEX_EYE_RIGHT 1   /**< the right eye */
#define LUMAVEX_EYE_BOTH 2    /**< binocular */

/** The eye being recorded: 0 left, 1 right, 2 both; -1 when not recording. */
LVX_API int16_t lumavex_eye_available(void) LVX_NOEXCEPT;

/** Asks the tracker for the value of a variable; lumavex_read_reply then gives it. Returns 0,
 *  -3 for a bad text, -100 when not connected. */
LVX_API int16_t lumavex_read_request(const char *text) LVX_NOEXCEPT;
/** Copies the reply (buf must hold 200 bytes) and returns 0, or 1000 while none has come. */
LVX_API int16_t lumavex_read_reply(char *buf) LVX_NOEXCEPT;
/** Asks for the tracker's time; lumavex_read_time then gives it. Returns 0 or a send error. */
LVX_API int16_t lumavex_request_time(void) LVX_NOEXCEPT;
/** As lumavex_request_time, asking the given node. */
LVX_API int16_t lumavex_node_request_time(const LVXADDR *node) LVX_NOEXCEPT;
/** The tracker time in ms that the last time request brought, 0 while none has come. */
LVX_API uint32_t lumavex_read_time(void) LVX_NOEXCEPT;
/** Copies the calibration message (buf must hold 100 bytes, or null) and returns its length. */
LVX_API int16_t lumavex_cal_message(char *buf) LVX_NOEXCEPT;
/** The calibration result, taken once; 1000 while none has come. */
LVX_API int16_t lumavex_cal_result(void) LVX_NOEXCEPT;
/** Writes the calibration target's position; returns 1 while the target is shown, else 0. */
LVX_API int16_t lumavex_target_check(int16_t *x, int16_t *y) LVX_NOEXCEPT;
/** As lumavex_target_check, with the position in fractional pixels. */
LVX_API int16_t lumavex_target_checkf(float *x, float *y) LVX_NOEXCEPT;
/** The selection made in the tracker's user menu, taken once; 0 while none. */
LVX_API int16_t lumavex_user_menu_selection(void) LVX_NOEXCEPT;

/** The number of queued samples (samples nonzero) plus queued events (events nonzero); 0 in dummy
 *  mode or while the link system is closed. */
LVX_API int16_t lumavex_data_count(int16_t samples, int16_t events) LVX_NOEXCEPT;
/** The SF_ flags the current sample block announced: what each sample will hold. */
LVX_API uint16_t lumavex_sample_data_flags(void) LVX_NOEXCEPT;
/** The RF_ flags the current event block announced: what each parsed event will hold. */
LVX_API int16_t lumavex_event_data_flags(void) LVX_NOEXCEPT;
/** The kinds of events the current event block announced. */
LVX_API uint16_t lumavex_event_type_flags(void) LVX_NOEXCEPT;
/** The divisor of gaze positions and resolutions on the wire (10 until a block says otherwise). */
LVX_API int16_t lumavex_position_prescaler(void) LVX_NOEXCEPT;
/** 1 while inside a sample block (samples nonzero) or an event block (events nonzero), else 0. */
LVX_API int16_t lumavex_in_data_block(int16_t samples, int16_t events) LVX_NOEXCEPT;
/** Waits up to maxwait ms for the asked blocks to open: 1 open, 0 time-out, -100 not connected. */
LVX_API int16_t lumavex_wait_for_block_start(uint32_t maxwait, int16_t samples,
                                             int16_t events) LVX_NOEXCEPT;
/** Waits up to maxwait ms for queued data of the asked kinds: 1 there, 0 time-out, -100. */
LVX_API int16_t lumavex_wait_for_data(uint32_t maxwait, int16_t samples,
                                      int16_t events) LVX_NOEXCEPT;

/** Keys and buttons. code 0xFF00 sends a button (mods: its number, state 10 pressed, -1
 *  released); any other code a key with its modifiers. Returns the link's send result. */
LVX_API int16_t lumavex_send_keybutton(uint16_t code, uint16_t mods, uint8_t state) LVX_NOEXCEPT;
/** Asks the tracker to flush its keys and empties the key queue and button records here; with
 *  enable_buttons nonzero, button presses count as keys from then on. Returns the link's send
 *  result, -100 when not connected. */
LVX_API int16_t lumavex_flush_keybuttons(int16_t enable_buttons) LVX_NOEXCEPT;
/** Bit n-1 set while button n is held. */
LVX_API uint16_t lumavex_button_states(void) LVX_NOEXCEPT;
/** The last change of the tracker's buttons (the button states with 0x100 set), with its tracker
 *  time in ms in *time when time is not null; 0 when none. Reading it (or
 *  lumavex_last_button_press) clears both. */
LVX_API uint16_t lumavex_last_button_states(uint32_t *time) LVX_NOEXCEPT;
/** Takes the oldest key from the tracker; returns its code, 0 when none. Each pointer may be
 *  null. */
LVX_API uint16_t lumavex_read_keybutton(int16_t *mods, int16_t *state, uint16_t *kcode,
                                        uint32_t *time) LVX_NOEXCEPT;
/** The number of the last button pressed on the tracker, with its tracker time in ms in *time
 *  when time is not null; 0 when none. Reading it (or lumavex_last_button_states) clears both. */
LVX_API uint16_t lumavex_last_button_press(uint32_t *time) LVX_NOEXCEPT;

/** Sends one packet of a backdrop image (size at most 512). Returns the link's send result, -1
 *  for a size above 512, -100 when not connected. */
LVX_API int16_t lumavex_bitmap_packet(const void *data, uint16_t size, uint16_t seq) LVX_NOEXCEPT;
/** Packets the tracker has acknowledged since the last call, or a pending (negative) error. */
LVX_API int16_t lumavex_bitmap_ack_count(void) LVX_NOEXCEPT;

/** @} */

/* ==== Data stream ========================================================================== */
/** @addtogroup lvx_data
 *  @{ */

/* While the tracker records, samples and events arrive on the receive thread and wait in the
 * data queue (10,000,000 bytes) until the application reads them. When the queue is full the
 * oldest items are discarded; the next read then delivers a record of type EV_LOST_DATA first.
 * "Not ready" below means dummy mode or a link system that is not open. */

/** Takes the next item. Returns its record type, or 0 when nothing is queued or not ready. When
 *  buf is not null it receives the raw decoded item (link_data_item, last_size bytes). */
LVX_API int lumavex_get_next_data(void *buf) LVX_NOEXCEPT;
/** The record last read, in float form (a float_data slot; compact records after
 *  open_lumavex_system(20000, ...)). Returns its type (0 none). Takes nothing from the queue. */
LVX_API int16_t lumavex_get_float_data(void *buf) LVX_NOEXCEPT;
/** The record last read, in double form (a double_data slot). Returns its type (0 none). */
LVX_API int16_t lumavex_get_double_data(void *buf) LVX_NOEXCEPT;
/** Takes up to max items without waiting into consecutive float_data slots; returns the count.
 *  One call takes at most 32767 items (the most its result can count); call again for more.
 *  Afterwards link_state::gap_types names every kind discarded before any of the items taken. */
LVX_API int16_t lumavex_get_all_float_data(void *buf, int max) LVX_NOEXCEPT;
/** As lumavex_get_all_float_data (at most 32767 items), but while the queue is empty waits up to
 *  wait rounds of at most 10 ms each (0 means 20). With a null buf takes one item and returns
 *  its type. */
LVX_API int16_t lumavex_wait_for_next_data(void *buf, int max, int wait) LVX_NOEXCEPT;
/** As lumavex_wait_for_next_data into consecutive double_data slots (at most 32767). With a null
 *  buf takes one item (waiting wait rounds, 0 none) and returns its type. */
LVX_API int16_t lumavex_wait_for_next_double_data(void *buf, int max, int wait) LVX_NOEXCEPT;

/** The newest sample, without touching the queue: 1 a new sample, 0 the same one as the previous
 *  call, -1 none yet or not ready. Forms: compact_float_sample, float_sample (2),
 *  compact_double_sample (its first 100 bytes), double_sample (2). A null buf gives the result
 *  only. */
LVX_API int16_t lumavex_newest_float_sample(void *buf) LVX_NOEXCEPT;
/** As lumavex_newest_float_sample, into a whole float_sample. */
LVX_API int16_t lumavex_newest_float_sample2(void *buf) LVX_NOEXCEPT;
/** As lumavex_newest_float_sample, into a compact_double_sample. */
LVX_API int16_t lumavex_newest_double_sample(void *buf) LVX_NOEXCEPT;
/** As lumavex_newest_float_sample, into a whole double_sample. */
LVX_API int16_t lumavex_newest_double_sample2(void *buf) LVX_NOEXCEPT;
/** As the four above, waiting once (at most 10 ms) when no new sample is there; wait 0 means 20,
 *  a negative wait does not wait. */
LVX_API int16_t lumavex_wait_for_new_float_sample(void *buf, int wait) LVX_NOEXCEPT;
/** As lumavex_wait_for_new_float_sample, into a whole float_sample. */
LVX_API int16_t lumavex_wait_for_new_float_sample2(void *buf, int wait) LVX_NOEXCEPT;
/** As lumavex_wait_for_new_float_sample, into a compact_double_sample. */
LVX_API int16_t lumavex_wait_for_new_double_sample(void *buf, int wait) LVX_NOEXCEPT;
/** As lumavex_wait_for_new_float_sample, into a whole double_sample. */
LVX_API int16_t lumavex_wait_for_new_double_sample2(void *buf, int wait) LVX_NOEXCEPT;

/** The data-stream status as of this call. The pointer is the same on every call and stays valid;
 *  the record it points to is refreshed by each call of this function and by each read of the
 *  queue (lumavex_get_next_data, lumavex_get_all_float_data, lumavex_wait_for_next_data, ...),
 *  on the calling thread. The receive thread never writes it: between those calls it holds still,
 *  so reading it needs no lock as long as one thread makes those calls. */
LVX_API link_state *lumavex_data_status(void) LVX_NOEXCEPT;
/** Resets the data-stream state; a nonzero clear also empties the queue and the history of
 *  samples the velocity functions use. Returns 0. */
LVX_API int16_t lumavex_reset_data(int16_t clear) LVX_NOEXCEPT;
/** Switches sample delivery (flags 0x04) and event delivery (flags 0x08) to the queue on or off,
 *  then resets the data-stream state. Returns 0. */
LVX_API int16_t lumavex_data_switch(uint16_t flags) LVX_NOEXCEPT;
/** The tracker's sample rate in Hz and the three digits of its mode word (bits 8..11, 4..7 and
 *  0..3) from the last block start; each pointer may be null. Returns 0, or -1 when no mode is
 *  known. */
LVX_API int16_t lumavex_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                                  int16_t *mode_lo) LVX_NOEXCEPT;
/** The same as lumavex_mode_data. */
LVX_API int16_t lumavex2_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                                   int16_t *mode_lo) LVX_NOEXCEPT;

/** Called on the receive thread when data arrives: reason 1 an event, 2 a sample, one call per
 *  item queued, in the order the items came. It is called with no lock of the library held, after
 *  the datagram that brought the items has been taken apart, so it may call any function of the
 *  library (read data, the status, send commands). The receive thread is also the one that takes
 *  in the tracker's answers, so while the callback runs none arrives: a wait for an answer from
 *  it (a timed command, say) ends only at its time-out, and the data stream stalls meanwhile. It
 *  should return quickly. */
typedef void (*lumavex_data_ready_callback)(int reason);
/** Installs the data-ready callback (null removes it). Returns 0. */
LVX_API int16_t lumavex_set_data_ready_notify(lumavex_data_ready_callback callback) LVX_NOEXCEPT;
/** The installed data-ready callback, or null. */
LVX_API lumavex_data_ready_callback lumavex_get_data_ready_notify(void) LVX_NOEXCEPT;

/** @} */

/* ==== Gaze arithmetic ====================================================================== */
/** @addtogroup lvx_gaze
 *  @{ */

/* Arithmetic on samples, done on the display computer: the raw camera values that a tracker set
 * to send raw camera data packs into the ordinary fields of its samples; the eye's velocity and
 * acceleration from the most recent samples (for displays that react to saccades); and the
 * conversion between head-referenced (href) and display (gaze) coordinates. Href coordinates lie
 * on a flat plane 15000 href units in front of the eye. */

/** The raw camera values of one eye, unpacked from a sample (lumavex_reconstr_raw_link_data).
 *  Positions are in camera pixels; a position the sample does not carry is MISSING_VALUE. */
typedef struct {
  uint32_t reserved;    /**< not written */
  float pupil_raw_x;    /**< pupil centre x; MISSING_VALUE when pupil_area is 0 */
  float pupil_raw_y;    /**< pupil centre y */
  float cr_raw_x;       /**< corneal reflection (CR) centre x; MISSING_VALUE when cr_area is 0 */
  float cr_raw_y;       /**< CR centre y */
  int32_t pupil_area;   /**< pupil area; 0 when the pupil was not found */
  int32_t cr_area;      /**< CR area; 0 when no reflection was found */
  int32_t pupil_dim[2]; /**< the pupil's two dimensions as the tracker measured them; 0 and 0
                             when pupil_area is 0, MISSING_VALUE when the sample has none */
  int32_t cr_dim[2];    /**< the CR's two dimensions; MISSING_VALUE when the sample has none */
  int32_t origin_x;     /**< origin of the camera window the positions are measured from, x */
  int32_t origin_y;     /**< origin y */
  float pupil_cr_x;     /**< pupil minus CR, x (lumavex_get_extra_raw_values_v2 and
                             lumavex_get_extra_raw_values); MISSING_VALUE when either is missing */
  float pupil_cr_y;     /**< pupil minus CR, y */
  int32_t aux_code;     /**< the tracker's auxiliary code (aux types 196 and 200); 0 when none */
  float aux_point[2];   /**< the point (x, y) that goes with aux_code; MISSING_VALUE when none */
} raw_values;

/** Raw pupil and CR positions after the overlap correction (preprocess_raw_link_data). */
typedef struct {
  float pupil_x;      /**< corrected pupil centre x, camera pixels */
  float pupil_y;      /**< corrected pupil centre y */
  float cr_x;         /**< CR centre x, scaled */
  float cr_y;         /**< CR centre y, scaled */
  float diff_x;       /**< pupil_x - cr_x */
  float diff_y;       /**< pupil_y - cr_y */
  int32_t pupil_area; /**< corrected pupil area */
} corrected_raw;

/** Unpacks the raw camera values of eye (LUMAVEX_EYE_LEFT or LUMAVEX_EYE_RIGHT) from a sample
 *  (a compact_float_sample, or a float_sample, whose first part is the same) of a tracker that
 *  sends raw camera data. The packing is chosen per eye by the sign of its pupil_size. Fills every
 *  field but reserved, pupil_cr_x and pupil_cr_y. Returns 0, or -1 for a null pointer or another
 *  eye. */
LVX_API int16_t lumavex_reconstr_raw_link_data(const compact_float_sample *sample, int eye,
                                               raw_values *out) LVX_NOEXCEPT;
/** As lumavex_reconstr_raw_link_data, and also pupil_cr_x and pupil_cr_y (pupil minus CR). */
LVX_API int16_t lumavex_get_extra_raw_values_v2(const compact_float_sample *sample, int eye,
                                                raw_values *out) LVX_NOEXCEPT;
/** The older form, for samples whose eyes are both packed directly (pupil_size 0 or more):
 *  the left eye's values, with pupil_cr_x and pupil_cr_y taken from the pupil centre corrected
 *  for the part the CR hides (margin 3.0, 5 passes) minus 1.02 x the CR centre; aux_code and
 *  aux_point are left as they were. Returns 0, or -1 for any other sample (use
 *  lumavex_get_extra_raw_values_v2) or a null pointer. */
LVX_API int16_t lumavex_get_extra_raw_values(const compact_float_sample *sample,
                                             raw_values *out) LVX_NOEXCEPT;
/** Corrects the pupil of `in` for the part of it that the CR hides: the pupil is widened over the
 *  CR disc (its radius grown by margin) in proportion to their overlap, in up to `passes` passes.
 *  Then the CR centre is scaled by (scale_x, scale_y) and the pupil centre moved by the corrected
 *  area times (area_gain_x, area_gain_y). Returns 0, or -1 for a null pointer. */
LVX_API int16_t preprocess_raw_link_data(int passes, float margin, float scale_x, float scale_y,
                                         float area_gain_x, float area_gain_y, const raw_values *in,
                                         corrected_raw *out) LVX_NOEXCEPT;
/** lumavex_reconstr_raw_link_data followed by preprocess_raw_link_data with 5 passes, margin 3.0,
 *  scale 1.01 and 1.01, area gains 0 and -0.001. Returns 0, or -1 for a null pointer or another
 *  eye. */
LVX_API int16_t lumavex_reconstr_preprocess_raw_link_data(const compact_float_sample *sample,
                                                          int eye, corrected_raw *out) LVX_NOEXCEPT;

/* Velocity and acceleration. The library keeps the last 48 samples that arrived (whether or not
 * the application reads them from the queue); a calculation uses the newest of them, so the
 * result describes the sample in the middle of the window, half a window ago. The history is
 * emptied by lumavex_reset_data(1) (and so when recording starts). The sample rate is the
 * tracker's (lumavex_mode_data, or the rate its data packets carry); before the first data packet
 * 250 Hz is used (and logged once). Velocities are in degrees per second, accelerations in
 * degrees per second squared; a value that cannot be computed (too few samples, an eye not
 * recorded, no resolution) is MISSING_VALUE. */

/** Filter type: a window of 5 samples. */
#define LUMAVEX_FILTER_5 1
/** Filter type: a window of 9 samples. */
#define LUMAVEX_FILTER_9 2
/** Filter type: a window of 17 samples. */
#define LUMAVEX_FILTER_17 3
/** Filter type: groups of samples 4 ms wide, the window chosen by the sample rate (5 samples up
 *  to 250 Hz, 9 up to 500, 19 up to 1000, 39 above). Velocities only: accelerations are
 *  MISSING_VALUE. */
#define LUMAVEX_FILTER_GROUPS 4

/** The x and y gaze velocities of each eye (index 0 left, 1 right). vel_sample, when not null,
 *  receives the window's centre sample (all zero when nothing could be computed). Returns 0, or
 *  -1 for a null xvel or yvel. */
LVX_API int16_t lumavex_calculate_velocity_x_y(int filter_type, float xvel[2], float yvel[2],
                                               compact_float_sample *vel_sample) LVX_NOEXCEPT;
/** The gaze velocity of each eye: the length of its x and y velocity (either alone when the other
 *  is missing). Returns 0, or -1 for a null vel. */
LVX_API int16_t lumavex_calculate_velocity(int filter_type, float vel[2],
                                           compact_float_sample *vel_sample) LVX_NOEXCEPT;
/** The gaze velocity and acceleration of each eye. The acceleration is the length of its x and
 *  y parts, negative when the x velocity is below the y velocity. Returns 0, or -1 for a null
 *  vel or acc. */
LVX_API int16_t lumavex_calculate_overallvelocity_and_acceleration(
    int filter_type, float vel[2], float acc[2], compact_float_sample *vel_sample) LVX_NOEXCEPT;
/** Velocity and acceleration of each eye from three position sources k: 0 gaze (divided by the
 *  resolution), 1 the extra_c pair (divided by extra3_lead), 2 extra_a's rows at the eye's index
 *  (divided by extra3_point). out[6k] and out[6k + 1] receive the velocities of eyes 0 and 1,
 *  out[6k + 3] and out[6k + 4] their accelerations; out[6k + 2] and out[6k + 5] are not written.
 *  vel_sample, when not null, receives the whole centre sample (a float_data slot). Returns 0, or
 *  -1 for a null out. */
LVX_API int16_t lumavex_calculate_overallvelocity_and_acceleration2(
    int filter_type, float out[18], float_data *vel_sample) LVX_NOEXCEPT;

/* Href and gaze mapping. A tracker set up to do so sends, in every sample, the href positions of
 * the display's four corners (aux_type LUMAVEX_AUX_HREF_CORNERS: aux_data holds the top-left,
 * top-right, bottom-left and bottom-right corners as x, y pairs). With the display's rectangle
 * given once, each sample then converts href to gaze and back through the perspective transform
 * that takes the corners to the rectangle. */

/** The aux_type of samples that carry the href positions of the display's corners. */
#define LUMAVEX_AUX_HREF_CORNERS 232

/** Sets the display rectangle, in the gaze coordinates the tracker uses (for a 1024 x 768
 *  display, usually 0, 0, 1023, 767). Returns 0, or -1 when the tracker is of the first
 *  generation or its software is older than 1.16. */
LVX_API int lumavex_initialize_mapping(float left, float top, float right,
                                       float bottom) LVX_NOEXCEPT;
/** Converts the href point (*x, *y) to gaze in place, through the corners that sample carries (a
 *  compact_float_sample or a float_sample). Returns 0; -2 before lumavex_initialize_mapping
 *  succeeded (x and y unchanged); -1 when the sample holds no corner points (x and y unchanged),
 *  for a null pointer, or when the point lies on the line that maps to infinity (x and y then
 *  hold the undivided values). */
LVX_API int lumavex_href_to_gaze(float *x, float *y,
                                 const compact_float_sample *sample) LVX_NOEXCEPT;
/** Converts the gaze point (*x, *y) to href in place, the inverse of lumavex_href_to_gaze, with
 *  the same results. */
LVX_API int lumavex_gaze_to_href(float *x, float *y,
                                 const compact_float_sample *sample) LVX_NOEXCEPT;
/** The angle in degrees between the directions to two href positions. */
LVX_API double lumavex_href_angle(float x1, float y1, float x2, float y2) LVX_NOEXCEPT;
/** Href units per degree at the href position (x, y), across (xres) and down (yres); either
 *  pointer may be null. */
LVX_API void lumavex_href_resolution(float x, float y, float *xres, float *yres) LVX_NOEXCEPT;

/** @} */

/* ==== Keyboard and input events =========================================================== */
/** @addtogroup lvx_hooks
 *  @{ */

/** One input event as the application's poll_input_events_hook fills it (12 bytes). */
typedef struct {
  uint8_t type;       /**< 1 a key event; any type with bit value 4 set another input event */
  uint8_t state;      /**< keys: 0 released, nonzero pressed */
  uint16_t key;       /**< key code */
  uint16_t modifiers; /**< SDL-style modifier bits */
  uint16_t key_word2; /**< second key word, returned by getkey_with_mod */
  uint32_t data;      /**< not read for key events */
} InputEvent;

/** The key the library reports while the application is being terminated. */
#define TERMINATE_KEY 0x7FFF

/** Sets the break key (default "c" with mask 0x40, left control) and the escape key (default
 *  0x1B, mask 0). A nonzero mask makes its key count only when the event's modifier bits share a
 *  bit with the mask. The fifth value is stored only. */
LVX_API void lumavex_set_special_keys(int break_mask, int break_key, int escape_mask,
                                      int escape_key, int fifth) LVX_NOEXCEPT;
/** Stores four key codes and four modifier masks (each array of 4; a null array is left out) for
 *  option 1 or 2, and the option count. Logs the first key and mask; logs any other option as not
 *  valid. Nothing else in the library reads these tables. */
LVX_API void lumavex_set_special_keys_ex(int option, const int *masks, const int *keys,
                                         int count) LVX_NOEXCEPT;
/** Copies option 1's or 2's four masks, four keys and the option count into each non-null output;
 *  logs any other option as not valid. Logs the option's first key. */
LVX_API void lumavex_get_special_keys_ex(int option, int *masks, int *keys,
                                         int *count) LVX_NOEXCEPT;

/** Polls the application's poll_input_events_hook once and processes what it returns: key events
 *  go to the key queue, other input events to the input event queue. Returns break_pressed(). */
LVX_API int16_t key_message_pump(void) LVX_NOEXCEPT;
/** Empties the input event queue, then runs key_message_pump(); returns its result. */
LVX_API int16_t message_pump(void) LVX_NOEXCEPT;
/** Waits delay ms in 20 ms sleeps, calling message_pump() before each sleep while more than
 *  20 ms remain (so a delay of 15 is one 20 ms sleep without pumping). */
LVX_API void pump_delay(uint32_t delay) LVX_NOEXCEPT;

/** message_pump(), then read_getkey_queue(). */
LVX_API uint32_t getkey(void) LVX_NOEXCEPT;
/** Reads the key queue without polling. While break_pressed() is 1: TERMINATE_KEY on three reads
 *  of every four and 0 on the fourth, leaving the queue alone. Otherwise the oldest key as
 *  (modifiers << 16) | key code, or 0 when the queue is empty. */
LVX_API uint32_t read_getkey_queue(void) LVX_NOEXCEPT;
/** As getkey(); when a key was taken and word is not null, writes its second key word there
 *  (word is left alone otherwise). */
LVX_API uint32_t getkey_with_mod(uint16_t *word) LVX_NOEXCEPT;
/** As getkey(), but returns the key code alone (TERMINATE_KEY or 0 during a break, 0 when no key
 *  is queued) and forwards every key other than 0, 1 and TERMINATE_KEY to the tracker as a key
 *  packet with the tracker's modifier bits. */
LVX_API uint32_t echo_key(void) LVX_NOEXCEPT;
/** Empties the key queue. Returns 0. */
LVX_API int16_t flush_getkey_queue(void) LVX_NOEXCEPT;

/** 1 when the escape key was pressed: an escape under 1000 ms old is taken without polling,
 *  otherwise message_pump() runs first. Each escape is reported once. Else 0. */
LVX_API int16_t escape_pressed(void) LVX_NOEXCEPT;
/** 1 while the application-terminated flag is set or within 1000 ms after the break key was
 *  pressed; else 0. */
LVX_API int16_t break_pressed(void) LVX_NOEXCEPT;
/** Ends a running setup or drift-correction loop and sets the application-terminated flag to
 *  (flag != 0). terminal_break(0) ends a break. */
LVX_API void terminal_break(int16_t flag) LVX_NOEXCEPT;
/** The application-terminated flag: 1 after the break key or terminal_break(nonzero), 0 after
 *  terminal_break(0). */
LVX_API int16_t application_terminated(void) LVX_NOEXCEPT;

/** Copies the oldest queued input event whose type shares a bit with mask into out, leaving the
 *  queue alone. Returns 1, or 0 when none matches, the queue is empty or out is null. */
LVX_API int16_t lumavex_peep_input_event(InputEvent *out, uint8_t mask) LVX_NOEXCEPT;
/** Takes input events from the front of the queue until one's type shares a bit with mask and
 *  copies it into out; the events passed over are discarded. Returns 1, or 0 as above. */
LVX_API int16_t lumavex_get_input_event(InputEvent *out, uint8_t mask) LVX_NOEXCEPT;
/** Copies the newest queued input event whose type shares a bit with mask into out. Returns 1, or
 *  0 as above. */
LVX_API int16_t lumavex_peep_last_input_event(InputEvent *out, uint8_t mask) LVX_NOEXCEPT;
/** Empties the input event queue (it holds up to 31 events, dropping the oldest when full, and is
 *  emptied by every message_pump()). */
LVX_API void lumavex_flush_input_event(void) LVX_NOEXCEPT;

/** @} */

/* ==== Graphic hooks ======================================================================== */
/** @addtogroup lvx_hooks
 *  @{ */

/* The library never draws, plays sounds or reads the keyboard itself: the application installs a
 * table of hooks, and every camera, calibration and drift-correction screen, every input poll and
 * every alert goes through it. Exactly one table form (or none) is installed at a time; installing
 * either form removes the other. Every slot may be null: a missing hook is skipped, and a missing
 * hook that returns a value counts as having returned 0. Hooks run on the application thread that
 * runs the screen or the poll; the alert hook runs on whatever thread raises the alert. Tables
 * must not be installed while a screen or an input poll is running. */

/** Sound codes passed to play_sound_hook (version 2); version 1 maps them onto its four sound
 *  hooks. Any other code makes no call in version 1 and is passed through in version 2. */
#define LUMAVEX_SOUND_TARGET_SHOWN 1    /**< calibration or validation target appeared */
#define LUMAVEX_SOUND_CAL_DONE 0        /**< calibration or validation ended successfully */
#define LUMAVEX_SOUND_CAL_FAILED (-1)   /**< calibration or validation failed or was aborted */
#define LUMAVEX_SOUND_DRIFT_TARGET 3    /**< drift-correction target appeared */
#define LUMAVEX_SOUND_DRIFT_DONE 2      /**< drift correction ended successfully */
#define LUMAVEX_SOUND_DRIFT_FAILED (-2) /**< drift correction failed or was aborted */

/** Hook table, version 1: 17 function pointers in this order. The camera image arrives line by
 *  line as palette indexes with the palette passed separately; targets are drawn at whole-number
 *  display coordinates. */
typedef struct {
  /** A camera setup, target screen or drawn drift correction begins; also called again after each
   *  camera image view inside camera setup. The result is ignored. */
  int16_t (*open_target_screen_hook)(void);
  /** Such a screen ends. */
  void (*close_target_screen_hook)(void);
  /** The recording-abort handler starts its menu loop (no version-2 counterpart). */
  void (*hide_for_abort_menu_hook)(void);
  /** The camera image display starts with an image of width x height. A negative result makes the
   *  display fail; 1 says the application can show the larger image. */
  int16_t (*open_camera_view_hook)(int16_t width, int16_t height);
  /** The title above the camera image changed. threshold is always -1; the whole title is in
   *  title (never null or empty; valid during the call). */
  void (*camera_title_hook)(int16_t threshold, const char *title);
  /** One image line of width palette indexes, line counting from 1 up to total_lines. Every index
   *  is below the palette count. The bytes are valid during the call. */
  void (*camera_line_hook)(int16_t width, int16_t line, int16_t total_lines, const uint8_t *pixels);
  /** A camera palette of count entries in each of the three arrays (valid during the call). */
  void (*camera_palette_hook)(int16_t count, const uint8_t *red, const uint8_t *green,
                              const uint8_t *blue);
  /** The camera image display ends. */
  void (*close_camera_view_hook)(void);
  /** The terminate key ended a calibration or validation target screen. */
  void (*erase_target_hook)(void);
  /** The drawn target must vanish: before it moves, when the tracker hides it, at screen end. */
  void (*blank_target_screen_hook)(void);
  /** Draw a target at display coordinates (x, y), truncated toward zero. */
  void (*draw_target_hook)(int32_t x, int32_t y);
  /** Sound code LUMAVEX_SOUND_TARGET_SHOWN. */
  void (*target_shown_sound_hook)(void);
  /** Sound codes LUMAVEX_SOUND_CAL_DONE (error 0) and LUMAVEX_SOUND_CAL_FAILED (error 1). */
  void (*calibration_end_sound_hook)(int32_t error);
  /** Sound codes LUMAVEX_SOUND_DRIFT_DONE (error 0) and LUMAVEX_SOUND_DRIFT_FAILED (error 1). */
  void (*drift_end_sound_hook)(int32_t error);
  /** Sound code LUMAVEX_SOUND_DRIFT_TARGET. */
  void (*drift_target_sound_hook)(void);
  /** Fills up to 20 records of the array events and returns how many it filled. */
  int16_t (*poll_input_events_hook)(InputEvent *events);
  /** Shows an alert text to the user (valid during the call). */
  void (*alert_hook)(const char *text);
} GraphicHooks;

/** Hook table, version 2: 19 pointer-sized words. Every hook receives user_data first. The camera
 *  image arrives as one whole picture of 32-bit pixels whose bytes in memory are red, green, blue
 *  and alpha (always 255); targets are drawn at floating-point coordinates; one sound hook takes
 *  the sound code. */
typedef struct {
  int32_t major_version; /**< word 0: must be 1 */
  void *reserved1;       /**< word 1: not read by the library */
  void *user_data;       /**< word 2: passed back unchanged as every hook's first argument */
  /** As open_target_screen_hook of version 1; the result is ignored. */
  int16_t (*open_target_screen_hook)(void *user_data);
  /** As close_target_screen_hook of version 1. */
  void (*close_target_screen_hook)(void *user_data);
  /** As in version 1: negative fails the display, 1 allows the larger image. */
  int16_t (*open_camera_view_hook)(void *user_data, int16_t width, int16_t height);
  /** The whole title (never null or empty). */
  void (*camera_title_hook)(void *user_data, const char *title);
  /** A complete camera image of width x height pixels. The pixels belong to the library and are
   *  reused for the next image: copy what you keep before returning. */
  void (*camera_image_hook)(void *user_data, int16_t width, int16_t height, const uint32_t *pixels);
  /** The camera image display ends. */
  void (*close_camera_view_hook)(void *user_data);
  /** The terminate key ended a calibration or validation target screen. */
  void (*erase_target_hook)(void *user_data);
  /** The drawn target must vanish. */
  void (*blank_target_screen_hook)(void *user_data);
  /** Draw a target at display coordinates (x, y), unrounded. */
  void (*draw_target_hook)(void *user_data, float x, float y);
  /** Play the sound for a LUMAVEX_SOUND_* code (other codes are passed through). */
  void (*play_sound_hook)(void *user_data, int32_t code);
  /** Fills up to 20 records of the array events and returns how many it filled. */
  int16_t (*poll_input_events_hook)(void *user_data, InputEvent *events);
  /** Shows an alert text to the user (valid during the call). */
  void (*alert_hook)(void *user_data, const char *text);
  void *reserved2[4]; /**< words 15-18: not read by the library */
} GraphicHooksV2;

/** Writes an image to a file for the bitmap-saving functions and returns their result (0 for
 *  success). image points to a bitmap_record (the application's own, or a cut-out of it that
 *  lives for the call), save_options are the caller's save options. */
typedef int (*lumavex_write_image_hook)(const char *file_name, int save_options, void *image);

/** Installs a copy of a version-1 table (the caller keeps its own), removing any installed table
 *  of either form; null removes all hooks. Returns the tracker version of the connection at this
 *  moment (0 when none), which also decides whether camera views request pupil ellipses. */
LVX_API int setup_graphic_hook_functions(GraphicHooks *table) LVX_NOEXCEPT;
/** Installs a copy of a version-2 table (all 19 words), removing any installed table of either
 *  form. Returns 0, or -1 when major_version is not 1; then no hooks are installed at all. The
 *  table must not be null. */
LVX_API int16_t setup_graphic_hook_functions_V2(GraphicHooksV2 *table) LVX_NOEXCEPT;
/** A copy of the installed version-1 table, all null when none is installed. The record belongs
 *  to the library and is rewritten by every call. */
LVX_API GraphicHooks *get_all_hook_functions(void) LVX_NOEXCEPT;
/** A copy of the installed version-2 table, all zero when none is installed. The record belongs
 *  to the library and is rewritten by every call. */
LVX_API GraphicHooksV2 *get_all_hook_functions_V2(void) LVX_NOEXCEPT;
/** Stores the image writer used when bitmaps are saved (null: none). options is ignored.
 *  Returns 0. */
LVX_API int set_write_image_hook(lumavex_write_image_hook hook, int options) LVX_NOEXCEPT;
/** Formats an alert (at most 1023 characters; more is cut) and passes it to the installed alert
 *  hook, or writes it to standard error as "Lumavex Error: text" when there is none. A null format
 *  gives an empty text. Called from inside a callback of the library, the hook runs once that
 *  callback has returned. */
LVX_API void alert_printf(const char *format, ...) LVX_NOEXCEPT LVX_PRINTF(1, 2);

/** @} */

/* ==== Camera images ======================================================================== */
/** @addtogroup lvx_setup
 *  @{ */

/* During camera setup the tracker sends small images of its cameras, one at a time, each as a
 * run of image packets that the receive thread hands to the application thread through two
 * 5000-byte slots. The functions below request, take apart and describe them; the setup display
 * (image_display_kernal_*) drives them for the application. */

/** Camera codes (PaletteInfo.camera). */
#define LUMAVEX_CAMERA_LEFT_EYE 1  /**< the left eye's camera */
#define LUMAVEX_CAMERA_HEAD 2      /**< the head (overview) camera */
#define LUMAVEX_CAMERA_RIGHT_EYE 3 /**< the right eye's camera */
#define LUMAVEX_CAMERA_SCENE 4     /**< the scene camera */

/** PaletteInfo.flags bits. */
#define LUMAVEX_PAL_CR_THRESHOLD 0x0001   /**< cr_threshold is valid */
#define LUMAVEX_PAL_RAMP1 0x0002          /**< colour ramp 1 is present */
#define LUMAVEX_PAL_RAMP2 0x0004          /**< colour ramp 2 is present */
#define LUMAVEX_PAL_MARKERS 0x0010        /**< marker points 1 and 2 replace the colour entries */
#define LUMAVEX_PAL_MARKER_BOX 0x0020     /**< marker mode 1: points 3 and 4 span the pupil box */
#define LUMAVEX_PAL_MARKER_ELLIPSE 0x0040 /**< marker mode 2: points 3 and 4 give the ellipse */
#define LUMAVEX_PAL_LOST_PUPIL \
  0x0100 /**< the pupil is lost (feature-lost bits show as "???" in titles) */
#define LUMAVEX_PAL_LOST_CR 0x0200          /**< the corneal reflection is lost */
#define LUMAVEX_PAL_LOST_PUPIL_RIGHT 0x0400 /**< the right eye's pupil is lost */
#define LUMAVEX_PAL_LOST_CR_RIGHT 0x0800    /**< the right eye's corneal reflection is lost */
#define LUMAVEX_PAL_LOST_TARGET 0x1000      /**< the head target is lost */

/** The 48 bytes of palette and marker information that travel with each camera image. Bytes
 *  stay in wire (big-endian) order except flags, reserved6 and colour_count, which are in host
 *  order. Marker points are in 1/8192 units of the image width (x) and height (y); -32768 means
 *  missing. Palette indexes run from 0 to 199. */
typedef struct {
  uint8_t palette_id;       /**< differs from the previous image's when the palette is new */
  uint8_t reserved1;        /**< unused */
  uint8_t camera;           /**< LUMAVEX_CAMERA_* */
  uint8_t pupil_threshold;  /**< the pupil threshold */
  uint16_t flags;           /**< LUMAVEX_PAL_* bits, host order */
  uint16_t reserved6;       /**< host order */
  uint8_t cr_threshold;     /**< valid with LUMAVEX_PAL_CR_THRESHOLD */
  uint8_t reserved9;        /**< unused */
  uint8_t markers34[8];     /**< big-endian: point 3 x, y, point 4 x, y */
  uint8_t grey_first;       /**< grey ramp: first index, its level, last index, its level */
  uint8_t grey_first_level; /**< grey level at grey_first */
  uint8_t grey_last;        /**< grey ramp: last index */
  uint8_t grey_last_level;  /**< grey level at grey_last */
  int16_t colour_count;     /**< explicit colour entries, host order */
  uint8_t colours[8];       /**< two entries of index, red, green, blue; with LUMAVEX_PAL_MARKERS
                                 big-endian point 1 x, y, point 2 x, y instead */
  uint8_t ramp1[8];         /**< first index, red, green, blue, last index, red, green and blue
                                 increments from the first to the last index */
  uint8_t ramp2[8];         /**< as ramp1, for the second ramp */
} PaletteInfo;

/** Asks the tracker for one camera image of kind 0..9 at width x height. Returns the command's
 *  result (0, NO_REPLY, ...), -1 for a kind out of range (nothing sent), 0 without sending in
 *  dummy or quiet mode. */
LVX_API int16_t lumavex_request_image(int16_t kind, int16_t width, int16_t height) LVX_NOEXCEPT;
/** Drops the image in flight, if any. */
LVX_API void lumavex_abort_image(void) LVX_NOEXCEPT;
/** Copies the current image's PaletteInfo into out (when not null). Returns -1 before the first
 *  packet of the current image has arrived, 1 when its palette differs from the previous image's,
 *  0 when it is the same. */
LVX_API int16_t lumavex_get_palette(PaletteInfo *out) LVX_NOEXCEPT;
/** Decodes the next line of the current image into buffer (which must hold the image's line
 *  length, at most 512 bytes). Returns its line number from 1, 0 when no line is complete yet,
 *  -1 when no image is being received. */
LVX_API int16_t lumavex_get_line(uint8_t *buffer) LVX_NOEXCEPT;
/** 1 while an image is being received, else 0 (also while the link system is closed). */
LVX_API int lumavex_image_status(void) LVX_NOEXCEPT;
/** Writes the last image's width, height and type into each non-null pointer. Returns -1 when
 *  the link system is closed or no image is being received, 1 when the image's palette is new,
 *  0 when it is the previous one. */
LVX_API int16_t lumavex_image_data(int16_t *width, int16_t *height, int16_t *type) LVX_NOEXCEPT;

/** @} */

/* ==== Setup display ========================================================================= */
/** @addtogroup lvx_setup
 *  @{ */

/** Prepares the camera view: reads the tracker's model and version and, on trackers that can,
 *  asks for extended image information when extended is nonzero. The first four arguments are
 *  not read. Returns 0. */
LVX_API int16_t image_display_kernal_init(int16_t a, int16_t b, int16_t c, int16_t d,
                                          int16_t extended) LVX_NOEXCEPT;
/** One step of the camera view: command 0 requests, receives and shows images through the
 *  hooks; 1 drops the image in flight; -1 closes the view. Returns 1 an image was requested,
 *  0 nothing to report, -1 the lines stopped coming, -2 the image did not come in time, -3 the
 *  request failed, -100 open_camera_view_hook refused, -1000 not initialised. */
LVX_API int16_t image_display_kernal_iterate(int16_t command) LVX_NOEXCEPT;
/** Holds the view while value is nonzero; a negative value also drops the image in flight and
 *  returns image_display_kernal_iterate(1). Otherwise returns value. */
LVX_API int16_t image_display_kernal_pause(int16_t value) LVX_NOEXCEPT;
/** Copies the four marker points (pupil, corneal reflection, then the two further points) into
 *  x and y (each of 4, when both are given) and the marker mode into mode (when given). Returns
 *  the camera code of the last image. */
LVX_API int get_image_xhair_data(int16_t x[4], int16_t y[4], int16_t *mode) LVX_NOEXCEPT;
/** The corneal-reflection threshold of the last image, -1 when it carried none. */
LVX_API int get_corneal_threshold(void) LVX_NOEXCEPT;
/** The corneal-reflection threshold the title was last made from. */
LVX_API int get_last_corneal_threshold(void) LVX_NOEXCEPT;
/** Sets the corneal-reflection threshold the title was last made from, so that the next image
 *  with another threshold renews the title. */
LVX_API void set_last_corneal_threshold(int threshold) LVX_NOEXCEPT;

/** @} */

/* ==== Setup, calibration and drift correction ============================================== */
/** @addtogroup lvx_setup
 *  @{ */

/** Runs the tracker's setup mode (camera image, calibration, validation) through the hooks
 *  until the tracker leaves it, passing keys to the tracker. Returns 0 when the tracker left
 *  setup (or Escape on a dummy link), 27 when ended by exit_calibration, a terminal break or a
 *  lost link, TERMINATE_KEY for the terminate key, -1 when not connected. */
LVX_API int16_t do_tracker_setup(void) LVX_NOEXCEPT;
/** Runs one drift correction with its target at (x, y) in display coordinates. draw nonzero
 *  draws the target (256 or more leaves it on the screen at the end); allow_setup nonzero lets
 *  Escape lead into do_tracker_setup. Returns 0 accepted (or no connection), the tracker's
 *  result, 1 for a key of special-key option 1, 27 Escape, -1 the tracker did not start it or
 *  exit_calibration / a terminal break ended it, TERMINATE_KEY for the terminate key. */
LVX_API int16_t do_drift_correctf(float x, float y, int16_t draw, int16_t allow_setup) LVX_NOEXCEPT;
/** do_drift_correctf with whole-number coordinates. */
LVX_API int16_t do_drift_correct(int16_t x, int16_t y, int16_t draw,
                                 int16_t allow_setup) LVX_NOEXCEPT;
/** The calibration, validation or drift-correction target screen, until the tracker leaves it.
 *  Returns the last calibration result read (NO_REPLY while none), -1 when the link was lost or
 *  the loop was ended, TERMINATE_KEY for the terminate key. */
LVX_API int16_t target_mode_display(void) LVX_NOEXCEPT;
/** The camera-image screen while the tracker shows camera images. Returns 0, or TERMINATE_KEY. */
LVX_API int16_t image_mode_display(void) LVX_NOEXCEPT;
/** Ends a running setup, target or drift-correction loop at its next pass; callable from any
 *  thread or hook. */
LVX_API void exit_calibration(void) LVX_NOEXCEPT;

/** @} */

/* ==== Crosshair overlay ===================================================================== */
/** @addtogroup lvx_setup
 *  @{ */

/** Colour codes passed to CrosshairCanvas callbacks; their look is the application's choice. */
#define CR_HAIR_COLOR 1          /**< corneal-reflection mark */
#define PUPIL_HAIR_COLOR 2       /**< pupil crosshair and reference lines */
#define PUPIL_BOX_COLOR 3        /**< pupil box, head-camera target box, pupil ellipse */
#define SEARCH_LIMIT_BOX_COLOR 4 /**< search limits and plain search box */
#define MOUSE_CURSOR_COLOR 5     /**< mouse cross and rounded search box */
#define MARKER_COLOR 6           /**< scene-marker crosses and outline */
#define MARKER_COLOR_WEAK 7      /**< scene-marker outline with status 1 */

typedef struct CrosshairCanvas CrosshairCanvas;
/** The drawing callbacks lumavex_draw_cross_hair calls, and the area the image is shown in. */
struct CrosshairCanvas {
  void *user_data;          /**< the application's; not read by the library */
  int32_t width;            /**< width in pixels of the area the camera image is shown in */
  int32_t height;           /**< its height */
  int32_t last_mouse_state; /**< written by the library: the button state seen the last time */
  int32_t reserved;         /**< not read by the library */
  /** Draws a line from (x1, y1) to (x2, y2) in a colour code. Required. */
  void (*draw_line)(CrosshairCanvas *canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    int32_t colour);
  /** Draws a (rounded) box; may be null. */
  void (*draw_box)(CrosshairCanvas *canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                   int32_t colour);
  /** Writes the mouse position within the area and its button state (1 pressed); may be null. */
  void (*get_mouse_state)(CrosshairCanvas *canvas, int32_t *x, int32_t *y, int32_t *state);
};

/** Draws the pupil and corneal-reflection marks, boxes and search limits of the last camera
 *  image over it through the canvas callbacks, and sends a mouse click inside the area to the
 *  tracker (which moves its search area there). Call it after drawing the image, normally from
 *  the camera image hook. Renews the title when the marks call for it. Returns 0. */
LVX_API int lumavex_draw_cross_hair(CrosshairCanvas *canvas) LVX_NOEXCEPT;

/** @} */

/* ==== Recording ============================================================================= */
/** @addtogroup lvx_recording
 *  @{ */

/** Recording result: recording runs (also in dummy mode). */
#define RECORDING_RUNS 0
/** Recording result: recording failed to start, or the tracker left recording on its own. */
#define RECORDING_FAILED (-1)
/** Recording result: the operator picked entry 2 of the tracker's abort menu. */
#define ABORT_MENU_ENTRY_2 1
/** Recording result: the operator picked entry 3 of the tracker's abort menu. */
#define ABORT_MENU_ENTRY_3 2
/** Recording result: the link is lost, TERMINATE_KEY was read, or the operator picked entry 4
 *  (abort) of the tracker's abort menu. */
#define RECORDING_ABORTED 3

/** Opens a recording file on the tracker. Only the base name is sent (what follows the last '/'
 *  or '\\'); ".qrd" is added when it has no extension. The base name without extension must not
 *  be empty, must hold at most 8 characters (78 with the option "longname=1", see
 *  lumavex_set_options()), only ASCII letters, digits and '_', not '_' first, and an extension
 *  must be "qrd" in any case. A refused name raises an alert and returns -1 with nothing sent.
 *  Otherwise the tracker is put into its idle mode and the command "open_data_file '<name>'" is
 *  sent with a 10 s wait: its result, or 0 (logged) when the tracker did not answer. */
LVX_API int16_t open_data_file(const char *name) LVX_NOEXCEPT;
/** Closes the tracker's recording file: the result of the command "close_data_file" (10 s). */
LVX_API int16_t close_data_file(void) LVX_NOEXCEPT;
/** Sets library options from a text of name=value tokens separated by blanks, tabs or line
 *  feeds (at most 255 characters read); values are integers in C notation (decimal, 0x hex,
 *  leading-0 octal). The one option is "longname" (any case): nonzero allows recording file base
 *  names of up to 78 characters. Returns 0 for a null text, 1 when every option was taken, -1 at
 *  the first bad token (the options before it keep their effect). */
LVX_API int16_t lumavex_set_options(const char *options) LVX_NOEXCEPT;
/** Starts recording: file_samples and file_events choose what goes into the recording file,
 *  link_samples and link_events what comes over the link. Returns 0 once the tracker records
 *  and the link data asked for flows (within 300 ms; a recording of link events alone counts as
 *  running without them), RECORDING_ABORTED when not connected, 0 in dummy mode; otherwise the
 *  failure, logged as "start_recording failed. (n)" with the step that failed. */
LVX_API int16_t start_recording(int16_t file_samples, int16_t file_events, int16_t link_samples,
                                int16_t link_events) LVX_NOEXCEPT;
/** Checks during a trial that recording goes on: 0 while it does, RECORDING_ABORTED when the link
 *  is lost, RECORDING_FAILED when the tracker left recording on its own (it is put into idle
 *  mode); when the operator opened the tracker's abort menu, sends "TRIAL ABORTED" as a message
 *  and serves the menu until the operator's choice, which it returns (ABORT_MENU_ENTRY_2,
 *  ABORT_MENU_ENTRY_3 or RECORDING_ABORTED). Any result but 0 leaves real-time mode. */
LVX_API int16_t check_recording(void) LVX_NOEXCEPT;
/** After a trial: leaves real-time mode and, when the tracker shows its abort menu, serves it as
 *  check_recording() does and returns the operator's choice; otherwise 0. */
LVX_API int16_t check_record_exit(void) LVX_NOEXCEPT;
/** Stops recording: leaves real-time mode, switches the heuristic filter back on for trackers
 *  before the second generation, and puts the tracker into idle mode; that mode change's result. */
LVX_API int16_t stop_recording(void) LVX_NOEXCEPT;

/** @} */

/* ==== File names ============================================================================ */
/** @addtogroup lvx_files
 *  @{ */

/** Longest path splice_fname() writes, without its terminating zero. */
#define LVX_MAX_PATH_TEXT 4095

/** Builds a full file name into ffname (which must hold LVX_MAX_PATH_TEXT + 1 bytes): fname on
 *  the folder path, or on the current working folder when path is null or empty. Both '/' and
 *  '\\' are accepted; the result uses '/'. A name holding ':' is taken as complete (only its
 *  separators change); a name that starts with a separator keeps the drive of a folder that has
 *  one ("D:/work" and "/data/x.qrd" give "D:/data/x.qrd") and otherwise stays as it is. A null
 *  or empty fname gives the empty text. */
LVX_API void splice_fname(const char *fname, const char *path, char *ffname) LVX_NOEXCEPT;
/** -1 when the name is exactly "aux", "con", "lpt1" or "prn" (case-sensitive: names refused by
 *  Windows machines that files are often copied to) or holds any of < > : " | ' * ?; else 0. */
LVX_API int16_t check_filename_characters(const char *name) LVX_NOEXCEPT;
/** 1 when the path exists and may be written, 0 when it does not exist, -1 when it exists but
 *  cannot be written or checked. */
LVX_API int16_t file_exists(const char *path) LVX_NOEXCEPT;
/** Makes the folder of path (all of it when is_dir is nonzero, else all but its last part) with
 *  every missing folder on the way. Backslashes in path are changed into '/' in place. Returns 1
 *  when made, 0 when it was there already, -1 when it could not be made. create is not used. */
LVX_API int16_t create_path(char *path, int16_t create, int16_t is_dir) LVX_NOEXCEPT;

/** @} */

/* ==== Real-time mode ======================================================================== */
/** @addtogroup lvx_recording
 *  @{ */

/** Raises the calling thread for a trial's time-critical phase: on Linux SCHED_FIFO (the
 *  receive thread runs that way already), or, without the permission (CAP_SYS_NICE or an
 *  "rtprio" limit), the most favourable nice value the process may take, logged; the process's
 *  memory is locked where permitted (CAP_IPC_LOCK or an unlimited "memlock" limit). Then pumps
 *  input for delay ms and sets the real-time flag. Missing permissions are never an error; only
 *  when not even the nice value can be changed does the flag stay clear. */
LVX_API void begin_realtime_mode(uint32_t delay) LVX_NOEXCEPT;
/** Leaves real-time mode: the calling thread gets its scheduling back (or keeps the high
 *  priority after lumavex_enable_extended_realtime()), memory is unlocked, the flag cleared. */
LVX_API void end_realtime_mode(void) LVX_NOEXCEPT;
/** Gives the calling thread the most favourable nice value the process may take and clears the
 *  real-time flag. 1 when it took effect, else 0. */
LVX_API int32_t set_high_priority(void) LVX_NOEXCEPT;
/** Gives the calling thread its scheduling from before the library changed it and clears the
 *  real-time flag. 1 when that took effect, else 0. */
LVX_API int32_t set_normal_priority(void) LVX_NOEXCEPT;
/** Does nothing; returns 0. */
LVX_API int32_t set_application_priority(int32_t priority) LVX_NOEXCEPT;
/** 1 between begin_realtime_mode() and the next call that leaves real-time mode, else 0. */
LVX_API int32_t in_realtime_mode(void) LVX_NOEXCEPT;
/** Same as in_realtime_mode(). */
LVX_API int32_t lumavex_in_realtime_mode(void) LVX_NOEXCEPT;
/** From now on, leaving real-time mode keeps the high priority instead of dropping back; then
 *  leaves real-time mode. */
LVX_API void lumavex_enable_extended_realtime(void) LVX_NOEXCEPT;
/** Decides anew how real-time mode raises threads (per thread, or by a priority class) from the
 *  kernel's real-time bandwidth reserve, and logs the decision. Returns 0. */
LVX_API int32_t lumavex_check_mmcss(void) LVX_NOEXCEPT;

/** @} */

/* ==== Message file ========================================================================== */
/** @addtogroup lvx_commands
 *  @{ */

/** Opens path as the local message file (emptying it), closing an open one first. 0, or -1 when
 *  it cannot be created (lines then go to the tracker). */
LVX_API int16_t open_message_file(const char *path) LVX_NOEXCEPT;
/** Writes the lines still queued, in order, and closes the message file; nothing without one.
 *  Lines that cannot be written stay queued and go out first at the next timemsg_printf(). */
LVX_API void close_message_file(void) LVX_NOEXCEPT;
/** Writes a time-stamped line: t is its time in ms of the library clock (current_time()), 0 for
 *  now. With a message file open the line "<t>\t<text>\n" goes into it, outside real-time mode
 *  at once; in real-time mode the file is not touched: lines wait in memory (at most 100000,
 *  after which the backlog is written, logged) and go out in call order at the first call
 *  after real-time mode and at close_message_file(). Without a file the text goes to the
 *  tracker as a message, preceded by "<delay> " when t is 2 ms or more from now. A text of more
 *  than 290 characters always goes to the tracker, stamped t (result 0); one of 256 to 290 is
 *  refused (-1). Returns 0, or -1 when the line could not be written. */
LVX_API int16_t timemsg_printf(uint32_t t, const char *format, ...) LVX_NOEXCEPT LVX_PRINTF(2, 3);

/** @} */

/* ==== Clocks ================================================================================ */
/** @addtogroup lvx_time
 *  @{ */

/** Local time in whole milliseconds since the clock's zero point. */
LVX_API uint32_t current_time(void) LVX_NOEXCEPT;
/** Local time in microseconds. */
LVX_API uint64_t current_usec(void) LVX_NOEXCEPT;
/** Local time in microseconds as a double. */
LVX_API double current_double_usec(void) LVX_NOEXCEPT;
/** Returns current_time() and, when m is not null, fills it. */
LVX_API uint32_t current_micro(MICRO_TIME *m) LVX_NOEXCEPT;
/** Waits ms milliseconds, sleeping to within 300 us and spinning the rest. */
LVX_API void msec_delay(int32_t ms) LVX_NOEXCEPT;
/** The zero point in microseconds of the monotonic clock. */
LVX_API uint64_t get_zero_time(void) LVX_NOEXCEPT;
/** Stores the clock base (0, or QX_CLOCK_BASE_MACHINE_LOCAL; anything else is 0) and
 *  re-initialises the clock. */
LVX_API void lumavex_set_clock_base(int32_t base) LVX_NOEXCEPT;
/** The clock base in use: QX_CLOCK_BASE_LIBRARY (0) or QX_CLOCK_BASE_MACHINE_LOCAL (1). */
LVX_API int32_t lumavex_get_clock_base(void) LVX_NOEXCEPT;
/** A nonzero enable initialises the clock if that has not yet happened. Returns 0. */
LVX_API int16_t lumavex_reset_clock(int16_t enable) LVX_NOEXCEPT;
/** Estimated tracker time in microseconds, or -1.0 when no tracker time is known. Never goes
 *  backwards. */
LVX_API double lumavex_tracker_double_usec(void) LVX_NOEXCEPT;
/** Estimated tracker time in whole milliseconds, rounded down and wrapping modulo 2^32; while no
 *  tracker time is known the estimate is -1.0 microseconds, which gives 0xFFFFFFFF. */
LVX_API uint32_t lumavex_tracker_msec(void) LVX_NOEXCEPT;
/** Tracker time minus local time in microseconds, or -1.0 when unknown. */
LVX_API double lumavex_double_usec_offset(void) LVX_NOEXCEPT;
/** Tracker time minus local time in milliseconds, or -0.001 when unknown. */
LVX_API double lumavex_double_msec_offset(void) LVX_NOEXCEPT;
/** The offset in whole milliseconds, or 0 when it is negative or unknown. */
LVX_API uint32_t lumavex_msec_offset(void) LVX_NOEXCEPT;

/** @} */

/* ==== Log =================================================================================== */
/** @addtogroup lvx_connection
 *  @{ */

/** Opens path as the log (emptying it). A null path uses "pk_debug.log" when the command line
 *  holds "-PK_DEBUG_LOG". Returns 0, or -1 when a log is already open or there is no path. */
LVX_API int16_t lumavex_set_log(const char *path) LVX_NOEXCEPT;
/** Writes one log entry: the local time in ms with three decimals, " - ", then the text. */
LVX_API void add_to_lumavex_log(const char *format, ...) LVX_NOEXCEPT LVX_PRINTF(1, 2);

/** @} */

/* ==== File transfer ========================================================================= */
/** @addtogroup lvx_files
 *  @{ */

/** Progress of a download: the requested tracker file name, its size and the bytes received so
 *  far. A video-file download is cancelled when the low 16 bits of the result are
 *  LUMAVEX_PROGRESS_CANCEL; other downloads ignore the result. */
typedef int (*download_progress_fn)(const char *src, uint64_t total, uint64_t received);
/** Progress of receive_data_file_feedback: total and received bytes (low 32 bits). */
typedef int (*download_progress32_fn)(uint32_t total, uint32_t received);
/** Progress of an upload: total and sent bytes. The result is not examined. */
typedef int (*upload_progress_fn)(uint32_t total, uint32_t sent);

/** A download_progress_fn result that cancels a video-file download. */
#define LUMAVEX_PROGRESS_CANCEL 10
/** Option of receive_data_file_feedback64: the recording file only; dest is a file name. */
#define RECEIVE_FILE_ONLY 0
/** Option: the recording file only; dest is a directory. */
#define RECEIVE_FILE_TO_DIR 1
/** Option: the recording file and its video files; dest is a file name. */
#define RECEIVE_FILE_AND_VIDEO 2
/** Option: the recording file and its video files; dest is a directory. */
#define RECEIVE_FILE_AND_VIDEO_TO_DIR 3
/** Option: the video files only; dest is a file name. */
#define RECEIVE_VIDEO_ONLY 4
/** Option: the video files only; dest is a directory. */
#define RECEIVE_VIDEO_ONLY_TO_DIR 5
/** Option: the recording file (and video files where the tracker has them); dest is a full path
 *  whose last component is the new file name. */
#define RECEIVE_FILE_TO_PATH 6
/** Flag added to an option: replace existing local files instead of choosing a new name. */
#define RECEIVE_FILE_REPLACE 0x4000

/** Copies a file from the tracker: dest_is_path 0 names the local file (null or empty: the
 *  tracker's name in the current directory), 1 names a directory. Returns the bytes received,
 *  0 when no tracker is connected, or a negative code: -1 no file-service connection (or the
 *  tracker refused a link transfer), -2 the local file cannot be made or the tracker took more
 *  than 60 s for a buffer of 16384 bytes (or the rest of the file), -3 receive error or
 *  cancelled, -4 no reply, a size or checksum mismatch, or link blocks out of order, -5 invalid
 *  arguments (src with a control character included), -6 the tracker has no such file. */
LVX_API int32_t receive_data_file(const char *src, const char *dest,
                                  int16_t dest_is_path) LVX_NOEXCEPT;
/** As receive_data_file, reporting progress through the callback (may be null). */
LVX_API int32_t receive_data_file_feedback(const char *src, const char *dest, int16_t dest_is_path,
                                           download_progress32_fn progress) LVX_NOEXCEPT;
/** The full download: options is one of the RECEIVE_* codes, optionally with
 *  RECEIVE_FILE_REPLACE. Chooses the tracker's file service or the link by its generation and
 *  version. Returns the recording file's bytes (at most 2147483647), 1 for a video-only
 *  download, or a negative code as receive_data_file. Never places a file outside the folder
 *  asked for and never leaves a partial file under the final name. When a video file does not
 *  arrive whole (missing, cut short, a wrong checksum), the listing is refused or the folder's
 *  one 60 s wait runs out, the result is that negative code, and everything that arrived whole
 *  (the recording, the other video files) is still moved into place; the log names what did
 *  not arrive. */
LVX_API int32_t receive_data_file_feedback64(const char *src, const char *dest, int32_t options,
                                             download_progress_fn progress) LVX_NOEXCEPT;
/** Copies the local file src to the tracker under the name dest (at most 20 characters, no
 *  control characters); dest_is_path is not used. Returns the bytes sent or -1 no connection to
 *  the file service, -2 src cannot be opened or no tracker is connected, -3 invalid names or a
 *  file of 2 GiB or more, -4 no reply, -5 not all bytes were sent (also when the tracker refused
 *  the file, or took no block of 16384 bytes within 60 s). */
LVX_API int32_t send_data_file(const char *src, const char *dest,
                               int16_t dest_is_path) LVX_NOEXCEPT;
/** As send_data_file, reporting progress through the callback (may be null). */
LVX_API int32_t send_data_file_feedback(const char *src, const char *dest, int16_t dest_is_path,
                                        upload_progress_fn progress) LVX_NOEXCEPT;
/** Sends size bytes from data to the tracker under the name dest. Returns size, or -1 no
 *  connection to the file service, -2 no reply, -3 refused (or dest holds a control character),
 *  -4 a send failed or a block of 16384 bytes was not taken within 60 s, -5 incomplete (also
 *  2 GiB or more, which is refused before anything is sent). */
LVX_API int32_t send_data_file_mem(const void *data, const char *dest, uint32_t size,
                                   upload_progress_fn progress) LVX_NOEXCEPT;

/** Starts a link transfer of the tracker file name (at most 120 characters), one block per
 *  acknowledgement. 0 once the tracker announced the file, -100 in quiet or broadcast mode,
 *  -3 name too long or holding a control character (nothing is sent), -110 no announcement, or a
 * command error. */
LVX_API int16_t lumavex_request_file_read(const char *name) LVX_NOEXCEPT;
/** Takes the next block of a link transfer into buf (at least 1024 bytes) and its byte offset
 *  into *offset. Returns 999 once with the file name in buf and the size in *offset, 1..1024 a
 *  data block, 0 an empty block, 1000 nothing yet, -110 the transfer has ended, -112 nothing
 *  came for 2 s, -3 buf is null. */
LVX_API int16_t lumavex_get_file_block(void *buf, int32_t *offset) LVX_NOEXCEPT;
/** Kept for old programs: does nothing and returns 0. */
LVX_API int16_t lumavex_request_file_block(int32_t offset) LVX_NOEXCEPT;
/** Cancels a link transfer and tells the tracker; the tracker's result, or 0 when none ran. */
LVX_API int16_t lumavex_end_file_transfer(void) LVX_NOEXCEPT;

/** @} */

/* ==== Backdrop images ======================================================================= */
/** @addtogroup lvx_backdrop
 *  @{ */

/* The tracker's operator display can show what the participant sees as a backdrop under the gaze
 * cursor. The application hands the library an image as a bitmap_record: to trackers with a file
 * service it goes as a BMP file followed by "draw_image"; otherwise over the link, scaled to the
 * size the tracker asks for, reduced to its colours and dithered by the library. */

/** The channel masks of an image's pixels. Carried along with the image for the application's
 *  own image writer; the library does not read them. */
typedef struct {
  uint32_t red_mask;   /**< bits of the red channel */
  uint32_t green_mask; /**< bits of the green channel */
  uint32_t blue_mask;  /**< bits of the blue channel */
  uint32_t alpha_mask; /**< bits of the fourth channel (0 when none) */
} pixel_format;

/** An image in the application's memory, first row on top. 32-bit pixels are blue, green, red
 *  and a fourth byte in memory order (the fourth byte is not shown); 24-bit pixels blue, green,
 *  red; 16-bit pixels hold red in bits 15-11, green in bits 10-6 and blue in bits 5-1. 15-bit
 *  pixels are passed on as they stand: the library converts only 32-, 24- and 16-bit images. */
typedef struct {
  int32_t width;        /**< pixels per row, above 0 */
  int32_t height;       /**< rows, above 0 */
  int32_t pitch;        /**< bytes from one row to the next; 0 means (depth + 7) / 8 * width */
  int32_t depth;        /**< bits per pixel: 32, 24, 16 or 15 */
  void *pixels;         /**< height rows of pitch bytes */
  pixel_format *format; /**< channel masks, may be null; not read by the library */
} bitmap_record;

/** Save option: after saving, have the tracker draw the saved file ("draw_image" with the file
 *  name) instead of sending the image. Other save options are passed to the image writer. */
#define BACKDROP_SAVE_AND_DRAW 0x20
/** Transfer option: send the image as a BMP file over the tracker's file service where it has
 *  one (else over the link). */
#define BACKDROP_VIA_FILE 0x20
/** Transfer option: turn the image grey before it is sent over the link. */
#define BACKDROP_GREY 0x10
/** Transfer option: dither with the coarse error threshold over the link (fewer, larger dots). */
#define BACKDROP_COARSE_DITHER 0x08
/** Transfer option that marks a backdrop transfer; the backdrop functions always add it. */
#define BACKDROP_TRANSFER 0x100

/** Saves the rectangle (xs, ys, width, height) of image through the write-image hook (see
 *  set_write_image_hook) under path/fname (path may be null or empty; its folders are made
 *  first), then sends the same rectangle to the tracker as its backdrop at (xd, yd). A width or
 *  height of 0 reaches to the image's edge; a rectangle that does not lie inside the image means
 *  the whole image. With BACKDROP_SAVE_AND_DRAW in sv_options the tracker is told to draw the
 *  saved file ("draw_image fname", 1000 ms) instead, and nothing else is sent.
 *  Returns 0 on success; -2 when the link transfer failed (the tracker refused it, asked for a
 *  format the library does not know, or fell silent for 500 ms); -1 for an unusable image or a
 *  save folder that cannot be made; -10 or the upload's negative result when a file transfer
 *  failed and no link transfer followed it; otherwise the image writer's or the tracker's result.
 *  A link transfer blocks for at least 500 ms (the tracker's screen size is asked for first). */
LVX_API int lv_bitmap_save_and_backdrop(bitmap_record *image, int16_t xs, int16_t ys, int16_t width,
                                        int16_t height, const char *fname, const char *path,
                                        uint16_t sv_options, int16_t xd, int16_t yd,
                                        uint16_t xfer_options) LVX_NOEXCEPT;
/** Sends the rectangle (xs, ys, width, height) of image to the tracker as its backdrop at
 *  (xd, yd), as lv_bitmap_save_and_backdrop without saving. xfer_options combines
 *  BACKDROP_VIA_FILE, BACKDROP_GREY and BACKDROP_COARSE_DITHER. Results as there. */
LVX_API int lv_bitmap_to_backdrop(bitmap_record *image, int16_t xs, int16_t ys, int16_t width,
                                  int16_t height, int16_t xd, int16_t yd,
                                  uint16_t xfer_options) LVX_NOEXCEPT;
/** Saves the rectangle (xs, ys, width, height) of image through the write-image hook, as
 *  lv_bitmap_save_and_backdrop without sending it. With sv_options 0 nothing is saved and the
 *  result is 0. Returns the hook's result (0 when no hook is installed), or -1 for an unusable
 *  image or a folder that cannot be made. */
LVX_API int lv_bitmap_save(bitmap_record *image, int16_t xs, int16_t ys, int16_t width,
                           int16_t height, const char *fname, const char *path,
                           uint16_t sv_options) LVX_NOEXCEPT;
/** Tells the tracker to draw an image file it already holds as its backdrop ("draw_image fname",
 *  waiting up to 1000 ms). Returns the tracker's result, -1 for a null or empty name. */
LVX_API int16_t lv_set_backdrop(const char *fname) LVX_NOEXCEPT;

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* LUMAVEX_CORE_H */
