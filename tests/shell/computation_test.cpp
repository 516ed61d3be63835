// Compute asks before it fits a profile to a reference that does not seem to
// belong to the chart, as it asks about a gray scale out of order.
#include <gtest/gtest.h>

#include "profile/reference_match.h"
#include "shell/computation.h"
#include "shell/recording_platform.h"
#include "shell/scan_session.h"
#include "shell/setup_actions.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

TEST(Computation, AsksAboutAForeignReferenceAndGoesOnOnlyWhenTold) {
    SyntheticTargetOptions options;
    options.targetType = 1;
    testing::SyntheticScan scan = testing::renderScan(options);
    RecordingPlatform platform;
    ScanSession session{platform};
    session.targetType = 1;
    resetOverlay(session, scan.image.width, scan.image.height);
    session.image = std::move(scan.image);
    session.reference = scan.target.reference;
    for (std::size_t i = 0; i < 18; ++i) {
        session.reference.colorXYZ[i] = scan.target.reference.colorXYZ[(i * 7 + 3) % 18];
        session.reference.colorLab[i] = scan.target.reference.colorLab[(i * 7 + 3) % 18];
    }
    session.imageReady = session.referenceReady = 1;
    // Control characters never reach the description.
    setDescription(session, "Scanner\nCopyright: forged\x1b[0m");
    EXPECT_EQ(session.description, "ScannerCopyright: forged[0m");

    platform.askAnswers = {1, 0};
    EXPECT_EQ(computeSessionProfile(session), 1);
    const std::vector<std::string> asked = platform.messages(RecordingPlatform::Kind::AskWarning);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], referenceMismatchQuestion(referenceMismatchError(session.measurement, session.reference)) +
                            "\nClick OK to continue or Cancel to abort.");
    EXPECT_EQ(computeSessionProfile(session), 0);
}

}  // namespace
}  // namespace calivant
