// The image window offscreen: the overlay is drawn by inverting pixels where
// the geometry says, and dragging moves the stored corners.

#include <QMouseEvent>

#include "gui_fixture.h"
#include "main_window.h"
#include "image_window.h"

namespace calivant::gui::testing {
namespace {

class ImageWindowTest : public WizardTest {
protected:
    QImage pictureOnly(const ImageCanvas* canvas, const DisplayPlacement& p) {
        QImage frame(canvas->width(), canvas->height(), QImage::Format_RGB32);
        frame.fill(Qt::black);
        const QImage display = toQImage(session.displayImage);
        for (int y = 0; y < display.height(); ++y)
            for (int x = 0; x < display.width(); ++x) frame.setPixel(p.originX + x, p.originY + y, display.pixel(x, y));
        return frame;
    }

    void send(QWidget* widget, QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
        QMouseEvent event(type, p, widget->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
};

TEST_F(ImageWindowTest, RenderedOverlayLiesWhereTheGeometrySays) {
    loadSample();
    MainWindow& w = window();
    ImageCanvas* canvas = w.imageCanvas();
    const DisplayPlacement p = canvas->placement();
    // 1400 x 980 fitted into the canvas less 8 margins each way, keeping
    // its aspect ratio.
    ASSERT_GT(p.displayWidth, 100);
    const int availableWidth = canvas->width() - 8 * w.margin();
    const int availableHeight = canvas->height() - 8 * w.margin();
    if (availableWidth * 980 / 1400 <= availableHeight) {
        EXPECT_EQ(p.displayWidth, availableWidth);
        EXPECT_EQ(p.displayHeight, availableWidth * 980 / 1400);
    } else {
        EXPECT_EQ(p.displayHeight, availableHeight);
        EXPECT_EQ(p.displayWidth, availableHeight * 1400 / 980);
    }
    EXPECT_EQ(p.originX, (canvas->width() - p.displayWidth) / 2);

    const QImage frame = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(frame.size(), canvas->size());
    // For a look by eye: CALIVANT_GUI_SNAPSHOT=/tmp/frame.png saves the frame.
    if (const char* snapshot = std::getenv("CALIVANT_GUI_SNAPSHOT")) window().grab().save(snapshot);
    EXPECT_EQ(frame, canvas->renderFrame());
    const QImage picture = pictureOnly(canvas, p);
    auto inverted = [&](int x, int y) { return (frame.pixel(x, y) ^ picture.pixel(x, y)) == 0xFF808080u - 0xFF000000u; };

    // Right after loading, the outline runs along the picture's border:
    // corner 0 on its bottom-left pixel, corner 2 on its top-right pixel.
    const WindowQuad corners = overlayWindowCorners(session.overlay, p);
    EXPECT_EQ(corners[0], (WindowPoint{p.originX, p.originY + p.displayHeight - 1}));
    EXPECT_EQ(corners[2], (WindowPoint{p.originX + p.displayWidth - 1, p.originY}));
    // Along the bottom edge between the handles, every pixel is inverted once.
    for (int x = corners[0].x + 3; x < corners[3].x - 3; x += 7) EXPECT_TRUE(inverted(x, corners[0].y)) << x;
    // The handle's outline 2 pixels out from corner 2, its inside untouched.
    EXPECT_TRUE(inverted(corners[2].x - 2, corners[2].y + 2));
    EXPECT_TRUE(inverted(corners[2].x + 2, corners[2].y + 2));
    EXPECT_FALSE(inverted(corners[2].x - 1, corners[2].y + 1));
    // Beyond the picture the black background is inverted to mid gray.
    EXPECT_EQ(frame.pixel(corners[2].x + 2, corners[2].y - 2), qRgb(128, 128, 128));

    // A patch marker: the middle half of the first colour cell.
    const PatchCell& cell = session.targetLayout.colorCells[0];
    const WindowPoint m0 = overlayToWindow(cell.u + cell.width / 4, 1.0 - cell.t - cell.height / 4, corners);
    const WindowPoint m1 = overlayToWindow(cell.u + 3 * cell.width / 4, 1.0 - cell.t - cell.height / 4, corners);
    EXPECT_TRUE(inverted(m0.x, m0.y));
    EXPECT_TRUE(inverted((m0.x + m1.x) / 2, m0.y));
    EXPECT_FALSE(inverted((m0.x + m1.x) / 2, m0.y + 3));  // inside the marker

    // Drawing the overlay a second time gives the picture back.
    QImage twice = frame;
    xorSegments(twice, overlaySegments(session, p));
    EXPECT_EQ(twice, picture);
}

TEST_F(ImageWindowTest, DraggingACornerWithTheMouse) {
    loadSample();
    MainWindow& w = window();
    ImageCanvas* canvas = w.imageCanvas();
    const DisplayPlacement p = canvas->placement();
    const WindowQuad before = overlayWindowCorners(session.overlay, p);
    const QPoint press(before[2].x - 2, before[2].y + 1);
    send(canvas, QEvent::MouseButtonPress, press, Qt::LeftButton);
    EXPECT_TRUE(canvas->drag().dragging);
    EXPECT_EQ(canvas->cursor().shape(), Qt::SizeBDiagCursor);
    send(canvas, QEvent::MouseMove, press + QPoint(-30, 25), Qt::LeftButton);
    send(canvas, QEvent::MouseButtonRelease, press + QPoint(-30, 25), Qt::NoButton);
    EXPECT_FALSE(canvas->drag().dragging);
    const WindowQuad after = overlayWindowCorners(session.overlay, p);
    EXPECT_EQ(after[2], (WindowPoint{before[2].x - 30, before[2].y + 25}));
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    // Stored in image coordinates: the display scale applied in reverse.
    EXPECT_NEAR(session.overlay.corners[2].x, 1399.0 - 30.0 * 1399 / (p.displayWidth - 1), 1e-9);

    // Hovering over an edge shows the sizing cursor; outside, the arrow.
    send(canvas, QEvent::MouseMove, QPoint((after[0].x + after[3].x) / 2, after[0].y), Qt::NoButton);
    EXPECT_EQ(canvas->cursor().shape(), Qt::SizeVerCursor);
    send(canvas, QEvent::MouseMove, QPoint(1, 1), Qt::NoButton);
    EXPECT_EQ(canvas->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ImageWindowTest, MouseIsIgnoredWithoutAPicture) {
    MainWindow& w = window();
    ImageCanvas* canvas = w.imageCanvas();
    send(canvas, QEvent::MouseButtonPress, QPoint(0, 0), Qt::LeftButton);
    send(canvas, QEvent::MouseMove, QPoint(10, 10), Qt::LeftButton);
    EXPECT_FALSE(canvas->drag().dragging);
    const QImage frame = canvas->renderFrame();
    EXPECT_EQ(frame.pixel(0, 0), qRgb(0, 0, 0));
}

TEST_F(ImageWindowTest, RotatedOverlayStillDrawsClipped) {
    loadSample();
    MainWindow& w = window();
    w.rotateTargetImage();
    // The corners kept their coordinates and now reach past the picture.
    EXPECT_DOUBLE_EQ(session.overlay.corners[2].x, 1399.0);
    const QImage frame = w.imageCanvas()->renderFrame();
    EXPECT_EQ(frame.size(), w.imageCanvas()->size());
}

}  // namespace
}  // namespace calivant::gui::testing
