#pragma once
// Raw and line-wise writing of text files. Lines end with CR LF: the profile
// log is read on every platform, and its format fixes the line end.

#include <cstddef>
#include <ostream>
#include <string_view>

namespace calivant {

// Writes count bytes of data. Returns 0 on success (count unchanged: a stream
// either takes everything or fails) and 1 when the stream reports an error.
// A count of 0 writes nothing and succeeds.
int writeWhole(std::ostream& out, std::size_t& count, const void* data);

// Writes text, then CR LF unless text already ends with CR LF. Returns 0 on
// success, 1 when a write fails; after a failed text write no line end is
// attempted. An empty text writes a bare CR LF.
int writeLine(std::ostream& out, std::string_view text);

}  // namespace calivant
