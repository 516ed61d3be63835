// The results window: at the wizard's smallest size its views are the
// golden frames pixel for pixel, the plots where they have always been; on a
// big screen it grows with the page.
// After an intended change of the plots, regenerate the frames with
//   CALIVANT_UPDATE_GOLDEN=1 ctest --test-dir build -R Results
// and look at them before committing.

#include <QImage>

#include "gui_fixture.h"
#include "results/results_plot.h"
#include "results_window.h"

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
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->width() - 20, canvas->height() - 10));
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

}  // namespace
}  // namespace calivant::gui::testing
