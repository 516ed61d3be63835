#pragma once
// The modal "Advanced Options" dialog: regression model, lookup table size,
// contrast stretch, gray curve smoothing and the correction of uneven
// illumination, with the contrast measured in
// the loaded target image. OK applies the choices to the run; Save As Default
// also stores them; Reset to Factory Defaults restores and stores the
// factory values.

#include <QDialog>
#include <filesystem>

#include "shell/advanced_options_form.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace calivant {
struct ScanSession;
}

namespace calivant::gui {

class GuiDialogs;

class AdvancedOptionsDialog final : public QDialog {
public:
    AdvancedOptionsDialog(ScanSession& session, GuiDialogs& dialogs, std::filesystem::path settingsFile,
                          QWidget* parent);

    // For tests and for the buttons.
    QComboBox* colorSpaceList() const { return colorSpace_; }
    QComboBox* modelList() const { return model_; }
    QComboBox* clutList() const { return clut_; }
    QCheckBox* eliminateBox() const { return eliminate_; }
    QCheckBox* stretchBox() const { return stretch_; }
    QCheckBox* illuminationBox() const { return illumination_; }
    QLineEdit* measuredDmaxField() const { return measuredDmax_; }
    QLineEdit* measuredDminField() const { return measuredDmin_; }
    QLineEdit* dmaxField() const { return dmax_; }
    QLineEdit* dminField() const { return dmin_; }
    QButtonGroup* smoothingButtons() const { return smoothing_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* saveDefaultButton() const { return saveDefault_; }
    QPushButton* resetButton() const { return reset_; }

private:
    void fillControls();
    AdvancedOptionsForm currentForm() const;
    // Checks and applies the fields; false (after the message) when a value is wrong.
    bool applyFields();
    void onOk();
    void onSaveAsDefault();
    void onReset();

    ScanSession& session_;
    GuiDialogs& dialogs_;
    std::filesystem::path settingsFile_;
    QComboBox* colorSpace_;
    QComboBox* model_;
    QComboBox* clut_;
    QCheckBox* eliminate_;
    QCheckBox* stretch_;
    QCheckBox* illumination_;
    QLineEdit* measuredDmax_;
    QLineEdit* measuredDmin_;
    QLineEdit* dmax_;
    QLineEdit* dmin_;
    QButtonGroup* smoothing_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* saveDefault_;
    QPushButton* reset_;
};

}  // namespace calivant::gui
