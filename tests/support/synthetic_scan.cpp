#include "support/synthetic_scan.h"

#include <gtest/gtest.h>

namespace calivant::testing {

SyntheticScan renderScan(const SyntheticTargetOptions& options, const ReferenceData* reference) {
    SyntheticScan scan;
    std::string error;
    const ReferenceData used = reference ? *reference : generatedReference(options.targetType);
    EXPECT_EQ(renderSyntheticTarget(options, used, scan.target, &error), kSyntheticOk) << error;
    EXPECT_EQ(pictureToTargetImage(scan.target.picture, scan.image), 0);
    resetOverlayQuad(scan.overlay, scan.image.width, scan.image.height);
    return scan;
}

TargetMeasurement measureScan(const SyntheticScan& scan, const AdvancedOptions& options, MeasureMode mode) {
    return measureTarget(scan.image, scan.target.layout, scan.overlay, scan.target.reference, options, mode);
}

ProfileComputation computeScan(const SyntheticScan& scan, const AdvancedOptions& options,
                               TargetMeasurement* measurement) {
    const TargetMeasurement m = measureScan(scan, options);
    EXPECT_TRUE(m.measured);
    ProfileComputation computed = computeProfile({scan.target.layout, scan.target.reference, m, options});
    if (measurement) *measurement = m;
    return computed;
}

}  // namespace calivant::testing
