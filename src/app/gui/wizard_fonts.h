#pragma once
// The wizard's one font family: the desktop's own, which the message boxes
// and file dialogs use as well, so no window mixes a serif with a sans.

#include <QApplication>
#include <QFont>

namespace calivant::gui {

inline QString wizardFontFamily() { return QApplication::font().family(); }

inline QFont wizardFont(int pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont font(wizardFontFamily());
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

}  // namespace calivant::gui
