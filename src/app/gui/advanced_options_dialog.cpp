#include "advanced_options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "gui_dialogs.h"
#include "measure/patch_measurement.h"
#include "shell/computation.h"
#include "shell/scan_session.h"
#include "shell/settings.h"
#include "wizard_fonts.h"

namespace calivant::gui {
namespace {

// Dialog units: a quarter of the average letter width across, an eighth of
// the character height down. The average is taken over the 52 letters, as
// dialog templates were measured, not from the font's own figure, which for
// some families is narrower than their text and would cut labels off.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters =
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX = (letters / 26 + 1) / 2;
        baseY = metrics.height();
    }
    QRect rect(int x, int y, int w, int h) const { return {x * baseX / 4, y * baseY / 8, w * baseX / 4, h * baseY / 8}; }
    int baseX;
    int baseY;
};

template <typename W>
W* place(W* widget, const DialogUnits& du, int x, int y, int w, int h) {
    widget->setGeometry(du.rect(x, y, w, h));
    return widget;
}

}  // namespace

AdvancedOptionsDialog::AdvancedOptionsDialog(ScanSession& session, GuiDialogs& dialogs,
                                             std::filesystem::path settingsFile, QWidget* parent)
    : QDialog(parent), session_(session), dialogs_(dialogs), settingsFile_(std::move(settingsFile)) {
    setWindowTitle(QStringLiteral("Advanced Options"));
    setModal(true);
    QFont font(wizardFontFamily());
    font.setPointSize(8);
    setFont(font);
    const DialogUnits du(font);
    // 15 units taller than the classic dialog: the illumination box sits
    // between the smoothing group and the buttons.
    setFixedSize(du.rect(0, 0, 203, 305).size());
    // The frame of a group runs through the middle of its title, as the
    // positions below assume; drawn above it, it would cut the first row.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
                                 "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));

    place(new QGroupBox(QStringLiteral("Regression Model"), this), du, 4, 8, 195, 68)->lower();
    colorSpace_ = place(new QComboBox(this), du, 7, 19, 85, 12);
    model_ = place(new QComboBox(this), du, 95, 19, 82, 12);
    eliminate_ = place(new QCheckBox(QStringLiteral("Eliminate All Residuals"), this), du, 7, 39, 107, 10);
    clut_ = place(new QComboBox(this), du, 7, 55, 169, 12);

    place(new QGroupBox(QStringLiteral("Target Image Contrast"), this), du, 3, 83, 195, 95)->lower();
    place(new QLabel(QStringLiteral("DMAX:"), this), du, 7, 95, 24, 10);
    measuredDmax_ = place(new QLineEdit(this), du, 35, 95, 50, 12);
    place(new QLabel(QStringLiteral("DMIN:"), this), du, 7, 110, 24, 10);
    measuredDmin_ = place(new QLineEdit(this), du, 35, 111, 50, 12);
    // Measured, not chosen: drawn on the dialog's own face, as read-only
    // fields are, so they do not pass for the Stretch fields below them.
    for (QLineEdit* measured : {measuredDmax_, measuredDmin_}) {
        measured->setReadOnly(true);
        QPalette palette = measured->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        measured->setPalette(palette);
        measured->setFocusPolicy(Qt::NoFocus);
    }
    stretch_ = place(new QCheckBox(QStringLiteral("Stretch To:"), this), du, 7, 127, 77, 10);
    place(new QLabel(QStringLiteral("DMAX:"), this), du, 7, 140, 24, 10);
    dmax_ = place(new QLineEdit(this), du, 35, 142, 50, 12);
    place(new QLabel(QStringLiteral("DMIN:"), this), du, 7, 155, 24, 10);
    dmin_ = place(new QLineEdit(this), du, 35, 158, 50, 12);

    place(new QGroupBox(QStringLiteral("Gamma Curve Smoothing"), this), du, 3, 185, 195, 61)->lower();
    smoothing_ = new QButtonGroup(this);
    smoothing_->setExclusive(true);
    const QString smoothingNames[4] = {QStringLiteral("None"), QStringLiteral("Light"), QStringLiteral("Moderate"),
                                       QStringLiteral("Heavy")};
    for (int i = 0; i < 4; ++i)
        smoothing_->addButton(place(new QRadioButton(smoothingNames[i], this), du, 11, 198 + 11 * i, 80, 11), i);

    illumination_ = place(new QCheckBox(QStringLiteral("Correct uneven illumination"), this), du, 7, 250, 150, 10);

    reset_ = place(new QPushButton(QStringLiteral("Reset to Factory Defaults"), this), du, 9, 265, 90, 15);
    saveDefault_ = place(new QPushButton(QStringLiteral("Save As Default"), this), du, 103, 265, 90, 15);
    cancel_ = place(new QPushButton(QStringLiteral("Cancel"), this), du, 63, 285, 36, 15);
    ok_ = place(new QPushButton(QStringLiteral("OK"), this), du, 103, 285, 36, 15);
    ok_->setDefault(true);
    for (QPushButton* b : {reset_, saveDefault_, cancel_}) b->setAutoDefault(false);

    connect(model_, &QComboBox::currentIndexChanged, this,
            [this] { colorSpace_->setEnabled(colorSpaceChoosable(currentForm())); });
    connect(ok_, &QPushButton::clicked, this, [this] { onOk(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(saveDefault_, &QPushButton::clicked, this, [this] { onSaveAsDefault(); });
    connect(reset_, &QPushButton::clicked, this, [this] { onReset(); });

    fillControls();
}

void AdvancedOptionsDialog::fillControls() {
    const AdvancedOptionsForm form = formFromOptions(session_.options, session_.targetType);
    colorSpace_->clear();
    colorSpace_->addItems({QStringLiteral("Use CIE XYZ"), QStringLiteral("Use CIE Lab")});
    colorSpace_->setCurrentIndex(form.colorSpaceIndex);
    model_->clear();
    model_->addItems({QStringLiteral("Linear"), QStringLiteral("Quadratic"), QStringLiteral("Cubic"),
                      QStringLiteral("Automatic (Best Fit)")});
    model_->setCurrentIndex(form.modelIndex);
    colorSpace_->setEnabled(colorSpaceChoosable(form));
    eliminate_->setChecked(form.eliminateResiduals);
    clut_->clear();
    clut_->addItems({QStringLiteral("17x17x17 Color Lookup Table"), QStringLiteral("33x33x33 Color Lookup Table"),
                     QStringLiteral("65x65x65 Color Lookup Table")});
    clut_->setCurrentIndex(form.clutIndex);
    dmax_->setText(toQString(form.dmaxText));
    dmin_->setText(toQString(form.dminText));
    measuredDmax_->setText(QStringLiteral("N/A"));
    measuredDmin_->setText(QStringLiteral("N/A"));
    if (session_.imageReady == 1) {
        // Measures only with a reference as well; its warnings show first.
        const TargetContrast contrast = measureSessionContrast(session_);
        measuredDmax_->setText(toQString(formatContrastValue(contrast, true)));
        measuredDmin_->setText(toQString(formatContrastValue(contrast, false)));
    }
    stretch_->setChecked(form.stretch);
    smoothing_->button(form.smoothing)->setChecked(true);
    illumination_->setChecked(form.correctIllumination == 1);
    illumination_->setEnabled(form.correctIllumination >= 0);
}

AdvancedOptionsForm AdvancedOptionsDialog::currentForm() const {
    AdvancedOptionsForm form;
    form.colorSpaceIndex = colorSpace_->currentIndex();
    form.modelIndex = model_->currentIndex();
    form.clutIndex = clut_->currentIndex();
    form.eliminateResiduals = eliminate_->isChecked();
    form.stretch = stretch_->isChecked();
    form.smoothing = smoothing_->checkedId();
    form.dmaxText = toStdString(dmax_->text());
    form.dminText = toStdString(dmin_->text());
    form.correctIllumination = illumination_->isEnabled() ? (illumination_->isChecked() ? 1 : 0) : -1;
    return form;
}

bool AdvancedOptionsDialog::applyFields() {
    std::string message;
    if (applyOptionsForm(currentForm(), session_.options, message) != 0) {
        dialogs_.message(this, MessageKind::Error, QStringLiteral("Error"), toQString(message));
        return false;
    }
    remeasureAfterOptions(session_);
    return true;
}

void AdvancedOptionsDialog::onOk() {
    if (applyFields()) accept();
}

void AdvancedOptionsDialog::onSaveAsDefault() {
    if (applyFields()) saveOptionDefaults(session_.options, settingsFile_);
}

void AdvancedOptionsDialog::onReset() {
    resetOptionsToFactory(session_.options);
    saveOptionDefaults(session_.options, settingsFile_);
    fillControls();
}

}  // namespace calivant::gui
