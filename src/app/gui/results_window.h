#pragma once
// The compute page's "Results" window: the gamut view (device primaries and
// white against sRGB on the chromaticity diagram) and the curves view (the
// perceptual table's tone curves), chosen by two tabs along its bottom.

#include <QImage>
#include <QWidget>

namespace calivant {
struct ScanSession;
}

namespace calivant::gui {

// The two 440 x 440 backgrounds, drawn once.
const QImage& chromaticityBackground();
const QImage& curvesBackground();

class ResultsCanvas final : public QWidget {
public:
    ResultsCanvas(ScanSession& session, int margin, const QFont& smallFont, QWidget* parent);
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

    ScanSession& session_;
    int margin_;
    QFont smallFont_;
    int view_ = 0;
};

class ResultsWindow final : public QWidget {
public:
    ResultsWindow(ScanSession& session, int margin, int captionHeight, const QFont& smallFont, QWidget* parent);
    ResultsCanvas* canvas() const { return canvas_; }

private:
    ResultsCanvas* canvas_;
};

}  // namespace calivant::gui
