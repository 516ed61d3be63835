#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QValidator>
#include <filesystem>
#include <system_error>

#include "advanced_options_dialog.h"
#include "gui_dialogs.h"
#include "image_window.h"
#include "output/profile_log.h"
#include "shell/computation.h"
#include "results_window.h"
#include "shell/data_folder.h"
#include "shell/platform.h"
#include "shell/saving.h"
#include "shell/scan_session.h"
#include "shell/settings.h"
#include "shell/setup_actions.h"
#include "util/paths.h"
#include "wizard_fonts.h"
#include "wizard_texts.h"

namespace calivant::gui {
namespace {

// Keeps control characters out of the description and copyright fields: a
// line break would forge lines of the log, an escape byte would reach
// whoever shows the profile's description.
class NoControlCharacters : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& text, int& /*position*/) const override {
        for (const QChar c : text)
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0)) return Invalid;
        return Acceptable;
    }
};

// Height of a window's sizing frame, added twice to a font's text height to
// give a control's height.
constexpr int kSizingFrame = 4;
constexpr int kPathFieldWidth = 300;

const QColor kLightGray(192, 192, 192);

void paintBlackOnGray(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, kLightGray);
    p.setColor(QPalette::Window, kLightGray);
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::WindowText, Qt::black);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

int textWidth(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

// Where the profile went, and how the desktop's color-managed applications
// come to find it.
QString profileSavedNote(const std::string& path, const std::filesystem::path& profileFolder) {
    QString note = QStringLiteral("The profile was saved as ") + toQString(path) + '.';
    if (profileFolder.empty()) return note;
    const QString folder = toQString(profileFolder.string());
    std::error_code error;
    if (std::filesystem::equivalent(std::filesystem::path(path).parent_path(), profileFolder, error))
        return note + QStringLiteral(" It lies in ") + folder +
               QStringLiteral(", where color-managed applications on this desktop find it.");
    return note + QStringLiteral(" To use it on this desktop, copy it into ") + folder +
           QStringLiteral(", where color-managed applications find it.");
}

}  // namespace

InstructionsPanel::InstructionsPanel(int margin, int controlHeight, const QFont& font, QWidget* parent)
    : QWidget(parent), margin_(margin), controlHeight_(controlHeight) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, kLightGray);
    setPalette(p);
    int x = margin;
    auto button = [&](const QString& label) {
        auto* b = new QPushButton(label, this);
        b->setFont(font);
        b->setAutoDefault(false);
        const int w = textWidth(font, label) + 2 * margin;
        b->setGeometry(x, margin, w, controlHeight);
        x += w + margin;
        return b;
    };
    next = button(QStringLiteral("Next"));
    prev = button(QStringLiteral("Prev"));
    help = button(QStringLiteral("Help"));
    exit = button(QStringLiteral("Exit"));
    text = new QPlainTextEdit(this);
    text->setReadOnly(true);
    text->setFont(font);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    paintBlackOnGray(text);
}

void InstructionsPanel::resizeEvent(QResizeEvent*) {
    const int m = margin_;
    text->setGeometry(m, controlHeight_ + 3 * m, std::max(0, width() - 2 * m),
                      std::max(0, height() - 4 * m - controlHeight_));
}

void InstructionsPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kLightGray);
    const int y = controlHeight_ + 2 * margin_;
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(0, y, width() - 1, y);
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    painter.setPen(Qt::white);
    painter.drawLine(0, y + 1, width() - 1, y + 1);
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
}

MainWindow::MainWindow(ScanSession& session, GuiDialogs& dialogs, std::filesystem::path settingsFile)
    : QWidget(nullptr), session_(session), dialogs_(dialogs), settingsFile_(std::move(settingsFile)) {
    setWindowTitle(kWindowTitle);
    setGeometry(0, 0, 900, 700);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);

    smallFont_ = wizardFont(15);
    titleFont_ = wizardFont(19, QFont::Bold);
    // The window captions and the image window's text as well.
    setFont(smallFont_);
    controlHeight_ = QFontMetrics(smallFont_).height() + 2 * kSizingFrame;
    titleHeight_ = QFontMetrics(titleFont_).height() + 2 * kSizingFrame;
    margin_ = controlHeight_ / 4;

    title_ = new QLabel(kWelcomeTitle, this);
    title_->setFont(titleFont_);
    title_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    paintBlackOnGray(title_);
    panel_ = new InstructionsPanel(margin_, controlHeight_, smallFont_, this);
    connect(panel_->next, &QPushButton::clicked, this, [this] { nextPage(); });
    connect(panel_->prev, &QPushButton::clicked, this, [this] { previousPage(); });
    connect(panel_->help, &QPushButton::clicked, this, [this] { openManual(); });
    connect(panel_->exit, &QPushButton::clicked, this, [this] { close(); });

    createSetupControls();

    saveProfileButton_ = new QPushButton(QStringLiteral("Save Profile..."), this);
    saveLogButton_ = new QPushButton(QStringLiteral("Save Profile Log..."), this);
    for (QPushButton* b : {saveProfileButton_, saveLogButton_}) {
        b->setFont(smallFont_);
        b->setAutoDefault(false);
    }
    connect(saveProfileButton_, &QPushButton::clicked, this, [this] { saveProfile(); });
    connect(saveLogButton_, &QPushButton::clicked, this, [this] { saveProfileLog(); });
    results_ = new ResultsWindow(session_, margin_, controlHeight_, smallFont_, this);

    resetOverlay(session_, session_.image.width, session_.image.height);
    currentPage_ = 1;
    setMinimumSize(smallestUnclippedSize());
    layoutControls();
    showPage();
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

ImageCanvas* MainWindow::imageCanvas() const { return imageWindow_->canvas(); }

void MainWindow::createSetupControls() {
    const QString labelTexts[5] = {QStringLiteral("Target Type:"), QStringLiteral("Target Image File:"),
                                   QStringLiteral("Reference File:"), QStringLiteral("Profile Description:"),
                                   QStringLiteral("Copyright Notice:")};
    for (const QString& text : labelTexts) {
        auto* label = new QLabel(text, this);
        label->setFont(smallFont_);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        labels_.append(label);
    }
    typeList_ = new QComboBox(this);
    typeList_->setFont(smallFont_);
    typeList_->setMaxVisibleItems(10);
    for (const TargetTypeEntry& entry : kTargetTypeEntries) typeList_->addItem(toQString(entry.label));
    auto button = [this](const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setFont(smallFont_);
        b->setAutoDefault(false);
        return b;
    };
    auto field = [this](bool readOnly) {
        auto* f = new QLineEdit(this);
        f->setFont(smallFont_);
        f->setReadOnly(readOnly);
        paintBlackOnGray(f);
        return f;
    };
    optionsButton_ = button(QStringLiteral("Advanced Options..."));
    imagePath_ = field(true);
    imageChooser_ = button(QStringLiteral("Choose..."));
    rotate_ = button(QStringLiteral("Rotate"));
    mirror_ = button(QStringLiteral("Mirror"));
    findChart_ = button(QStringLiteral("Find Chart"));
    chartNote_ = new QLabel(kChartNotFound, this);
    chartNote_->setFont(smallFont_);
    referencePath_ = field(true);
    referenceChooser_ = button(QStringLiteral("Choose..."));
    description_ = field(false);
    copyright_ = field(false);
    for (QLineEdit* text : {description_, copyright_}) text->setValidator(new NoControlCharacters(text));
    imageWindow_ = new ImageWindow(session_, margin_, controlHeight_, this);
    imageCanvas()->overlayDragged = [this] {
        overlayDragged_ = true;
        chartMissing_ = false;
        chartNote_->hide();
    };

    // The settings chose the list entry; the built-in reference of a
    // ColorChecker type is read without a word.
    typeList_->setCurrentIndex(targetTypeListIndex(session_.targetType, session_.reflective));
    std::string builtIn;
    if (loadBuiltInReferenceSilently(session_, builtIn) == 0) referencePath_->setText(toQString(builtIn));
    copyright_->setText(toQString(session_.copyright));
    description_->setText(toQString(session_.description));
    updateSetupButtons();

    // Only the user's choice runs the type change, not setCurrentIndex.
    connect(typeList_, &QComboBox::activated, this, [this](int index) { onTargetTypeChanged(index); });
    connect(optionsButton_, &QPushButton::clicked, this, [this] { runAdvancedOptions(); });
    connect(imageChooser_, &QPushButton::clicked, this, [this] { chooseTargetImage(); });
    connect(referenceChooser_, &QPushButton::clicked, this, [this] { chooseReferenceFile(); });
    connect(rotate_, &QPushButton::clicked, this, [this] { rotateTargetImage(); });
    connect(mirror_, &QPushButton::clicked, this, [this] { mirrorTargetImage(); });
    connect(findChart_, &QPushButton::clicked, this, [this] { findChart(); });
    connect(description_, &QLineEdit::textChanged, this,
            [this](const QString& text) { setDescription(session_, toStdString(text)); });
    connect(copyright_, &QLineEdit::textChanged, this,
            [this](const QString& text) { setCopyright(session_, toStdString(text)); });
}

void MainWindow::layoutControls() {
    const int m = margin_;
    const int h = controlHeight_;
    const int w = width();
    const int clientHeight = height();
    title_->setGeometry(m, m, std::max(0, w - 2 * m), titleHeight_);
    panel_->setGeometry(m, 2 * m + titleHeight_, w / 3, std::max(0, clientHeight - 3 * m - titleHeight_));

    int labelWidth = 0;
    for (QLabel* label : labels_) labelWidth = std::max(labelWidth, textWidth(smallFont_, label->text()));
    labelWidth += 2 * m;
    const int labelX = w / 3 + 2 * m;
    const int fieldX = labelX + labelWidth + m;
    auto rowY = [&](int row) { return m + titleHeight_ + m + row * (h + m); };
    auto buttonWidth = [&](const QString& text) { return textWidth(smallFont_, text) + 2 * m; };
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);

    labels_[0]->setGeometry(labelX, rowY(0), labelWidth, h);
    typeList_->setGeometry(fieldX, rowY(0), textWidth(smallFont_, QStringLiteral("Macbeth ColorChecker SG")) + 4 * m + scrollBar,
                           h);
    const int chooserX = fieldX + kPathFieldWidth + m;
    optionsButton_->setGeometry(chooserX, rowY(0), buttonWidth(optionsButton_->text()), h);
    labels_[1]->setGeometry(labelX, rowY(1), labelWidth, h);
    imagePath_->setGeometry(fieldX, rowY(1), kPathFieldWidth, h);
    imageChooser_->setGeometry(chooserX, rowY(1), buttonWidth(imageChooser_->text()), h);
    rotate_->setGeometry(fieldX, rowY(2), buttonWidth(rotate_->text()), h);
    const int mirrorX = fieldX + textWidth(smallFont_, rotate_->text()) + 3 * m;
    mirror_->setGeometry(mirrorX, rowY(2), buttonWidth(mirror_->text()), h);
    const int findChartX = mirrorX + textWidth(smallFont_, mirror_->text()) + 3 * m;
    findChart_->setGeometry(findChartX, rowY(2), buttonWidth(findChart_->text()), h);
    labels_[2]->setGeometry(labelX, rowY(3), labelWidth, h);
    referencePath_->setGeometry(fieldX, rowY(3), kPathFieldWidth, h);
    referenceChooser_->setGeometry(chooserX, rowY(3), buttonWidth(referenceChooser_->text()), h);
    labels_[3]->setGeometry(labelX, rowY(4), labelWidth, h);
    description_->setGeometry(fieldX, rowY(4), kPathFieldWidth, h);
    labels_[4]->setGeometry(labelX, rowY(5), labelWidth, h);
    copyright_->setGeometry(fieldX, rowY(5), kPathFieldWidth, h);
    // The note's row stays while it is hidden: the picture does not jump.
    chartNote_->setGeometry(labelX, rowY(6), std::max(0, w - m - labelX), h);
    imageWindow_->setGeometry(labelX, rowY(7), std::max(0, w - m - labelX), std::max(0, clientHeight - m - rowY(7)));

    saveProfileButton_->setGeometry(labelX, rowY(0), buttonWidth(saveProfileButton_->text()), h);
    saveLogButton_->setGeometry(labelX + textWidth(smallFont_, saveProfileButton_->text()) + 3 * m, rowY(0),
                                buttonWidth(saveLogButton_->text()), h);
    results_->move(labelX, rowY(1));
}

QSize MainWindow::smallestUnclippedSize() const {
    const int m = margin_;
    const int h = controlHeight_;
    auto buttonWidth = [&](const QPushButton* b) { return textWidth(smallFont_, b->text()) + 2 * m; };
    // The instructions panel, a third of the width, holds its four buttons.
    int panel = m;
    for (const QPushButton* b : {panel_->next, panel_->prev, panel_->help, panel_->exit}) panel += buttonWidth(b) + m;
    // Right of it: the setup rows up to the "Advanced Options..." button, the
    // chart note, or the results window.
    int labelWidth = 0;
    for (const QLabel* label : labels_) labelWidth = std::max(labelWidth, textWidth(smallFont_, label->text()));
    const int setupRows = 2 * m + labelWidth + 2 * m + m + kPathFieldWidth + m +
                          std::max(buttonWidth(optionsButton_), buttonWidth(imageChooser_)) + m;
    const int rest = std::max({setupRows, 2 * m + textWidth(smallFont_, chartNote_->text()) + m,
                               2 * m + results_->width() + m});
    int width = std::max(3 * panel, rest + rest / 2);
    while (width - width / 3 < rest) ++width;
    // Below the title: the results window under a row of buttons, or the
    // setup rows over an image window with room for a picture.
    const int top = m + titleHeight_ + m;
    const int height = std::max(top + (h + m) + results_->height() + m, top + 7 * (h + m) + 8 * h + m);
    return {width, height};
}

void MainWindow::resizeEvent(QResizeEvent*) { layoutControls(); }

QList<QWidget*> MainWindow::pageControls() const {
    QList<QWidget*> controls{typeList_,      optionsButton_, imagePath_,   imageChooser_,      rotate_,
                             mirror_,        findChart_,     chartNote_,   referencePath_,     referenceChooser_,
                             description_,   copyright_,     imageWindow_, saveProfileButton_, saveLogButton_,
                             results_};
    for (QLabel* label : labels_) controls.append(label);
    return controls;
}

void MainWindow::updateSetupButtons() {
    panel_->next->setEnabled(session_.imageReady == 1 && session_.referenceReady == 1);
    // Whatever works on the picture needs one that counts.
    const bool image = session_.imageReady == 1;
    rotate_->setEnabled(image);
    mirror_->setEnabled(image);
    findChart_->setEnabled(image);
    chartNote_->setVisible(currentPage_ == 1 && image && chartMissing_);
    imageCanvas()->update();
}

void MainWindow::setupPageShown() {
    for (QWidget* w : pageControls())
        if (w != saveProfileButton_ && w != saveLogButton_ && w != results_ && w != chartNote_) w->show();
    updateSetupButtons();
}

void MainWindow::showPage() {
    // The compute page appears only once its profile exists: while the
    // computation runs, and after it failed, the setup page stays as it is.
    if (currentPage_ == 2) {
        session_.platform.showBusyCursor();
        const int result = computeSessionProfile(session_);
        session_.platform.showArrowCursor();
        if (result != 0) {
            currentPage_ = 1;
            imageCanvas()->update();  // the patches the checks marked bad
            return;
        }
    }
    for (QWidget* w : pageControls()) w->hide();
    panel_->prev->setEnabled(currentPage_ >= 2);
    panel_->next->setEnabled(true);
    lastPage_ = 2;
    // A new profile has not been saved yet.
    savedProfileNote_.clear();
    savedLogNote_.clear();
    savedProfilePath_.clear();
    savedLogPath_.clear();
    showInstructions();
    if (currentPage_ == 1) {
        title_->setText(kSetupTitle);
        setupPageShown();
        return;
    }
    title_->setText(kComputeTitle);
    saveProfileButton_->show();
    saveLogButton_->show();
    results_->canvas()->showGamutView();
    results_->show();
}

void MainWindow::showInstructions() {
    QString text = currentPage_ == 1 ? kSetupInstructions : kComputeInstructions;
    // Said first, where it is seen without scrolling, while the JPEG counts.
    if (currentPage_ == 1 && session_.imageReady == 1 && session_.imageKind == PictureKind::Jpeg)
        text = toQString(kJpegPictureWarning) + QStringLiteral("\n\n") + text;
    for (const QString& note : {savedProfileNote_, savedLogNote_})  // empty on the setup page
        if (!note.isEmpty()) text += QStringLiteral("\n\n") + note;
    panel_->text->setPlainText(text);
}

void MainWindow::nextPage() {
    currentPage_ = currentPage_ < lastPage_ ? currentPage_ + 1 : 1;
    showPage();
}

void MainWindow::previousPage() {
    if (currentPage_ <= 1) return;
    --currentPage_;
    showPage();
}

void MainWindow::openManual() {
    const std::string path = joinPath(session_.programFolder, kManualName);
    // Without a viewer the user can still open the manual by hand.
    if (!dialogs_.openDocument(path))
        dialogs_.message(panel_, MessageKind::Error, QStringLiteral("Error"), kManualError + '\n' + toQString(path));
}

void MainWindow::onTargetTypeChanged(int index) {
    std::string path;
    referencePath_->clear();
    const int result = selectTargetType(session_, index, path);
    if (result == 0 && !path.empty()) referencePath_->setText(toQString(path));
    // The overlay was reset for the new layout: nothing the user placed is lost.
    if (session_.imageReady == 1) findChart();
    else updateSetupButtons();  // also redraws the overlay, reset for the type
}

void MainWindow::chooseTargetImage() {
    session_.imageReady = 0;
    updateSetupButtons();
    showInstructions();
    // The name box starts empty: the filter alone limits what is listed.
    const std::optional<std::string> path =
        dialogs_.openFileName(this, {QStringLiteral("Load Target Image TIFF File"), kTargetImageFilters,
                                     toQString(session_.lastTargetFolder), {}});
    if (!path) return;
    openTargetImage(*path);
}

void MainWindow::openTargetImage(const std::string& path) {
    session_.imageReady = 0;  // also behind a message about this file
    updateSetupButtons();
    imagePath_->setText(toQString(path));
    chartMissing_ = false;
    const int loaded = loadTargetImage(session_, path);
    showInstructions();  // with the JPEG note or without
    if (loaded != 0) {
        imagePath_->clear();
        updateSetupButtons();
        return;
    }
    imageCanvas()->imageChanged();
    findChart();
}

void MainWindow::chooseReferenceFile() {
    session_.referenceReady = 0;
    updateSetupButtons();
    const std::optional<std::string> path = dialogs_.openFileName(
        this, {QStringLiteral("Load Reference File"), QStringLiteral("Reference Files (*.it8 *.q60 *.ref *.lab *.txt)"),
               toQString(session_.lastReferenceFolder), {}});
    if (!path) return;
    referencePath_->setText(toQString(*path));
    if (loadReferenceFile(session_, *path) != 0) {
        referencePath_->clear();
        return;
    }
    // A chart oriented by its gray scale alone is checked against the
    // reference, unless the user has placed the overlay since.
    if (session_.imageReady == 1 && !overlayDragged_) findChart();
    else updateSetupButtons();
}

void MainWindow::rotateTargetImage() {
    if (session_.imageReady != 1) return;
    if (calivant::rotateTargetImage(session_) != 0) {
        session_.platform.showError("Not enough memory to turn the target image");
        return;
    }
    imageCanvas()->imageChanged();
    findChart();
    update();
}

void MainWindow::mirrorTargetImage() {
    if (session_.imageReady != 1) return;
    if (calivant::mirrorTargetImage(session_) != 0) {
        session_.platform.showError("Not enough memory to mirror the target image");
        return;
    }
    imageCanvas()->imageChanged();
    findChart();
    update();
}

void MainWindow::findChart() {
    if (session_.imageReady != 1) return;
    session_.platform.showBusyCursor();
    const ChartLocation location = placeChartOverlay(session_);
    session_.platform.showArrowCursor();
    overlayDragged_ = false;
    chartMissing_ = !location.found;
    updateSetupButtons();  // shows or hides the note, redraws the overlay
}

void MainWindow::runAdvancedOptions() {
    AdvancedOptionsDialog dialog(session_, dialogs_, settingsFile_, this);
    dialog.exec();
    // The measurement may have marked or cleared patches.
    imageCanvas()->update();
}

int MainWindow::saveProfile() {
    std::filesystem::path folder = userProfileFolder();
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    QString name = toQString(proposedProfileName(session_.description));
    for (;;) {
        const std::optional<std::string> path = dialogs_.saveFileName(
            this, {QStringLiteral("Save Profile"), QStringLiteral("Color Profiles (*.icm *.icc)"),
                   error ? QString() : toQString(folder.string()), name});
        if (!path) return 1;
        if (const std::string clash = outputClashMessage(session_, *path, savedLogPath_); !clash.empty()) {
            session_.platform.showError(clash);
            name = toQString(fileNameOf(*path));
            continue;
        }
        if (hasProfileExtension(*path)) {
            const int result = saveProfileFile(session_, *path, session_.platform.localTime());
            if (result == 0) {
                savedProfilePath_ = *path;
                savedProfileNote_ = profileSavedNote(*path, folder);
                showInstructions();
            }
            return result;
        }
        session_.platform.showError(kProfileExtensionError);
        name = toQString(fileNameOf(*path));
    }
}

int MainWindow::saveProfileLog() {
    QString name = toQString(proposedLogName(session_.description));
    for (;;) {
        const std::optional<std::string> path = dialogs_.saveFileName(
            this, {QStringLiteral("Save Scanner Profile Log"), QStringLiteral("Text Files (*.txt)"),
                   toQString(session_.lastLogFolder), name});
        if (!path) return 1;
        if (const std::string clash = outputClashMessage(session_, *path, savedProfilePath_); !clash.empty()) {
            session_.platform.showError(clash);
            name = toQString(fileNameOf(*path));
            continue;
        }
        if (hasLogExtension(*path)) {
            session_.lastLogFolder = folderOf(*path);
            const LocalTime time = session_.platform.localTime();
            const int result = saveFileWith(session_, *path, [this, &time](std::ostream& out) {
                return writeProfileLog(out, profileRecordOf(session_), time);
            });
            if (result == 0) {
                savedLogPath_ = *path;
                savedLogNote_ = QStringLiteral("The profile log was saved as ") + toQString(*path) + '.';
                showInstructions();
            }
            return result;
        }
        session_.platform.showError(kLogExtensionError);
        name = toQString(fileNameOf(*path));
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool escape = key->key() == Qt::Key_Escape;
    if (!enter && !escape) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activeModalWidget() != nullptr) return false;
    if (enter && panel_->next->isEnabled()) nextPage();
    if (escape && panel_->prev->isEnabled()) previousPage();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!settingsSaved_) {
        saveSessionSettings(session_, settingsFile_);
        settingsSaved_ = true;
    }
    event->accept();
}

}  // namespace calivant::gui
