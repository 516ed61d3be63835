#include "output/ti3_file.h"

#include <string>

#include "util/format.h"

namespace calivant {
namespace {

std::string_view targetName(int targetType) {
    switch (static_cast<TargetType>(targetType)) {
        case TargetType::It8: return "an IT8";
        case TargetType::ColorChecker: return "a ColorChecker";
        case TargetType::ColorCheckerDc: return "a ColorChecker DC";
        case TargetType::ColorCheckerSg: return "a ColorChecker SG";
        case TargetType::Hct: return "a HCT";
    }
    return "a";
}

std::string patchLine(const std::string& name, const CieTriple& xyz, const DeviceRgb& device) {
    return formatText("%s %4f %4f %4f %4f %4f %4f\n",
                      {name, xyz[0], xyz[1], xyz[2], 100.0 * device[0], 100.0 * device[1], 100.0 * device[2]});
}

}  // namespace

int writeTi3(std::ostream& out, const TargetLayout& layout, const ReferenceData& reference,
             const TargetMeasurement& measurement) {
    out << "CTI3\n\n";
    out << "DESCRIPTOR \"Calivant - Scanner measurement of " << targetName(layout.targetType) << " target\"\n";
    out << "ORIGINATOR \"Calivant - Scanner\"\n";
    out << "DEVICE_CLASS \"INPUT\"\n";
    out << "COLOR_REP \"XYZ_RGB\"\n\n";
    out << "NUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z RGB_R RGB_G RGB_B\nEND_DATA_FORMAT\n\n";
    out << "NUMBER_OF_SETS " << formatText("%d", {layout.grayCount + layout.colorCount}) << "\nBEGIN_DATA\n";
    for (int i = 0; i < layout.grayCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const auto cell = static_cast<std::size_t>(grayPositionOfIndex(layout, i));
        out << patchLine(layout.grayCells[cell].name, reference.grayXYZ[at], measurement.grayWorking[at]);
    }
    for (int i = 0; i < layout.colorCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        out << patchLine(layout.colorCells[at].name, reference.colorXYZ[at], measurement.colorWorking[at]);
    }
    out << "END_DATA\n";
    out.flush();
    return out ? 0 : 1;
}

}  // namespace calivant
