#pragma once
// The compute page's "Results" window: one view per tab along its bottom,
// the gamut view (device primaries and white against sRGB on the
// chromaticity diagram), the curves view (the perceptual table's tone
// curves) and, for the charts with border patches, the lighting view (the
// border patches' brightness before and after the illumination correction). It grows with the page: the plots are drawn anew in the largest
// square that fits, and at the smallest size they are where they always were.

#include <QImage>
#include <QWidget>
#include <map>
#include <vector>

#include "results/results_plot.h"

namespace calivant {
struct ScanSession;
}

namespace calivant::gui {

// The backgrounds at a side of size pixels (440 at the smallest): frame,
// title, black plot square, grid and labels every 0.1; the chromaticity
// diagram's with the spectral locus filled.
QImage chromaticityBackground(int size);
QImage curvesBackground(int size);
// Frame, title and black plot square, without a grid.
QImage lightingBackground(int size);

class ResultsCanvas final : public QWidget {
public:
    ResultsCanvas(ScanSession& session, int margin, const QFont& smallFont, QWidget* parent);

    // One tab: its name, its background and what it draws over it.
    struct View {
        QString name;
        QImage (*background)(int size);
        void (ResultsCanvas::*draw)(QPainter& painter, const PlotFrame& frame) const;
    };
    // The views of the session's chart, in tab order.
    std::vector<View> views() const;

    int view() const { return view_; }
    // Each new profile is first shown by its gamut, as the compute page's
    // instructions describe.
    void showGamutView();
    QImage renderFrame() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void draw(QPainter& painter) const;
    void drawGamutView(QPainter& painter, const PlotFrame& frame) const;
    void drawCurvesView(QPainter& painter, const PlotFrame& frame) const;
    void drawLightingView(QPainter& painter, const PlotFrame& frame) const;
    // The strip along the bottom: every view's tab, the current one open
    // toward its plot.
    void drawTabs(QPainter& painter, const std::vector<View>& views, int current) const;
    // The view's background at the frame's size, drawn once per size.
    const QImage& background(const View& view, int size) const;

    ScanSession& session_;
    int margin_;
    QFont smallFont_;
    int view_ = 0;
    mutable std::map<QString, QImage> backgrounds_;
};

class ResultsWindow final : public QWidget {
public:
    ResultsWindow(ScanSession& session, int margin, int captionHeight, const QFont& smallFont, QWidget* parent);
    ResultsCanvas* canvas() const { return canvas_; }
    // Takes the height given and as much of the width as the plots' square
    // uses; never smaller than the plots at their smallest.
    void fitInto(int width, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* caption_;
    ResultsCanvas* canvas_;
    int captionHeight_;
    int margin_;
};

}  // namespace calivant::gui
