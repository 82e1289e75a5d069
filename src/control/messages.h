// Messages: texts that the tracker writes, time-stamped, into its recording file. Each message
// packet carries the time of the call that sent it, as an offset in milliseconds from the moment
// the packet is built.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "control/message_split.h"
#include "link/user_calls.h"
#include "lumavex_core.h"

namespace lvx {

// Message packet field offsets: the serial in the header, the signed time offset, the kind
// (always 1, a plain message), the text length with its zero, and the text with its zero; one
// zero byte ends the packet.
namespace msg_pkt {
constexpr size_t kSerial = 4, kOffset = 20, kKind = 24, kTextLength = 26, kText = 28;
constexpr uint8_t kPlainMessage = 1;
// Bytes of a message packet besides its text.
constexpr size_t kOverhead = 31;
}  // namespace msg_pkt

// The message channel's process-wide record.
struct MessageChannel {
  // Serialises send_message, so that the pieces of messages sent from several threads never
  // interleave. Recursive: a message can be sent while routing another (a log note from an error
  // lookup, say).
  LibraryMutex<std::recursive_mutex> message_lock;
  // Serial of the next message packet; separate from the command serials.
  std::atomic<uint32_t> serial{1};
  // Pacing window; pace_lock is held across the 1 ms wait so that senders queue behind it.
  std::mutex pace_lock;
  MessagePacer pacer;
  // Identity of long messages: a random byte drawn on first use and a counter.
  std::mutex long_id_lock;
  LongMessageId long_id;
};
MessageChannel &message_channel();

// The bytes of one message packet (see msg_pkt).
std::vector<uint8_t> encode_message_packet(uint32_t serial, int32_t offset_ms,
                                           std::string_view text);

// The offset a message carries: (message time - now) in milliseconds, rounded half up by adding
// 0.5 and cutting toward zero, kept within 32 bits.
int32_t message_offset_ms(double message_time_us, double now_us);

// Sends one message packet to dest. Returns 0 (also in dummy and quiet modes), -3 for a text too
// long for the tracker's packets, or the link's error code.
int16_t msg_core_impl(const LVXADDR &dest, std::string_view text, double message_time_us);

// Splits a text into message packets as the tracker's packet size requires and sends them to
// dest. Returns 0 or the last failure code.
int16_t msg_core(const LVXADDR &dest, std::string_view text, double message_time_us);

// The time a message carries when it is sent now with `exectime_ms`: the local clock in
// microseconds plus exectime_ms milliseconds.
double message_time_after(int32_t exectime_ms);

// Sends a message to the tracker: through the relay when connected through it, else to the
// tracker (or, while not connected, to the configured tracker node). Calls are serialised, so
// the pieces of messages from several threads never interleave. Returns 0 (also in dummy mode),
// -3 for no text, or the failure code of the sending.
int16_t send_message(const char *text, double message_time_us);

// Sends a message to one node: 0 in dummy mode, -100 while the link system is closed, -1 without
// a node, -3 without a text, else as msg_core.
int16_t send_node_message(const LVXADDR *node, const char *text, double message_time_us);

// Formats a printf-style text of any length.
LVX_PRINTF(1, 0) std::string format_message(const char *format, va_list args);

}  // namespace lvx
