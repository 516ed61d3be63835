// The results window: at the wizard's smallest size its views are the
// golden frames pixel for pixel, the plots where they have always been; on a
// big screen it grows with the page.
// After an intended change of the plots, regenerate the frames with
//   CALIVANT_UPDATE_GOLDEN=1 ctest --test-dir build -R Results
// and look at them before committing.

#include <QImage>

#include "gui_fixture.h"
#include "make-target/device_kinds.h"
#include "profile/illumination_correction.h"
#include "results/results_plot.h"
#include "results_window.h"
#include "support/synthetic_scan.h"
#include "wizard_fonts.h"

namespace calivant::gui::testing {
namespace {

// The first pixel where frame and the golden file differ, or "" when they are the same.
std::string compareWithGolden(const QImage& frame, const std::string& name) {
    const QString path = QStringLiteral(CALIVANT_TEST_DATA_DIR "/gui/") + toQString(name);
    if (std::getenv("CALIVANT_UPDATE_GOLDEN")) frame.save(path);
    const QImage golden = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (golden.size() != frame.size())
        return name + ": size " + std::to_string(frame.width()) + "x" + std::to_string(frame.height()) + ", golden " +
               std::to_string(golden.width()) + "x" + std::to_string(golden.height());
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (frame.pixel(x, y) != golden.pixel(x, y))
                return name + ": first difference at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    return "";
}

TEST_F(WizardTest, ResultsGrowWithThePageAndKeepEveryPixelAtTheSmallestSize) {
    loadSample();
    MainWindow& w = window();
    w.descriptionField()->setText(QStringLiteral("Results"));
    w.nextPage();
    ASSERT_EQ(w.currentPage(), 2);
    ResultsCanvas* canvas = w.resultsWindow()->canvas();
    const int m = w.margin();

    w.resize(w.minimumSize());
    EXPECT_EQ(canvas->size(), QSize(440 + 2 * m, 460 + 2 * m));
    EXPECT_EQ(compareWithGolden(canvas->renderFrame(), "results-gamut.png"), "");
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->width() / 2, canvas->height() - 10));
    EXPECT_EQ(compareWithGolden(canvas->renderFrame(), "results-curves.png"), "");

    // On a big screen the window takes the page's height, and the plots the
    // largest square in it, drawn anew at that size; the tab strip stays 20
    // pixels high.
    w.resize(1920, 1080);
    ResultsWindow* results = w.resultsWindow();
    EXPECT_EQ(results->geometry().bottom(), w.height() - m - 1);
    EXPECT_LE(results->geometry().right(), w.width() - m - 1);
    const PlotFrame frame = plotFrameFor(canvas->width(), canvas->height(), m);
    EXPECT_EQ(frame.size, std::min(canvas->width(), canvas->height() - 20) - 2 * m);
    EXPECT_GT(frame.size, 2 * 400);
    const QImage curves = canvas->renderFrame();
    EXPECT_EQ(curves.pixel(frame.left, frame.top), qRgb(64, 64, 64));
    EXPECT_EQ(curves.pixel(frame.left - 1, frame.top), qRgb(0, 0, 0));
    const int right = frame.left + frame.inset + frame.span, top = frame.top + frame.inset;
    EXPECT_EQ(curves.pixel(right, top + frame.span * 3 / 20), qRgb(160, 160, 160));  // the grid's last line
    EXPECT_EQ(curves.pixel(right + 1 + plotLineWidth(frame), top + frame.span * 3 / 20), qRgb(64, 64, 64));
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(20, canvas->height() - 21));  // above the strip
    EXPECT_EQ(canvas->view(), CurvesView);
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(20, canvas->height() - 20));
    EXPECT_EQ(canvas->view(), GamutView);
    const PlotPoint blue = gamutPixel(frame, 0.15, 0.06);  // a corner of the dashed sRGB triangle
    EXPECT_EQ(canvas->renderFrame().pixel(blue.x, blue.y), qRgb(128, 128, 128));
}

std::vector<QString> tabNames(const ResultsCanvas& canvas) {
    std::vector<QString> names;
    for (const ResultsCanvas::View& view : canvas.views()) names.push_back(view.name);
    return names;
}

// Only the charts that print border patches show their light.
TEST_F(WizardTest, ResultsTabsOfEveryChart) {
    const std::vector<QString> plots{QStringLiteral("Gamut"), QStringLiteral("Curves")};
    std::vector<QString> withLight = plots;
    withLight.push_back(QStringLiteral("Lighting"));
    const std::pair<TargetType, std::vector<QString>> cases[] = {
        {TargetType::It8, plots},
        {TargetType::ColorChecker, plots},
        {TargetType::ColorCheckerDc, withLight},
        {TargetType::ColorCheckerSg, withLight},
        {TargetType::Hct, withLight},
    };
    for (const auto& [type, names] : cases) {
        session.targetType = static_cast<int>(type);
        const ResultsCanvas canvas(session, 6, wizardFont(15), nullptr);
        EXPECT_EQ(tabNames(canvas), names) << session.targetType;
    }
}

// An SG lit from one side with a vignetting lens, one white border patch in
// a shadow: the light before and after its correction, on one scale, the
// shadowed patch crossed out.
TEST_F(WizardTest, LightingViewOfAnUnevenlyLitChart) {
    SyntheticTargetOptions lit;
    lit.targetType = static_cast<int>(TargetType::ColorCheckerSg);
    lit.device = deviceModelOfKind(DeviceKind::MatrixShaper);
    const PatchCell cell = makeTargetLayout(lit.targetType).colorCells.front();
    lit.width = 700;
    lit.height = static_cast<int>(std::lround(lit.width * cell.width / cell.height));
    lit.bitsPerSample = 16;
    lit.gradient = 0.2;
    lit.gradientAngle = 30.0;
    lit.vignetting = 0.15;
    const calivant::testing::SyntheticScan scan = calivant::testing::renderScan(lit);
    AdvancedOptions options;
    options.correctIllumination = 1;
    session.targetType = lit.targetType;
    session.targetLayout = scan.target.layout;
    session.reference = scan.target.reference;
    session.measurement = calivant::testing::measureScan(scan, options);
    for (double& v : session.measurement.whiteMeasured[4]) v *= 0.96;
    correctIllumination(session.measurement, session.targetLayout, session.reference, options);
    ASSERT_EQ(session.measurement.illumination.status, IlluminationStatus::Corrected);
    ASSERT_EQ(session.measurement.illumination.leftOut.size(), 1u);

    const int m = 6;
    ResultsCanvas canvas(session, m, wizardFont(15), nullptr);
    canvas.resize(440 + 2 * m, 460 + 2 * m);
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(canvas.width() - 20, canvas.height() - 10));
    ASSERT_EQ(canvas.view(), LightingView);
    EXPECT_EQ(compareWithGolden(canvas.renderFrame(), "results-lighting.png"), "");
}

}  // namespace
}  // namespace calivant::gui::testing
