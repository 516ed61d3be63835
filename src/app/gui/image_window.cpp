#include "image_window.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "image/display_image.h"
#include "shell/scan_session.h"

namespace calivant::gui {
namespace {

constexpr QRgb kXorMask = 0x00808080;
// Scaling a large scan takes a while: wait this long after the last size
// change of a resize before building the display copy again.
constexpr int kResizeSettleMs = 200;

void xorPixel(QImage& frame, std::int64_t x, std::int64_t y) {
    if (x < 0 || y < 0 || x >= frame.width() || y >= frame.height()) return;
    auto* line = reinterpret_cast<QRgb*>(frame.scanLine(static_cast<int>(y)));
    line[x] ^= kXorMask;
}

// The steps k in [0, n) whose major coordinate start + k * step lies in
// [0, size).
void visibleSteps(std::int64_t start, int step, std::int64_t n, std::int64_t size, std::int64_t& first,
                  std::int64_t& last) {
    if (step > 0) {
        first = std::max<std::int64_t>(0, -start);
        last = std::min<std::int64_t>(n, size - start);
    } else {
        first = std::max<std::int64_t>(0, start - (size - 1));
        last = std::min<std::int64_t>(n, start + 1);
    }
}

void xorLine(QImage& frame, WindowPoint a, WindowPoint b) {
    const std::int64_t dx = std::int64_t{b.x} - a.x;
    const std::int64_t dy = std::int64_t{b.y} - a.y;
    const std::int64_t adx = std::llabs(dx);
    const std::int64_t ady = std::llabs(dy);
    const std::int64_t n = std::max(adx, ady);
    if (n == 0) return;
    const int sx = dx < 0 ? -1 : 1;
    const int sy = dy < 0 ? -1 : 1;
    // The minor coordinate of step k is the nearest pixel to the true line
    // (midpoint rule); computing it directly lets the loop start where the
    // line enters the frame, however far away its ends lie.
    std::int64_t first = 0, last = 0;
    if (adx >= ady) {
        visibleSteps(a.x, sx, n, frame.width(), first, last);
        for (std::int64_t k = first; k < last; ++k)
            xorPixel(frame, a.x + k * sx, a.y + sy * ((2 * k * ady + n) / (2 * n)));
    } else {
        visibleSteps(a.y, sy, n, frame.height(), first, last);
        for (std::int64_t k = first; k < last; ++k)
            xorPixel(frame, a.x + sx * ((2 * k * adx + n) / (2 * n)), a.y + k * sy);
    }
}

}  // namespace

void xorSegments(QImage& frame, const std::vector<WindowSegment>& segments) {
    Q_ASSERT(frame.format() == QImage::Format_RGB32);
    for (const WindowSegment& s : segments) xorLine(frame, s.from, s.to);
}

QImage toQImage(const TargetImage& display) {
    if (display.format != PixelFormat::Rgb24 || display.width <= 0 || display.height <= 0) return {};
    QImage image(display.width, display.height, QImage::Format_RGB32);
    for (int y = 0; y < display.height; ++y) {
        const std::uint8_t* source = display.rows[static_cast<std::size_t>(display.height - 1 - y)];
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < display.width; ++x) line[x] = qRgb(source[3 * x + 2], source[3 * x + 1], source[3 * x]);
    }
    return image;
}

ImageCanvas::ImageCanvas(ScanSession& session, int margin, QWidget* parent)
    : QWidget(parent), session_(session), margin_(margin) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resizeSettled_.setSingleShot(true);
    resizeSettled_.setInterval(kResizeSettleMs);
    connect(&resizeSettled_, &QTimer::timeout, this, [this] {
        if (session_.imageReady == 1) imageChanged();
    });
}

void ImageCanvas::resizeEvent(QResizeEvent*) {
    if (!display_.isNull()) resizeSettled_.start();
}

void ImageCanvas::imageChanged() {
    resizeSettled_.stop();  // built for the size it has now
    const std::optional<DisplaySize> fitted = displaySizeFor(session_.image, width(), height(), margin_);
    if (!fitted) return;
    const DisplaySize size = *fitted;
    if (buildDisplayImage(session_.image, size, session_.displayImage) != 0) {
        session_.displayWidth = 0;
        session_.displayHeight = 0;
    } else {
        session_.displayWidth = size.width;
        session_.displayHeight = size.height;
    }
    display_ = toQImage(session_.displayImage);
    update();
}

DisplayPlacement ImageCanvas::placement() const {
    if (display_.isNull() || session_.imageReady != 1) return {};
    const DisplayOrigin origin =
        displayOriginFor({session_.displayWidth, session_.displayHeight}, width(), height());
    session_.displayOrigin = origin;
    return {session_.image.width, session_.image.height, session_.displayWidth, session_.displayHeight,
            origin.x, origin.y};
}

QImage ImageCanvas::renderFrame() const {
    QImage frame(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
    frame.fill(Qt::black);
    const DisplayPlacement p = placement();
    if (p.displayWidth <= 0) {
        // Until the first picture has been read (or when its display copy
        // could not be made), the window says there is none.
        QPainter painter(&frame);
        painter.setFont(font());
        painter.setPen(QColor(128, 128, 128));
        painter.drawText(frame.rect(), Qt::AlignCenter, QStringLiteral("No target image"));
        return frame;
    }
    {
        QPainter painter(&frame);
        painter.drawImage(p.originX, p.originY, display_);
    }
    xorSegments(frame, overlaySegments(session_, p));
    return frame;
}

void ImageCanvas::paintEvent(QPaintEvent*) {
    // Only the display copy and the overlay are painted: dragging never
    // touches the working image.
    QPainter painter(this);
    painter.drawImage(0, 0, renderFrame());
}

void ImageCanvas::setDragCursor(DragCursor cursor) {
    switch (cursor) {
        case DragCursor::SizeNeSw: setCursor(Qt::SizeBDiagCursor); break;
        case DragCursor::SizeNwSe: setCursor(Qt::SizeFDiagCursor); break;
        case DragCursor::SizeWe: setCursor(Qt::SizeHorCursor); break;
        case DragCursor::SizeNs: setCursor(Qt::SizeVerCursor); break;
        case DragCursor::UpArrow: setCursor(Qt::UpArrowCursor); break;
        case DragCursor::Arrow: setCursor(Qt::ArrowCursor); break;
    }
}

void ImageCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    // Qt keeps sending moves and the release here while the button is held
    // (the implicit grab), wherever the pointer goes.
    setDragCursor(pressOverlay(drag_, session_.overlay, placement(), {p.x(), p.y()}));
}

void ImageCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const bool wasDragging = drag_.dragging;
    setDragCursor(moveOverlay(drag_, session_.overlay, placement(), {p.x(), p.y()}));
    if (!wasDragging) return;
    update();
    if (overlayDragged) overlayDragged();
}

void ImageCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    releaseOverlay(drag_);
    setCursor(Qt::ArrowCursor);
}

ImageWindow::ImageWindow(ScanSession& session, int margin, int captionHeight, QWidget* parent)
    : QWidget(parent), captionHeight_(captionHeight) {
    auto* caption = new QLabel(QStringLiteral(" Target Image"), this);
    caption->setAutoFillBackground(true);
    QPalette palette = caption->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 128));
    palette.setColor(QPalette::WindowText, Qt::white);
    caption->setPalette(palette);
    caption_ = caption;
    canvas_ = new ImageCanvas(session, margin, this);
}

void ImageWindow::resizeEvent(QResizeEvent*) {
    caption_->setGeometry(0, 0, width(), captionHeight_);
    canvas_->setGeometry(0, captionHeight_, width(), std::max(0, height() - captionHeight_));
}

}  // namespace calivant::gui
