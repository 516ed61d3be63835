#include "make-target/device_kinds.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

// Every kind renders a colour to device values and reads them back as the
// same colour: the truth the benchmarks and tests measure against.
TEST(DeviceKinds, RenderAndReadBackAgree) {
    const CieTriple colours[] = {{20.0, 12.0, 5.0}, {40.0, 45.0, 60.0}, {3.0, 3.2, 2.8}, {70.0, 75.0, 65.0}};
    for (DeviceKind kind : kDeviceKinds) {
        const DeviceModel model = deviceModelOfKind(kind);
        ASSERT_EQ(checkDeviceModel(model), 0) << deviceKindName(kind);
        EXPECT_EQ(deviceKindNamed(deviceKindName(kind)), kind);
        for (const CieTriple& xyz : colours) {
            const CieTriple back = xyzFromDevice(model, deviceFromXyz(model, xyz));
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], xyz[c], 1e-9) << deviceKindName(kind);
        }
    }
    EXPECT_EQ(deviceKindNamed("flatbed"), std::nullopt);

    DeviceModel flare = deviceModelOfKind(DeviceKind::Camera);
    flare.flare = 0.5;
    EXPECT_EQ(checkDeviceModel(flare), 1);
    DeviceModel crosstalk = deviceModelOfKind(DeviceKind::Crosstalk);
    crosstalk.crosstalk[2] = crosstalk.crosstalk[1];
    EXPECT_EQ(checkDeviceModel(crosstalk), 1);
    DeviceModel look = deviceModelOfKind(DeviceKind::CameraLook);
    look.exposure = 1.5;
    EXPECT_EQ(checkDeviceModel(look), 1);
}

// The matrices after the curves leave every colour of a generated chart
// inside the device's range: a clipped colour would measure no device.
TEST(DeviceKinds, MixingAfterTheCurvesStaysInRange) {
    const ReferenceData reference = generatedReference(static_cast<int>(TargetType::Hct));
    for (DeviceKind kind : {DeviceKind::Saturation, DeviceKind::CameraLook}) {
        const DeviceModel model = deviceModelOfKind(kind);
        for (int i = 0; i < reference.colorCount; ++i) {
            const DeviceRgb linear = linearFromXyz(model, reference.colorXYZ[static_cast<std::size_t>(i)]);
            const DeviceRgb device = encodeDeviceKind(model, linear);
            for (double v : device) {
                EXPECT_GT(v, 0.0) << deviceKindName(kind) << " " << i;
                EXPECT_LT(v, 1.0) << deviceKindName(kind) << " " << i;
            }
        }
    }
}

}  // namespace
}  // namespace calivant
