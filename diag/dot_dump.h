// Pieces of the DOT dump that are worth testing on their own: the escaping of texts
// placed inside DOT record labels.
#pragma once

#include <cstddef>
#include <string>

#include "vexo/types.h"

namespace vexo::diag {

// Longest identifier shown in a label, in UTF-16 units, added backslashes included.
constexpr size_t kMaxIdentifierUnits = 2046;

// Appends a UTF-16 text to a record label as UTF-8. The characters DOT records and
// quoted strings treat specially (< > | { } \ ") get a backslash, a line feed becomes
// the label line break \n, other control characters a space, and an unpaired
// surrogate U+FFFD. The escaped text is cut to maxUnits UTF-16 units; an escape or a
// surrogate pair that does not fit whole is left out with everything after it, so
// the label never ends in a lone backslash. A null text appends nothing.
void appendLabelText(std::string &out, const VexoChar *text, size_t maxUnits);

}  // namespace vexo::diag
