// The backdrop transfer's process-wide state: the failure count of file uploads and the link
// transfer's packet state. (The image writer the application installed lives with the graphic
// hooks.) The record is owned by src/library/ and reached through backdrop_state().
#pragma once

#include <atomic>
#include <mutex>

#include "backdrop/link_protocol.h"
#include "link/user_calls.h"

namespace lvx {

struct BackdropState {
  // Backdrop uploads over the file service that failed in this process; never reset. After one,
  // every file transfer is followed by a link transfer; after two, backdrops go over the link only.
  std::atomic<int> tcp_failures{0};
  // One link transfer at a time, whichever thread calls: the tracker's acknowledgements, the
  // sequence and the credit belong to the transfer that holds it. Taken first (before any lock
  // the commands and packets take); no application code runs under it.
  LibraryMutex<std::mutex> link_lock;
  backdrop::PacketState packets;  // link_lock
};

// A member of the library record (library/), never destroyed.
BackdropState &backdrop_state();

}  // namespace lvx
