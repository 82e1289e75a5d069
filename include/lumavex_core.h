/*
 * lumavex_core: client library for driving a Lumavex eye tracker over its link.
 *
 * This is the one header an application includes. Every function here is exported from
 * liblumavex_core.so with C linkage; nothing else is. Results are 16-bit signed status codes
 * unless a comment says otherwise: 0 for success, negative for failure, and a few documented
 * positive values such as NO_REPLY. No function throws and no call blocks forever.
 */
#ifndef LUMAVEX_CORE_H
#define LUMAVEX_CORE_H

#include <stdint.h>

#if defined(_WIN32)
#define LVX_API __declspec(dllexport)
#elif defined(__GNUC__)
#define LVX_API __attribute__((visibility("default")))
#else
#define LVX_API
#endif

#if defined(__GNUC__)
#define LVX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LVX_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions ------------------------------------------------------------------------------ */

/** Version of this header, as major * 10000 + minor * 100 + patch. */
#define LUMAVEX_HEADER_VERSION 200 /* 0.2.0 */
/** Library version text that lumavex_dll_version() reports. */
#define LUMAVEX_LIBRARY_VERSION_TEXT "2,2,596,0"
/** Link protocol version spoken in connect packets. */
#define LUMAVEX_LINK_PROTOCOL_MAJOR 3
#define LUMAVEX_LINK_PROTOCOL_MINOR 2

/* ---- Result codes -------------------------------------------------------------------------- */

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

/* ---- Addresses ----------------------------------------------------------------------------- */

/** A node on the link: IPv4 address and UDP port, both in network byte order, then zeros.
 *  Two addresses are the same node when their first six bytes are equal. 255.255.255.255 is
 *  broadcast. */
typedef struct {
  uint8_t addr[4];
  uint8_t port[2];
  uint8_t unused[10];
} LVXADDR;

/** A node address with its NUL-terminated name. */
typedef struct {
  LVXADDR addr;
  char name[40];
} LVXNODE;

/** Own (display) UDP port, tracker UDP port and tracker TCP port. */
#define LUMAVEX_REMOTE_PORT 4000
#define LUMAVEX_TRACKER_PORT 589
#define LUMAVEX_TRACKER_TCP_PORT 3875

/* ---- Time ---------------------------------------------------------------------------------- */

/** A local time split into whole milliseconds and the microseconds within them (0..999). */
typedef struct {
  uint32_t msec;
  uint16_t usec;
} MICRO_TIME;

/** Clock base for lumavex_set_clock_base: count from the monotonic clock's own origin, so that
 *  every process on the machine reads the same time. Base 0 counts from clock initialisation. */
#define QX_CLOCK_BASE_MACHINE_LOCAL 1

/* ---- Link packet types (byte 0 of every packet header) --------------------------------------- */

#define COMMAND_PKT 1
#define KEY_PKT 2
#define STATUS_PKT 3
#define DATA_PKT 4
#define MESSAGE_PKT 5
#define IMAGE_PKT 6
#define FILE_PKT 7
#define CONNECT_PKT 0x63
#define NODE_PKT 0xFF

/** Largest payload of one node message, in bytes. */
#define LUMAVEX_MAX_NODE_MESSAGE 420

/* ==== Connection ============================================================================ */

/** Opens the link system and, by mode, connects: 0 connect to the tracker; positive (other than
 *  2 and 3) dummy mode with no tracker; negative open the link system only. Returns 0 on success
 *  and -1 on failure, after alerting the user. */
LVX_API int16_t open_lumavex_connection(int16_t mode);
/** Puts a connected tracker into idle mode, closes its data file, disconnects and closes the link
 *  system. */
LVX_API void close_lumavex_connection(void);

/** Opens the link machinery with a data queue of bufsize bytes and an optional options text of
 *  key=value tokens ("eyeport", "remport", "hiprio", "loprio"). Returns -1 on success, 0 on
 *  failure. Called again without options it only resets the link. */
LVX_API int16_t open_lumavex_system(uint16_t bufsize, const char *options);
/** Disconnects and closes the link machinery. */
LVX_API void close_lumavex_system(void);

/** Connects to the configured tracker node. Returns 0, -200, -201, -202, -203 or a socket error
 *  code. */
LVX_API int16_t lumavex_open(void);
/** Connects to node; busytest > 0 sends a busy-test connect. Results as lumavex_open. */
LVX_API int16_t lumavex_open_node(const LVXADDR *node, int16_t busytest);
/** Connects by broadcast to listen to a tracker that another program controls. */
LVX_API int16_t lumavex_broadcast_open(void);
/** Enters dummy mode. Returns 0, or -1 when a connection is already open. */
LVX_API int16_t lumavex_dummy_open(void);
/** Disconnects without waiting for the tracker's acknowledgement. Returns 0. */
LVX_API int16_t lumavex_close(int16_t send_msg);

/** 0 not connected, 1 connected, 2 listening by broadcast, -1 in dummy mode; negative values
 *  other than in dummy mode mean a connection through the local relay. */
LVX_API int16_t lumavex_is_connected(void);
/** The tracker mode word from the last tracker packet, or 0 when the system is not open. */
LVX_API uint16_t lumavex_tracker_mode(void);
/** Returns the tracker generation (0 none yet, 1..4); copies the version text (at most 40 bytes)
 *  into text when not null. */
LVX_API int16_t lumavex_get_tracker_version(char *text);

/** Sets the own node name (at most 39 characters; trailing blanks are cut). Null empties it. */
LVX_API void lumavex_set_name(const char *name);
/** Sets the quiet level (0 sends all; nonzero suppresses commands; 2 or more also messages and
 *  requests) and returns the previous level. A negative level can no longer be changed. */
LVX_API int16_t lumavex_quiet_mode(int16_t level);
/** Copies the library version text "2,2,596,0" into text when not null. */
LVX_API void lumavex_dll_version(char *text);

/* ==== Addresses and transport =============================================================== */

/** Parses dotted IPv4 text (each part decimal, 0x-hex or 0-octal, 0..255) into addr. The port is
 *  4000 when remote is nonzero, else 3875 in TCP-only mode and 589 otherwise. Returns 0 or -1. */
LVX_API int16_t text_to_lvxaddr(const char *text, LVXADDR *addr, int16_t remote);
/** Makes the dotted address text the tracker node to connect to. Returns 0 or -1. */
LVX_API int16_t set_lumavex_address(const char *text);
/** Copies node into the configured tracker node address when not null. Returns 0. */
LVX_API int16_t lumavex_set_tracker_node(const LVXADDR *node);
/** Selects the TCP-only transport. Returns 0, or -1 once the network has been started in this
 *  process. The argument has no effect. */
LVX_API int16_t set_lumavex_tcp_only(int enable);

/* ==== Polling and node messages ============================================================= */

/** Broadcasts a poll for trackers; replies collect in the background. Returns 0, -1 when the
 *  send failed, -200 when the system is not open. */
LVX_API int16_t lumavex_poll_trackers(void);
/** Broadcasts a poll for other display nodes. Results as lumavex_poll_trackers. */
LVX_API int16_t lumavex_poll_remotes(void);
/** Number of poll replies held (at most 4), or 0 when the system is not open. */
LVX_API int16_t lumavex_poll_responses(void);
/** resp 0: own node; -1: tracker broadcast; -2: remote broadcast; 1..count: poll reply. Returns
 *  0, or -1 for a number out of range. */
LVX_API int16_t lumavex_get_node(int16_t resp, LVXNODE *out);
/** Sends size bytes (at most 420) to node as a node message. Returns 0, -1 for bad arguments, or
 *  the transport's error code. */
LVX_API int16_t lumavex_node_send(const LVXADDR *node, const void *data, uint16_t size);
/** Takes the oldest node message: returns its length, 0 when none, or minus the length when the
 *  ring has overflowed. data must hold 420 bytes. */
LVX_API int16_t lumavex_node_receive(LVXADDR *sender, void *data);

/* ==== Commands ============================================================================= */

/** Longest command or message text (characters, without the terminating zero) that every tracker
 *  takes in one packet. Trackers with large packets take up to 991. */
#define LUMAVEX_MAX_PORTABLE_TEXT 247

/** Sends a tracker command and waits up to msec milliseconds for its result. Returns the
 *  tracker's result (0 success, or one of its codes), NO_REPLY when the wait ran out, 0 when the
 *  command was skipped by rule (dummy, quiet or relay-connected; "set_idle_mode" while idle), -3
 *  for a missing or over-long text, -100 when not connected or the send failed. */
LVX_API int16_t lumavex_timed_command(uint32_t msec, const char *text);
/** Sends a tracker command without waiting for its result. Returns 0, -3 or -100. Commands that
 *  switch eye video on, and "sample_rate" on fourth-generation trackers, do wait (10 s and 30 s)
 *  and return their result when it is negative. */
LVX_API int16_t lumavex_send_command(const char *text);
/** Result of the most recent command, or NO_REPLY while it has not arrived; -1 before any command
 *  was sent. 0 in dummy mode, -100 when the link system is not open. */
LVX_API int16_t lumavex_command_result(void);
/** Waits up to msec milliseconds for the most recent command's result; returns it, or NO_REPLY. */
LVX_API int16_t lumavex_wait_for_command_result(uint32_t msec);
/** Formats a command (at most 992 characters; more is cut) and sends it as a timed command with
 *  a 5000 ms wait. On trackers without large packets, a text of several lines and no quoted part
 *  is sent line by line, and the last line's result is returned. */
LVX_API int16_t eyecmd_printf(const char *format, ...) LVX_PRINTF(1, 2);
/** Copies the text of the last command result (at most 199 characters and a zero; buf must hold
 *  200 bytes) and returns its length. 0 in dummy mode or when the link system is not open. */
LVX_API int16_t lumavex_last_message(char *buf);
/** The text for a result code of the named exported function: a static text that must not be
 *  freed; the empty text for functions whose results are not errors; NULL when no text is known.
 *  Asking about 1000 or -112 also puts a note into the tracker's recording file. */
LVX_API const char *lumavex_get_error(int code, const char *function_name);
/** Puts the tracker into its idle (offline) mode. */
LVX_API int16_t set_offline_mode(void);

/* ==== Messages ============================================================================= */

/** Puts a message into the tracker's recording file, time-stamped with the moment of the call.
 *  Long texts are sent in pieces that the tracker joins again; texts of several lines become
 *  several messages. Returns 0, -3 for a text that cannot be sent, or the link's error code; 0 in
 *  dummy mode and in quiet mode 2 or higher. */
LVX_API int16_t lumavex_send_message(const char *text);
/** As lumavex_send_message, with the time stamp moved by exectime milliseconds (negative: the
 *  event happened before the call). */
LVX_API int16_t lumavex_send_message_ex(int32_t exectime, const char *text);
/** Formats a message (of any length) and sends it like lumavex_send_message. */
LVX_API int16_t eyemsg_printf(const char *format, ...) LVX_PRINTF(1, 2);
/** Formats a message and sends it like lumavex_send_message_ex. */
LVX_API int16_t eyemsg_printf_ex(int32_t exectime, const char *format, ...) LVX_PRINTF(2, 3);
/** Sends a message to the given node directly. Returns as lumavex_send_message; -100 when the
 *  link system is not open. */
LVX_API int16_t lumavex_node_send_message(const LVXADDR *node, const char *text);
/** As lumavex_node_send_message, with the time stamp moved by exectime milliseconds. */
LVX_API int16_t lumavex_node_send_message_ex(int32_t exectime, const LVXADDR *node,
                                             const char *text);

/* ==== Clocks ================================================================================ */

/** Local time in whole milliseconds since the clock's zero point. */
LVX_API uint32_t current_time(void);
/** Local time in microseconds. */
LVX_API uint64_t current_usec(void);
/** Local time in microseconds as a double. */
LVX_API double current_double_usec(void);
/** Returns current_time() and, when m is not null, fills it. */
LVX_API uint32_t current_micro(MICRO_TIME *m);
/** Waits ms milliseconds, sleeping to within 300 us and spinning the rest. */
LVX_API void msec_delay(int32_t ms);
/** The zero point in microseconds of the monotonic clock. */
LVX_API uint64_t get_zero_time(void);
/** Stores the clock base (0, or QX_CLOCK_BASE_MACHINE_LOCAL; anything else is 0) and
 *  re-initialises the clock. */
LVX_API void lumavex_set_clock_base(int32_t base);
LVX_API int32_t lumavex_get_clock_base(void);
/** A nonzero enable initialises the clock if that has not yet happened. Returns 0. */
LVX_API int16_t lumavex_reset_clock(int16_t enable);
/** Estimated tracker time in microseconds, or -1.0 when no tracker time is known. Never goes
 *  backwards. */
LVX_API double lumavex_tracker_double_usec(void);
/** Estimated tracker time in whole milliseconds. */
LVX_API uint32_t lumavex_tracker_msec(void);
/** Tracker time minus local time in microseconds, or -1.0 when unknown. */
LVX_API double lumavex_double_usec_offset(void);
/** Tracker time minus local time in milliseconds, or -0.001 when unknown. */
LVX_API double lumavex_double_msec_offset(void);
/** The offset in whole milliseconds, or 0 when it is negative or unknown. */
LVX_API uint32_t lumavex_msec_offset(void);

/* ==== Log =================================================================================== */

/** Opens path as the log (emptying it). A null path uses "pk_debug.log" when the command line
 *  holds "-PK_DEBUG_LOG". Returns 0, or -1 when a log is already open or there is no path. */
LVX_API int16_t lumavex_set_log(const char *path);
/** Writes one log entry: the local time in ms with three decimals, " - ", then the text. */
LVX_API void add_to_lumavex_log(const char *format, ...) LVX_PRINTF(1, 2);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* LUMAVEX_CORE_H */
