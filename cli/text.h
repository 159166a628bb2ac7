// Text helpers of the command-line tool: the library speaks UTF-16, the terminal and
// the files the tool writes speak UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vexo/types.h"

namespace vexo::cli {

// UTF-8 of a zero-terminated UTF-16 text (null gives ""); an unpaired surrogate
// becomes U+FFFD.
std::string utf8(const VexoChar *text);

// UTF-16 of UTF-8 text; a byte that starts no valid sequence becomes the unit of the
// same value, as the library reads 8-bit text.
std::u16string utf16(std::string_view text);

// Text as a JSON string literal, quotes included.
std::string jsonQuoted(std::string_view text);

// Text as a CSV field: quoted (inner quotes doubled) when it holds a comma, a quote or
// a line end; as it is otherwise.
std::string csvField(std::string_view text);

// The non-empty pieces of a list such as "A,B,,C".
std::vector<std::string> splitList(std::string_view text, char separator);

}  // namespace vexo::cli
