// The results window: at the wizard's smallest size its views are the
// golden frames pixel for pixel; on a big screen it grows with the page.
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
}

}  // namespace
}  // namespace calivant::gui::testing
