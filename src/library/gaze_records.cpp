// The gaze arithmetic's process-wide records: the velocity history and the href mapping. Each is
// built on first use and never destroyed, like every record the owner builds (library.h); they
// live here, with the owner, rather than in the data stream's folder.
#include "data/gaze_mapping.h"
#include "data/velocity_history.h"

namespace lvx {

VelocityHistory &velocity_history() {
  static auto *h = new VelocityHistory;  // the receive thread may outlive statics
  return *h;
}

MappingRecord &mapping_record() {
  static auto *m = new MappingRecord;
  return *m;
}

}  // namespace lvx
