#include "results_window.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "measure/advanced_options.h"
#include "profile/illumination_correction.h"
#include "results/lighting_plot.h"
#include "results/results_plot.h"
#include "shell/scan_session.h"
#include "wizard_fonts.h"

namespace calivant::gui {
namespace {

QPoint toQPoint(PlotPoint p) { return {p.x, p.y}; }
QRect toQRect(const PlotBox& b) { return {b.left, b.top, b.right - b.left, b.bottom - b.top}; }
QColor toQColor(const PlotColor& c) { return {c[0], c[1], c[2]}; }

// Frame, title and black plot square of a background of the given side.
QImage plotBackground(const QString& title, const PlotFrame& f) {
    QImage image(f.size, f.size, QImage::Format_RGB32);
    image.fill(QColor(64, 64, 64));
    QPainter painter(&image);
    painter.fillRect(f.inset, f.inset, f.span + 1, f.span + 1, Qt::black);
    painter.setFont(wizardFont(scaledLength(f, 12), QFont::Bold));
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, f.size, f.inset), Qt::AlignCenter, title);
    return image;
}

void drawGrid(QImage& image, const PlotFrame& f) {
    QPainter painter(&image);
    painter.setFont(wizardFont(scaledLength(f, 8)));
    const int width = plotLineWidth(f);
    auto s = [&](int length) { return scaledLength(f, length); };
    for (int i = 0; i <= 10; ++i) {
        const int at = f.inset + i * f.span / 10;
        painter.setPen(QPen(QColor(160, 160, 160), width));
        painter.drawLine(at, f.inset, at, f.inset + f.span);
        painter.drawLine(f.inset, at, f.inset + f.span, at);
        painter.setPen(QColor(224, 224, 224));
        const QString label = QString::number(i / 10.0, 'f', 1);
        // x labels under the plot, y labels left of it.
        painter.drawText(QRect(at - s(10), f.inset + f.span + s(2), s(20), s(12)), Qt::AlignCenter, label);
        const int y = f.inset + f.span - i * f.span / 10;
        painter.drawText(QRect(0, y - s(6), f.inset - s(2), s(12)), Qt::AlignRight | Qt::AlignVCenter, label);
    }
}

// The frame of a background of this side drawn on its own, at (0, 0).
PlotFrame backgroundFrame(int size) {
    PlotFrame f = plotFrameFor(size, size + kResultTabStripHeight, 0);
    f.left = f.top = 0;
    return f;
}

}  // namespace

QImage chromaticityBackground(int size) {
    const PlotFrame f = backgroundFrame(size);
    QImage image = plotBackground(QStringLiteral("CIE Chromaticity Diagram"), f);
    for (int py = 0; py <= f.span; ++py) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(f.inset + py));
        const double y = (f.span - py) / static_cast<double>(f.span);
        const std::vector<double> crossings = spectralLocusCrossings(y);
        for (int px = 0; px <= f.span; ++px) {
            const double x = px / static_cast<double>(f.span);
            if (std::count_if(crossings.begin(), crossings.end(), [x](double c) { return x < c; }) % 2 == 0)
                continue;
            const auto c = diagramColor(x, y);
            line[f.inset + px] = qRgb(c[0], c[1], c[2]);
        }
    }
    drawGrid(image, f);
    return image;
}

QImage curvesBackground(int size) {
    const PlotFrame f = backgroundFrame(size);
    QImage image = plotBackground(QStringLiteral("Gamma Curves"), f);
    drawGrid(image, f);
    return image;
}

QImage lightingBackground(int size) { return plotBackground(QStringLiteral("Lighting"), backgroundFrame(size)); }

ResultsCanvas::ResultsCanvas(ScanSession& session, int margin, const QFont& smallFont, QWidget* parent)
    : QWidget(parent), session_(session), margin_(margin), smallFont_(smallFont) {
    setMinimumSize(kPlotBackgroundSize + 2 * margin, kPlotBackgroundSize + kResultTabStripHeight + 2 * margin);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

std::vector<ResultsCanvas::View> ResultsCanvas::views() const {
    std::vector<View> all{{QStringLiteral("Gamut"), chromaticityBackground, &ResultsCanvas::drawGamutView},
                          {QStringLiteral("Curves"), curvesBackground, &ResultsCanvas::drawCurvesView}};
    // Only these charts print the border patches that show the light.
    if (hasBorderPatches(session_.targetType))
        all.push_back({QStringLiteral("Lighting"), lightingBackground, &ResultsCanvas::drawLightingView});
    return all;
}

const QImage& ResultsCanvas::background(const View& view, int size) const {
    QImage& image = backgrounds_[view.name];
    if (image.width() != size) image = view.background(size);
    return image;
}

void ResultsCanvas::draw(QPainter& painter) const {
    const std::vector<View> all = views();
    const int current = std::clamp(view_, 0, static_cast<int>(all.size()) - 1);
    const View& view = all[static_cast<std::size_t>(current)];
    const PlotFrame frame = plotFrameFor(width(), height(), margin_);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(frame.left, frame.top, background(view, frame.size));
    painter.setBrush(Qt::NoBrush);
    (this->*view.draw)(painter, frame);
    drawTabs(painter, all, current);
}

void ResultsCanvas::drawGamutView(QPainter& painter, const PlotFrame& frame) const {
    const GamutPlot plot = gamutPlot(session_.reference, session_.profile, effectiveColorSpace(session_.options), frame);
    const int width = plotLineWidth(frame);
    auto marker = [&](PlotPoint p, bool large, const QColor& color) {
        const PlotBox b = markerBox(p, large, frame);
        const QRect box(b.left, b.top, b.right - b.left - 1, b.bottom - b.top - 1);
        // A dark ring keeps a light marker visible on the near-white
        // middle of the diagram.
        painter.setPen(QPen(Qt::black, width));
        painter.drawEllipse(box.adjusted(-width, -width, width, width));
        painter.setPen(QPen(color, width));
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
    // Dashed, so that it stands apart from the grid lines of much the same
    // gray; each side starts with a dash at its corner.
    QPen dashed(gray, width);
    dashed.setDashPattern({4, 3});
    painter.setPen(dashed);
    for (std::size_t k = 0; k < plot.srgb.size(); ++k)
        painter.drawLine(toQPoint(plot.srgb[k]), toQPoint(plot.srgb[(k + 1) % plot.srgb.size()]));
    // Over the patches gathered around the white point, not under them, in
    // a light halo that keeps it readable among their rings.
    const PlotPoint d50 = gamutPixel(frame, kD50ChromaticityX, kD50ChromaticityY);
    const int offset = scaledLength(frame, 3);
    QPainterPath label;
    label.addText(d50.x + offset, d50.y + offset, wizardFont(scaledLength(frame, 9)), QStringLiteral("D50"));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(label, QPen(QColor(255, 255, 255, 208), 3 * width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(label, Qt::black);
    painter.restore();
}

void ResultsCanvas::drawCurvesView(QPainter& painter, const PlotFrame& frame) const {
    const QColor colors[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    for (std::size_t c = 0; c < 3; ++c) {
        QPolygon line;
        for (const PlotPoint& p : curvePoints(session_.profile.perceptual.toneCurves[c], frame)) line << toQPoint(p);
        painter.setPen(QPen(colors[c], plotLineWidth(frame)));
        painter.drawPolyline(line);
    }
}

void ResultsCanvas::drawLightingView(QPainter& painter, const PlotFrame& frame) const {
    const BorderLighting lighting =
        borderLighting(session_.measurement, session_.targetLayout, session_.reference);
    const LightingPlot plot = lightingPlot(lighting, session_.targetLayout, frame);
    const int width = plotLineWidth(frame);
    const QColor outline(160, 160, 160), text(224, 224, 224);
    painter.save();
    for (const LightingPanel& panel : plot.panels) {
        painter.setFont(wizardFont(scaledLength(frame, 10), QFont::Bold));
        painter.setPen(text);
        painter.drawText(toQRect(panel.title), Qt::AlignHCenter | Qt::AlignTop,
                         panel.after ? QStringLiteral("After correction") : QStringLiteral("Before correction"));
        for (const PlotBox& box : panel.inner) painter.fillRect(toQRect(box), QColor(40, 40, 40));
        for (const LightingCell& cell : panel.border) {
            const QRect box = toQRect(cell.box);
            painter.fillRect(box, toQColor(cell.color));
            if (!cell.leftOut) continue;
            // Crossed out: a white cross in a dark rim reads on every colour
            // of the scale.
            const QLine lines[2] = {{box.topLeft(), box.bottomRight()}, {box.topRight(), box.bottomLeft()}};
            painter.setPen(QPen(Qt::black, 3 * width));
            painter.drawLines(lines, 2);
            painter.setPen(QPen(Qt::white, width));
            painter.drawLines(lines, 2);
        }
        // One seam's width outside the patches on every side: the cells end
        // a seam short of the chart's right and bottom edges.
        painter.setPen(QPen(outline, width));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(toQRect(panel.chart).adjusted(-2 * width, -2 * width, 0, 0));
    }
    const QRect legend = toQRect(plot.legend);
    for (int x = legend.left(); x <= legend.right(); ++x) {
        const double fraction = legend.width() > 1 ? (x - legend.left()) / static_cast<double>(legend.width() - 1) : 1.0;
        painter.setPen(toQColor(lightingScaleColor(fraction)));
        painter.drawLine(x, legend.top(), x, legend.bottom());
    }
    painter.setPen(QPen(outline, width));
    painter.drawRect(legend.adjusted(-width, -width, 0, 0));
    painter.setFont(wizardFont(scaledLength(frame, 8)));
    for (std::size_t k = 0; k < plot.tickX.size(); ++k) {
        const int x = plot.tickX[k];
        painter.setPen(QPen(outline, width));
        painter.drawLine(x, legend.bottom() + 1, x, plot.tickLabels[k].top - 1);
        painter.setPen(text);
        painter.drawText(toQRect(plot.tickLabels[k]), Qt::AlignHCenter | Qt::AlignTop,
                         QString::fromStdString(plot.scale.ticks[k].label));
    }
    painter.restore();
}

void ResultsCanvas::drawTabs(QPainter& painter, const std::vector<View>& views, int current) const {
    painter.setPen(QPen(Qt::white, 1));
    painter.setFont(smallFont_);
    const auto tabs = resultTabs(0, height() - kResultTabStripHeight, width(), height(), margin_,
                                 static_cast<int>(views.size()), current);
    for (std::size_t t = 0; t < tabs.size(); ++t) {
        const PlotBox& box = tabs[t].box;
        painter.drawText(QRect(box.left, box.top, box.right - box.left, box.bottom - box.top), Qt::AlignCenter,
                         views[t].name);
        QPolygon outline;
        for (const PlotPoint& p : tabs[t].outline) outline << toQPoint(p);
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
    const int view = tabViewAt(p.x(), 0, width(), static_cast<int>(views().size()));
    if (view == view_) return;
    view_ = view;
    update();
}

ResultsWindow::ResultsWindow(ScanSession& session, int margin, int captionHeight, const QFont& smallFont,
                             QWidget* parent)
    : QWidget(parent), captionHeight_(captionHeight), margin_(margin) {
    auto* caption = new QLabel(QStringLiteral(" Results"), this);
    caption->setAutoFillBackground(true);
    QPalette palette = caption->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 128));
    palette.setColor(QPalette::WindowText, Qt::white);
    caption->setPalette(palette);
    caption_ = caption;
    canvas_ = new ResultsCanvas(session, margin, smallFont, this);
    setMinimumSize(canvas_->minimumWidth(), canvas_->minimumHeight() + captionHeight);
    resize(minimumSize());
}

void ResultsWindow::fitInto(int width, int height) {
    const int canvasHeight = std::max(canvas_->minimumHeight(), height - captionHeight_);
    const PlotFrame frame = plotFrameFor(width, canvasHeight, margin_);
    resize(std::max(minimumWidth(), std::min(width, frame.size + 2 * margin_)), std::max(minimumHeight(), height));
}

void ResultsWindow::resizeEvent(QResizeEvent*) {
    caption_->setGeometry(0, 0, width(), captionHeight_);
    canvas_->setGeometry(0, captionHeight_, width(), height() - captionHeight_);
}

}  // namespace calivant::gui
