// The texts behind result codes: a read-only table of (code, function, text, see-also) rows and
// the lookup of the exported error-text function.
#pragma once

#include <span>

namespace lvx {

// One row of the error text table. `see_also` names another function whose rows are consulted
// when this function has no row for a code; nullptr when there is none.
struct ErrorRow {
  int code;
  const char *function;
  const char *text;
  const char *see_also;
};

// At most this many rows of one function take part in a lookup.
constexpr int kMaxRowsPerLookup = 100;
// How many see-also steps a lookup follows before it gives up.
constexpr int kSeeAlsoDepthLimit = 8;

// The per-function rows, then the command rows; together they form the table, in lookup order.
std::span<const ErrorRow> function_error_rows();
std::span<const ErrorRow> command_error_rows();

// Functions whose results are not error codes; their text is always the empty one.
std::span<const char *const> non_error_functions();
bool is_non_error_function(const char *name);

// The text of `code` as a result of `function`: the function's own first row with that code,
// else the first text found through its see-also names in row order; nullptr when none is.
const char *find_error_text(int code, const char *function);

// What the exported error-text function answers: nullptr without a function name, the empty
// text for functions whose results are not errors, else find_error_text. A "no reply" code
// (NO_REPLY, or -112 for a file block that never came) also leaves a note in the recording file.
const char *error_text(int code, const char *function);

}  // namespace lvx
