// Messages: texts that the tracker writes, time-stamped, into its recording file. Each message
// packet carries the time of the call that sent it, as an offset in milliseconds from the moment
// the packet is built.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lumavex_core.h"

namespace lvx {

// The bytes of one message packet: a 20-byte header with the serial at 4, the signed offset at
// 20, 1 at 24, the text length + 1 at 26, the text and its zero at 28, then one zero byte.
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

}  // namespace lvx
