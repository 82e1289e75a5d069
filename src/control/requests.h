// Requests to the tracker and what it reports back: variable reads, the tracker clock,
// calibration information, the calibration target, user-menu selections, and the backdrop bitmap
// packets with their acknowledgements.
#pragma once

#include <cstdint>
#include <vector>

namespace lvx {

// Largest data size of one bitmap packet.
constexpr uint16_t kMaxBitmapData = 512;

// The bytes of a bitmap packet: the IMAGE_PKT header, the sequence number at 20, the data size
// at 22, the data from 24 and one zero byte (size + 25 bytes). Null data with a nonzero size
// gives zero data bytes.
std::vector<uint8_t> encode_bitmap_packet(const void *data, uint16_t size, uint16_t seq);

// True for the trackers that report calibration progress only when asked with
// "link_sync_status": host version 5 trackers whose version value is above 5.16 and below 6.0,
// or above 6.12.
bool wants_link_sync_status(bool host_v5, double version_value);

// Sends one packet to the connected tracker; returns the link send result.
int16_t send_to_tracker(const void *packet, int size);

// Asks the tracker for more playback data (a type-61 request), unless the link forbids it:
// not connected, listening by broadcast, dummy or quiet mode.
void send_playback_request();

}  // namespace lvx
