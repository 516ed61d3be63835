#include "results_window.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "results/results_plot.h"
#include "shell/scan_session.h"
#include "wizard_fonts.h"

namespace calivant::gui {
namespace {

QPoint toQPoint(PlotPoint p) { return {p.x, p.y}; }

// Frame, title, black plot square, grid and labels every 0.1.
QImage plotFrame(const QString& title) {
    QImage image(kPlotBackgroundSize, kPlotBackgroundSize, QImage::Format_RGB32);
    image.fill(QColor(64, 64, 64));
    QPainter painter(&image);
    painter.fillRect(kPlotInset, kPlotInset, kPlotSpan + 1, kPlotSpan + 1, Qt::black);
    painter.setFont(wizardFont(12, QFont::Bold));
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, kPlotBackgroundSize, kPlotInset), Qt::AlignCenter, title);
    return image;
}

void drawGrid(QImage& image) {
    QPainter painter(&image);
    painter.setFont(wizardFont(8));
    for (int i = 0; i <= 10; ++i) {
        const int at = kPlotInset + i * kPlotSpan / 10;
        painter.setPen(QColor(160, 160, 160));
        painter.drawLine(at, kPlotInset, at, kPlotInset + kPlotSpan);
        painter.drawLine(kPlotInset, at, kPlotInset + kPlotSpan, at);
        painter.setPen(QColor(224, 224, 224));
        const QString label = QString::number(i / 10.0, 'f', 1);
        // x labels under the plot, y labels left of it.
        painter.drawText(QRect(at - 10, kPlotInset + kPlotSpan + 2, 20, 12), Qt::AlignCenter, label);
        const int y = kPlotInset + kPlotSpan - i * kPlotSpan / 10;
        painter.drawText(QRect(0, y - 6, kPlotInset - 2, 12), Qt::AlignRight | Qt::AlignVCenter, label);
    }
}

}  // namespace

const QImage& chromaticityBackground() {
    static const QImage image = [] {
        QImage frame = plotFrame(QStringLiteral("CIE Chromaticity Diagram"));
        for (int py = 0; py <= kPlotSpan; ++py)
            for (int px = 0; px <= kPlotSpan; ++px) {
                const double x = px / static_cast<double>(kPlotSpan);
                const double y = (kPlotSpan - py) / static_cast<double>(kPlotSpan);
                if (!insideSpectralLocus(x, y)) continue;
                const auto c = diagramColor(x, y);
                frame.setPixel(kPlotInset + px, kPlotInset + py, qRgb(c[0], c[1], c[2]));
            }
        drawGrid(frame);
        return frame;
    }();
    return image;
}

const QImage& curvesBackground() {
    static const QImage image = [] {
        QImage frame = plotFrame(QStringLiteral("Gamma Curves"));
        drawGrid(frame);
        return frame;
    }();
    return image;
}

ResultsCanvas::ResultsCanvas(ScanSession& session, int margin, const QFont& smallFont, QWidget* parent)
    : QWidget(parent), session_(session), margin_(margin), smallFont_(smallFont) {
    setFixedSize(kPlotBackgroundSize + 2 * margin, kPlotBackgroundSize + kResultTabStripHeight + 2 * margin);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ResultsCanvas::draw(QPainter& painter) const {
    const int m = margin_;
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(m, m, view_ == GamutView ? chromaticityBackground() : curvesBackground());
    painter.setBrush(Qt::NoBrush);
    if (view_ == GamutView) {
        const GamutPlot plot = gamutPlot(session_.reference, session_.profile, effectiveColorSpace(session_.options), m);
        auto marker = [&](PlotPoint p, bool large, const QColor& color) {
            const PlotBox b = markerBox(p, large);
            const QRect box(b.left, b.top, b.right - b.left - 1, b.bottom - b.top - 1);
            // A dark ring keeps a light marker visible on the near-white
            // middle of the diagram.
            painter.setPen(QPen(Qt::black, 1));
            painter.drawEllipse(box.adjusted(-1, -1, 1, 1));
            painter.setPen(QPen(color, 1));
            painter.drawEllipse(box);
        };
        for (const PlotPoint& p : plot.patches) marker(p, false, Qt::white);
        QPolygon gamut;
        for (const auto& primary : plot.primaries)
            if (primary) {
                marker(*primary, true, Qt::white);
                gamut << toQPoint(*primary);
            }
        if (gamut.size() == 3) {
            gamut << gamut.front();
            painter.drawPolyline(gamut);
        }
        const QColor gray(128, 128, 128);
        if (plot.white) marker(*plot.white, true, gray);
        // Dashed, so that it stands apart from the grid lines of much the
        // same gray; each side starts with a dash at its corner.
        QPen dashed(gray, 1);
        dashed.setDashPattern({4, 3});
        painter.setPen(dashed);
        for (std::size_t k = 0; k < plot.srgb.size(); ++k)
            painter.drawLine(toQPoint(plot.srgb[k]), toQPoint(plot.srgb[(k + 1) % plot.srgb.size()]));
        // Over the patches gathered around the white point, not under
        // them, in a light halo that keeps it readable among their rings.
        const PlotPoint d50 = gamutPixel(m, kD50ChromaticityX, kD50ChromaticityY);
        QPainterPath label;
        label.addText(d50.x + 3, d50.y + 3, wizardFont(9), QStringLiteral("D50"));
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.strokePath(label, QPen(QColor(255, 255, 255, 208), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(label, Qt::black);
        painter.restore();
    } else {
        const QColor colors[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
        for (int c = 0; c < 3; ++c) {
            QPolygon line;
            for (const PlotPoint& p :
                 curvePoints(session_.profile.perceptual.toneCurves[static_cast<std::size_t>(c)], m, width(), height()))
                line << toQPoint(p);
            painter.setPen(QPen(colors[c], 1));
            painter.drawPolyline(line);
        }
    }
    painter.setPen(QPen(Qt::white, 1));
    painter.setFont(smallFont_);
    const int top = height() - kResultTabStripHeight;
    const auto tabs = resultTabs(0, top, width(), height(), m, view_);
    const QString names[2] = {QStringLiteral("Gamut"), QStringLiteral("Curves")};
    for (int t = 0; t < 2; ++t) {
        const ResultTab& tab = tabs[static_cast<std::size_t>(t)];
        painter.drawText(QRect(tab.box.left, tab.box.top, tab.box.right - tab.box.left, tab.box.bottom - tab.box.top),
                         Qt::AlignCenter, names[t]);
        QPolygon outline;
        for (const PlotPoint& p : tab.outline) outline << toQPoint(p);
        painter.drawPolyline(outline);
    }
}

QImage ResultsCanvas::renderFrame() const {
    QImage frame(size(), QImage::Format_RGB32);
    QPainter painter(&frame);
    draw(painter);
    return frame;
}

void ResultsCanvas::showGamutView() {
    view_ = GamutView;
    update();
}

void ResultsCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter);
}

void ResultsCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    if (p.y() < height() - kResultTabStripHeight || p.y() >= height() || p.x() < 0 || p.x() >= width()) return;
    const int view = tabViewAt(p.x(), 0, width());
    if (view == view_) return;
    view_ = view;
    update();
}

ResultsWindow::ResultsWindow(ScanSession& session, int margin, int captionHeight, const QFont& smallFont,
                             QWidget* parent)
    : QWidget(parent) {
    auto* caption = new QLabel(QStringLiteral(" Results"), this);
    caption->setAutoFillBackground(true);
    QPalette palette = caption->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 128));
    palette.setColor(QPalette::WindowText, Qt::white);
    caption->setPalette(palette);
    canvas_ = new ResultsCanvas(session, margin, smallFont, this);
    caption->setGeometry(0, 0, canvas_->width(), captionHeight);
    canvas_->move(0, captionHeight);
    setFixedSize(canvas_->width(), canvas_->height() + captionHeight);
}

}  // namespace calivant::gui
