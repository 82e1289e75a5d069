// Requests to the tracker and what it reports back: variable reads, the tracker clock,
// calibration information, the calibration target, user-menu selections, and the backdrop bitmap
// packets with their acknowledgements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumavex_core.h"

namespace lvx {

// Largest data size of one bitmap packet.
constexpr uint16_t kMaxBitmapData = 512;

// Bitmap packet field offsets: the sequence number, the data size and the data; one zero byte
// ends the packet.
namespace bitmap_pkt {
constexpr size_t kSequence = 20, kDataSize = 22, kData = 24;
// Bytes of a bitmap packet besides its data.
constexpr size_t kOverhead = 25;
}  // namespace bitmap_pkt

// The bytes of a bitmap packet (see bitmap_pkt) under the IMAGE_PKT header. Null data with a
// nonzero size gives zero data bytes.
std::vector<uint8_t> encode_bitmap_packet(const void *data, uint16_t size, uint16_t seq);

// True for the trackers that report calibration progress only when asked with
// "link_sync_status": host version 5 trackers whose version value is above 5.16 and below 6.0,
// or above 6.12.
bool wants_link_sync_status(bool host_v5, double version_value);

// Sends one packet to the connected tracker; returns the link send result.
int16_t send_to_tracker(const void *packet, int size);

// Asks the tracker for more playback data (a type-61 request), unless the link forbids it:
// not connected, listening by broadcast, dummy or quiet mode, or the tracker's last packet did not
// say that it plays a recording back (bit 1 of its mode code, header byte 18).
void send_playback_request();

// Asks the tracker for the value of a variable; the reply comes as a status packet. Returns 0
// once sent (and waits for one packet), 0 without sending in dummy or full quiet mode or without
// a text, -3 for a text too long, -100 while not connected or when the send failed; through the
// relay the relay's answer.
int16_t read_request(const char *text);
// A relay master's read request for one of its slaves: as read_request to the tracker, and
// `announce` is called with the request's serial under the link lock as it is drawn, before the
// request leaves. The serial also becomes this process's pending request serial.
int16_t read_request_for_slave(const char *text, void (*announce)(uint32_t serial));
// Makes `serial` the one read-request replies are matched against (a relay slave learns the
// serial of its request from its master).
void set_request_serial(uint32_t serial);
// The reply to the pending read request copied into buf (when not null), and the reply state 0;
// 1000 while none came (after one packet wait), in dummy mode or while the link system is closed.
int16_t read_reply(char *buf);

// Asks the connected tracker (or `node`) for its clock: 0 once sent, the send failure, or 0
// without sending in dummy or full quiet mode (or through the relay, for the tracker).
int16_t request_tracker_time();
int16_t request_node_time(const LVXADDR *node);
// The tracker time that answered the last request (after one packet wait while there is none);
// 0 while none came, in dummy mode or while the link system is closed.
uint32_t read_tracker_time();

// The calibration message copied into buf (when not null); returns its length. While it is empty
// the trackers that need asking are asked (once a second) with "link_sync_status".
int16_t calibration_message(char *buf);
// The calibration result, reset to 1000 by reading it; 1000 in dummy mode, 27 while the link
// system is closed.
int16_t take_calibration_result();
// The calibration target's position (truncated to 16 bits, or as floats) into the outputs that
// are not null; returns 1 while the target is shown. 0 while the link system is closed.
int16_t calibration_target(int16_t *x, int16_t *y);
int16_t calibration_target(float *x, float *y);
// The user-menu selection made since the last read (0 when none), dummy mode or a closed system.
int16_t take_user_menu_selection();

// Sends one bitmap packet: the send result, -1 for a size above kMaxBitmapData or null data with
// a size, -100 while not connected, 0 without sending through the relay or in dummy or full quiet
// mode.
int16_t send_bitmap_packet(const void *data, uint16_t size, uint16_t seq);
// The bitmap packets acknowledged since the last read (which resets the count), or an
// acknowledged error first (reset by reading it).
int16_t take_bitmap_ack_count();
// True while an acknowledgement (a count or an error) waits to be taken; for waits.
bool bitmap_ack_pending();

}  // namespace lvx
