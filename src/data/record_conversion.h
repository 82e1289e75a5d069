// The float and double forms of decoded items: the records the application reads. Pure.
#pragma once

#include "lumavex_core.h"

namespace lvx {

// Converts a decoded sample (type 200) or parsed event (types 1..10) into float form, using the
// prescalers of `status` (a prescaler of 0 counts as 1). False for any other type: `out` is left
// alone and the caller copies the raw item instead.
bool to_float(const link_data_item &item, const link_state &status, float_data &out);

// Converts a float-form record of `type` into double form: samples (with the half-millisecond
// correction); saccades, fixations and fixation updates (3..9), block markers (15..18) and the
// lost-data record (63) in the event layout; messages (24); button and input records (25, 28).
// Every field is carried, the sample's block-3 fields included. False for any other type (the
// blinks 1 and 2 and type 10 among them): `out` is then left as the caller passed it.
bool to_double(int type, const float_data &in, double_data &out);

}  // namespace lvx
