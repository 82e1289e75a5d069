#include "link/link_state.h"

#include "link/log.h"
#include "link/transport.h"

namespace lvx {

int max_send_size() {
  return link_record().large_packets.load() ? 1022 : 580;
}

int max_text_length() {
  return link_record().large_packets.load() ? 992 : 248;
}

void clear_link_state() {
  LinkLockGuard lock;
  link_record().state = LinkStateFields{};
  link_record().mode_code = 0;
}

void apply_tracker_version(const TrackerVersion &v) {
  LinkRecord &r = link_record();
  {
    LinkLockGuard lock;
    r.version = v;
  }
  r.version_value = v.value;
  r.host_v5 = v.host_v5;
  r.is_gen4 = v.is_gen4;
  r.is_tq = v.is_tq;
  r.large_packets = v.large_packets;
  r.tracker_version = v.generation;
  lvx::log_printf("Lumavex version %s dversion=%f\n", v.text.c_str(), v.value);
}

}  // namespace lvx
