// The setup page puts the overlay on the chart the locator finds, and asks
// the user to drag it when there is none.

#include <cmath>

#include "gui_fixture.h"
#include "make-target/placement.h"
#include "make-target/synthetic_tiff.h"
#include "locate/layout_grid.h"

namespace calivant::gui::testing {
namespace {

// Renders a chart placed in a 600 x 450 picture and writes it as a TIFF.
SyntheticTarget writePlacedChart(const std::string& path, int targetType, const ReferenceData& reference,
                             const ChartPlacement& placement) {
    SyntheticTargetOptions options;
    options.targetType = targetType;
    options.width = 600;
    options.height = 450;
    options.noiseSigma = 0.005;
    SyntheticTarget target;
    std::string error;
    EXPECT_EQ(renderPlacedTarget(options, placement, reference, target, &error), kSyntheticOk) << error;
    EXPECT_EQ(writeSyntheticTiff(path, target.picture, {}, &error), 0) << error;
    return target;
}

// The largest distance of a found corner from the true one, in patch pitches
// along the chart's edges.
double worstCornerError(const OverlayQuad& truth, const OverlayQuad& found, const TargetLayout& layout) {
    const SiteGrid grid = siteGrid(layout);
    auto length = [](ImagePoint a, ImagePoint b) { return std::hypot(a.x - b.x, a.y - b.y); };
    const double pitch = std::min(length(truth.corners[0], truth.corners[3]) * grid.pitchU,
                                  length(truth.corners[0], truth.corners[1]) * grid.pitchT);
    double worst = 0.0;
    for (std::size_t k = 0; k < 4; ++k) worst = std::max(worst, length(truth.corners[k], found.corners[k]) / pitch);
    return worst;
}

TEST_F(WizardTest, LoadingAChartPutsTheOverlayOnItAndAChartlessPictureAsksForADrag) {
    MainWindow& w = window();
    w.onTargetTypeChanged(2);  // Macbeth Color Checker: the built-in reference is read
    ASSERT_EQ(session.referenceReady, 1);
    EXPECT_FALSE(w.findChartButton()->isEnabled());
    ChartPlacement placement;
    placement.angle = 23;
    placement.background = BackgroundKind::Striped;
    const std::string chart = (folder / "chart.tif").string();
    const OverlayQuad truth = writePlacedChart(chart, 1, session.reference, placement).quad;
    w.openTargetImage(chart);
    EXPECT_LE(worstCornerError(truth, session.overlay, session.targetLayout), 0.1);
    EXPECT_FALSE(w.chartNote()->isVisible());

    // Flat gray: the overlay covers the whole picture and the note asks for a drag.
    SyntheticPicture gray;
    gray.width = 600;
    gray.height = 450;
    gray.samples.assign(std::size_t{600} * 450 * 3, 128);
    const std::string flat = (folder / "gray.tif").string();
    ASSERT_EQ(writeSyntheticTiff(flat, gray, {}), 0);
    w.openTargetImage(flat);
    const OverlayQuad whole = session.overlay;
    resetOverlay(session, 600, 450);
    EXPECT_EQ(whole.corners, session.overlay.corners);
    EXPECT_TRUE(w.chartNote()->isVisible());
    EXPECT_EQ(w.chartNote()->text(), QStringLiteral("Could not find the chart (no chart patches in the picture): drag "
                                                    "the overlay corners onto the chart's corners"));
    EXPECT_TRUE(w.findChartButton()->isEnabled() && w.rotateButton()->isEnabled());

    // Dragging a corner hides the note, Find Chart brings it back; choosing
    // another image disables the button.
    const WindowQuad c = overlayWindowCorners(session.overlay, w.imageCanvas()->placement());
    const QPoint press(c[2].x - 2, c[2].y + 1);
    QTest::mousePress(w.imageCanvas(), Qt::LeftButton, {}, press);
    QTest::mouseMove(w.imageCanvas(), press + QPoint(-30, 25));
    QTest::mouseRelease(w.imageCanvas(), Qt::LeftButton, {}, press + QPoint(-30, 25));
    EXPECT_FALSE(w.chartNote()->isVisible());
    QTest::mouseClick(w.findChartButton(), Qt::LeftButton);
    EXPECT_TRUE(w.chartNote()->isVisible());
    w.chooseTargetImage();  // cancelled: nothing changes
    EXPECT_TRUE(w.findChartButton()->isEnabled() && w.chartNote()->isVisible());
    // The note is drawn whole, in the page's text size and colours (white on black, 21:1).
    EXPECT_GE(w.chartNote()->height(), w.chartNote()->heightForWidth(w.chartNote()->width()));
    EXPECT_EQ(w.chartNote()->font(), w.descriptionField()->font());
    EXPECT_EQ(w.chartNote()->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::black));

    // Next asks before it measures the whole picture; Cancel runs nothing,
    // OK runs the computation there.
    w.descriptionField()->setText(QStringLiteral("Flat"));
    dialogs.messages.clear();
    dialogs.askAnswers = {1};
    w.instructions()->next->click();
    const std::string question = "Warning: Could not find the chart: no chart patches in the picture. Click OK to "
                                 "measure the whole picture, or Cancel to place the overlay.";
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{question});
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_FALSE(session.measurement.measured);
    w.instructions()->next->click();
    EXPECT_EQ(dialogs.messages.front(), question);
    EXPECT_TRUE(session.measurement.measured);
    EXPECT_EQ(session.overlay.corners, whole.corners);
}

// Without a reference only the four turns of an IT8 are tried: a mirrored
// one (a transparency scanned from the back) is found once the reference is.
TEST_F(WizardTest, ChartIsLocatedAgainWhenTheReferenceIsLoaded) {
    MainWindow& w = window();
    w.onTargetTypeChanged(0);
    ChartPlacement placement;
    placement.angle = 90;
    placement.mirror = true;
    const std::string chart = (folder / "it8.tif").string(), referencePath = (folder / "it8.txt").string();
    const SyntheticTarget target = writePlacedChart(chart, 0, generatedReference(0), placement);
    ASSERT_EQ(writeReferencePath(referencePath, target), 0);
    w.openTargetImage(chart);
    EXPECT_TRUE(w.chartNote()->isVisible());
    EXPECT_EQ(w.chartNote()->text(), QStringLiteral("Could not find the chart (a mirrored IT8 can only be found with "
                                                    "its reference): choose the reference first"));
    dialogs.fileAnswers = {referencePath};
    w.chooseReferenceFile();
    ASSERT_EQ(session.referenceReady, 1) << ::testing::PrintToString(dialogs.messages);
    EXPECT_LE(worstCornerError(target.quad, session.overlay, session.targetLayout), 0.1);
    EXPECT_FALSE(w.chartNote()->isVisible());
}

}  // namespace
}  // namespace calivant::gui::testing
