#pragma once
// The wizard's main window: the page title, the instructions panel with
// Next, Prev, Help and Exit, the setup page's controls with the image window,
// and the compute page's save buttons with the results window. Enter acts as
// Next and Escape as Prev while no modal window is open.

#include <QWidget>
#include <filesystem>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace calivant {
struct ScanSession;
}

namespace calivant::gui {

class GuiDialogs;
class ImageWindow;
class ImageCanvas;
class ResultsWindow;

class InstructionsPanel final : public QWidget {
public:
    InstructionsPanel(int margin, int controlHeight, const QFont& font, QWidget* parent);
    QPushButton* next;
    QPushButton* prev;
    QPushButton* help;
    QPushButton* exit;
    QPlainTextEdit* text;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int margin_;
    int controlHeight_;
};

class MainWindow final : public QWidget {
public:
    MainWindow(ScanSession& session, GuiDialogs& dialogs, std::filesystem::path settingsFile);
    ~MainWindow() override;

    // The wizard's operations, as the buttons run them.
    void nextPage();
    void previousPage();
    void showPage();
    void openManual();
    void onTargetTypeChanged(int index);
    void chooseTargetImage();
    // Loads a picture as the chooser does after the dialog (the command line's file).
    void openTargetImage(const std::string& path);
    void chooseReferenceFile();
    void rotateTargetImage();
    void mirrorTargetImage();
    // Puts the overlay on the chart the locator finds in the image, or on
    // the whole image with a note asking the user to drag it.
    void findChart();
    void runAdvancedOptions();
    int saveProfile();
    int saveProfileLog();

    int currentPage() const { return currentPage_; }
    int margin() const { return margin_; }

    // The controls, for tests.
    QLabel* pageTitle() const { return title_; }
    InstructionsPanel* instructions() const { return panel_; }
    QComboBox* typeList() const { return typeList_; }
    QPushButton* optionsButton() const { return optionsButton_; }
    QLineEdit* imagePathField() const { return imagePath_; }
    QPushButton* imageChooser() const { return imageChooser_; }
    QPushButton* rotateButton() const { return rotate_; }
    QPushButton* mirrorButton() const { return mirror_; }
    QPushButton* findChartButton() const { return findChart_; }
    QLabel* chartNote() const { return chartNote_; }
    QLineEdit* referencePathField() const { return referencePath_; }
    QPushButton* referenceChooser() const { return referenceChooser_; }
    QLineEdit* descriptionField() const { return description_; }
    QLineEdit* copyrightField() const { return copyright_; }
    ImageWindow* imageWindow() const { return imageWindow_; }
    ImageCanvas* imageCanvas() const;
    QPushButton* saveProfileButton() const { return saveProfileButton_; }
    QPushButton* saveLogButton() const { return saveLogButton_; }
    ResultsWindow* resultsWindow() const { return results_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createSetupControls();
    void layoutControls();
    // The smallest client area at which no control is cut off on either page.
    QSize smallestUnclippedSize() const;
    void setupPageShown();
    // The current page's instructions; on the compute page followed by where
    // the profile and the log were saved.
    void showInstructions();
    // Next, Rotate, Mirror and Find Chart, the chart note, and the image
    // window, after imageReady or referenceReady changed.
    void updateSetupButtons();
    QList<QWidget*> pageControls() const;

    ScanSession& session_;
    GuiDialogs& dialogs_;
    std::filesystem::path settingsFile_;
    QFont smallFont_;
    QFont titleFont_;
    int controlHeight_ = 0;
    int titleHeight_ = 0;
    int margin_ = 0;
    int currentPage_ = 1;
    int lastPage_ = 2;
    bool settingsSaved_ = false;
    QString savedProfileNote_;
    QString savedLogNote_;
    // The files saved from the current computation: neither replaces the other.
    std::string savedProfilePath_;
    std::string savedLogPath_;
    // The locator's last answer stands until the user moves the overlay.
    bool chartMissing_ = false;
    bool overlayDragged_ = false;

    QLabel* title_;
    InstructionsPanel* panel_;
    QComboBox* typeList_ = nullptr;
    QPushButton* optionsButton_ = nullptr;
    QList<QLabel*> labels_;
    QLineEdit* imagePath_ = nullptr;
    QPushButton* imageChooser_ = nullptr;
    QPushButton* rotate_ = nullptr;
    QPushButton* mirror_ = nullptr;
    QPushButton* findChart_ = nullptr;
    QLabel* chartNote_ = nullptr;
    QLineEdit* referencePath_ = nullptr;
    QPushButton* referenceChooser_ = nullptr;
    QLineEdit* description_ = nullptr;
    QLineEdit* copyright_ = nullptr;
    ImageWindow* imageWindow_ = nullptr;
    QPushButton* saveProfileButton_ = nullptr;
    QPushButton* saveLogButton_ = nullptr;
    ResultsWindow* results_ = nullptr;
};

}  // namespace calivant::gui
