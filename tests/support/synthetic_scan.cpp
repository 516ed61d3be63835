#include "support/synthetic_scan.h"

#include <gtest/gtest.h>

namespace calivant::testing {

SyntheticScan renderScan(const SyntheticTargetOptions& options) {
    return renderScan(options, generatedReference(options.targetType));
}

SyntheticScan renderScan(const SyntheticTargetOptions& options, const ReferenceData& reference) {
    SyntheticScan scan;
    std::string error;
    EXPECT_EQ(renderSyntheticTarget(options, reference, scan.target, &error), kSyntheticOk) << error;
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
