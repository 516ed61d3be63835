#pragma once
// Text is UTF-8 throughout. Fixed byte caps (the description and copyright
// of a profile) must never cut a character in half.

#include <cstddef>
#include <string>
#include <string_view>

namespace calivant {

// The longest prefix of text of at most maxBytes bytes that does not end
// inside a multi-byte UTF-8 sequence.
std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace calivant
