// Fuzzes the reference file reader with every target type: it must return
// one of its four results, set the counts from the target type, say why
// whenever it refuses, and never read or write outside its arrays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "reference/reference_file.h"
#include "measure/advanced_options.h"
#include "target/target_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int type = 0; type < calivant::kTargetTypeCount; ++type) {
        std::istringstream in(text);
        calivant::ReferenceData reference;
        calivant::ReferenceProblem problem;
        const int result = calivant::readReferenceFile(in, type, reference, problem);
        if (result < 0 || result > 3) std::abort();
        if ((result == 0) != problem.what.empty() || problem.line < 0) std::abort();
        static const calivant::TargetLayout layouts[] = {
            calivant::makeTargetLayout(0), calivant::makeTargetLayout(1), calivant::makeTargetLayout(2),
            calivant::makeTargetLayout(3), calivant::makeTargetLayout(4)};
        const calivant::TargetLayout& layout = layouts[type];
        if (reference.grayCount != layout.grayCount || reference.colorCount != layout.colorCount) std::abort();
        if (result == 0) {
            for (int i = 0; i < reference.grayCount; ++i)
                if (reference.grayXYZ[static_cast<std::size_t>(i)][0] == calivant::kReferenceMissing) std::abort();
        }
    }
    return 0;
}
