#include "util/text_output.h"

namespace calivant {

int writeWhole(std::ostream& out, std::size_t& count, const void* data) {
    if (count == 0) return 0;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
    return out ? 0 : 1;
}

int writeLine(std::ostream& out, std::string_view text) {
    std::size_t count = text.size();
    if (writeWhole(out, count, text.data()) != 0) return 1;
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") return 0;
    static constexpr char kLineEnd[] = "\r\n";
    std::size_t endCount = 2;
    return writeWhole(out, endCount, kLineEnd);
}

}  // namespace calivant
