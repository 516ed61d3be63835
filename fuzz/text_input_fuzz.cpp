// Fuzzes the number parsers and the tokenizer on arbitrary lines: none may
// read past its input, overflow, or return a token list beyond its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "reference/text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    std::string line;
    while (calivant::readTextLine(in, line) == 0) {
        if (line.empty() || line.size() > calivant::kMaxLineLength) std::abort();
        const auto tokens = calivant::splitTokens(line);
        if (tokens.size() > calivant::kMaxTokens) std::abort();
        for (const std::string& token : tokens) {
            double real = 0;
            std::int32_t integer = 0;
            calivant::parseReal(token, real);
            calivant::parseInteger(token, integer);
            calivant::equalsNoCase(token, "SAMPLE_ID");
        }
    }
    double real = 0;
    std::int32_t integer = 0;
    calivant::parseReal(text, real);
    calivant::parseInteger(text, integer);
    return 0;
}
