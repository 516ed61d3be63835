#pragma once
// The image window: the display copy of the target image, centred, with the
// overlay drawn over it by inverting pixels, so that drawing it twice gives
// the picture back. The user drags the overlay's corners, edges or the whole
// quad with the left button; the hit tests and the arithmetic live in
// target/overlay_drag.

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "image/target_image.h"
#include "target/overlay_drag.h"

namespace calivant {
struct ScanSession;
}

namespace calivant::gui {

// Inverts the upper bit of every colour component (XOR with mid gray) along
// each segment, the end point excluded as a polyline draws; pixels outside
// the image are skipped. Applying it twice restores the image.
void xorSegments(QImage& frame, const std::vector<WindowSegment>& segments);

// The display copy (bottom-up, blue-green-red) as a top-down QImage.
QImage toQImage(const TargetImage& display);

class ImageCanvas final : public QWidget {
public:
    ImageCanvas(ScanSession& session, int margin, QWidget* parent);

    // The working image changed: rebuild the display copy for the current
    // size. A size change re-centres the copy at once and rebuilds it once
    // the user has stopped resizing.
    void imageChanged();
    DisplayPlacement placement() const;
    // What the window shows: black, the display copy at its origin, the
    // overlay; without an image that counts (imageReady 0), "No target image".
    QImage renderFrame() const;
    const OverlayDrag& drag() const { return drag_; }
    // Called whenever a drag has moved the overlay.
    std::function<void()> overlayDragged;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setDragCursor(DragCursor cursor);

    ScanSession& session_;
    int margin_;
    QImage display_;
    OverlayDrag drag_;
    QTimer resizeSettled_;
};

// The image window with its caption "Target Image".
class ImageWindow final : public QWidget {
public:
    ImageWindow(ScanSession& session, int margin, int captionHeight, QWidget* parent);
    ImageCanvas* canvas() const { return canvas_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* caption_;
    ImageCanvas* canvas_;
    int captionHeight_;
};

}  // namespace calivant::gui
