#include "output/ti3_file.h"

#include <gtest/gtest.h>

#include <sstream>

namespace calivant {
namespace {

// The gray scale darkest first under its layout names, then the colours;
// XYZ as the reference holds it, device values in percent.
TEST(Ti3File, ListsEveryPatchWithItsReference) {
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::ColorChecker));
    ReferenceData reference;
    TargetMeasurement m;
    for (int i = 0; i < layout.grayCount; ++i) {
        reference.grayXYZ[static_cast<std::size_t>(i)] = {3.0 + i, 3.1 + i, 2.5 + i};
        m.grayWorking[static_cast<std::size_t>(i)] = {0.05 * i, 0.05 * i, 0.0625 * i};
    }
    reference.colorXYZ[17] = {14.5, 20.0, 33.33333};
    m.colorWorking[17] = {0.25, 0.5, 1.0};
    std::ostringstream out;
    ASSERT_EQ(writeTi3(out, layout, reference, m), 0);
    const std::string text = out.str();
    auto grayName = [&](int i) { return layout.grayCells[static_cast<std::size_t>(grayPositionOfIndex(layout, i))].name; };

    EXPECT_EQ(text.substr(0, 6), "CTI3\n\n");
    EXPECT_NE(text.find("DEVICE_CLASS \"INPUT\"\nCOLOR_REP \"XYZ_RGB\"\n"), std::string::npos);
    EXPECT_NE(text.find("SAMPLE_ID XYZ_X XYZ_Y XYZ_Z RGB_R RGB_G RGB_B\n"), std::string::npos);
    EXPECT_NE(text.find("NUMBER_OF_SETS 24\nBEGIN_DATA\n" + grayName(0) + " 3.0000 3.1000 2.5000 0.0000 0.0000 0.0000\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(grayName(5) + " 8.0000 8.1000 7.5000 25.0000 25.0000 31.2500\n"), std::string::npos);
    EXPECT_NE(text.find(layout.colorCells[17].name + " 14.5000 20.0000 33.3333 25.0000 50.0000 100.0000\nEND_DATA\n"),
              std::string::npos);
}

}  // namespace
}  // namespace calivant
