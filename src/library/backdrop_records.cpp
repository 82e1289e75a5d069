// The backdrop transfer's process-wide record, kept here with the owner's other records.
#include "backdrop/backdrop_state.h"

namespace lvx {

BackdropState &backdrop_state() {
  static auto *s = new BackdropState;  // lives for the whole process
  return *s;
}

}  // namespace lvx
