// The setup page: which buttons are enabled after each choice, and the
// messages for unusable images and reference files.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui_fixture.h"
#include "support/temp_folder.h"

namespace calivant::gui::testing {
namespace {

using calivant::testing::writeFile;

// An uncompressed 8-bit gray TIFF of 4 x 2 pixels, little-endian.
std::string grayTiff() {
    std::string b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](int v) { b += static_cast<char>(v & 0xFF); b += static_cast<char>((v >> 8) & 0xFF); };
    auto u32 = [&](int v) { u16(v & 0xFFFF); u16((v >> 16) & 0xFFFF); };
    const int entries = 9;
    const int dataOffset = 8 + 2 + entries * 12 + 4;
    u16(entries);
    auto tag = [&](int id, int type, int value) { u16(id); u16(type); u32(1); u32(value); };
    tag(256, 3, 4);           // width
    tag(257, 3, 2);           // height
    tag(258, 3, 8);           // bits per sample
    tag(259, 3, 1);           // no compression
    tag(262, 3, 1);           // black is zero
    tag(273, 4, dataOffset);  // strip offset
    tag(277, 3, 1);           // samples per pixel
    tag(278, 3, 2);           // rows per strip
    tag(279, 4, 8);           // strip bytes
    u32(0);
    b += std::string("\x10\x20\x30\x40\x50\x60\x70\x80", 8);
    return b;
}

struct ButtonState {
    bool next;
    bool rotate;
    bool mirror;
    bool operator==(const ButtonState&) const = default;
};

class SetupPageTest : public WizardTest {
protected:
    ButtonState buttons() {
        MainWindow& w = window();
        return {w.instructions()->next->isEnabled(), w.rotateButton()->isEnabled(), w.mirrorButton()->isEnabled()};
    }
};

TEST_F(SetupPageTest, StateTableThroughImageReferenceAndTypeChoices) {
    session.targetType = 0;  // IT8
    MainWindow& w = window();
    EXPECT_EQ(w.pageTitle()->text(), QStringLiteral("Scanner Profiling -- Setup"));
    EXPECT_EQ(w.typeList()->currentIndex(), 0);
    EXPECT_EQ(buttons(), (ButtonState{false, false, false}));
    EXPECT_FALSE(w.instructions()->prev->isEnabled());
    EXPECT_TRUE(w.referencePathField()->text().isEmpty());

    // Image read: Rotate and Mirror, but no reference yet.
    dialogs.fileAnswers.push_back(samplePath());
    w.chooseTargetImage();
    EXPECT_EQ(session.imageReady, 1);
    EXPECT_EQ(w.imagePathField()->text().toStdString(), samplePath());
    EXPECT_EQ(buttons(), (ButtonState{false, true, true}));
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].title, QStringLiteral("Load Target Image TIFF File"));
    EXPECT_EQ(dialogs.requests[0].presetName, QStringLiteral("*.tif;*.tiff"));

    // A ColorChecker type with its built-in file enables Next at once.
    w.onTargetTypeChanged(4);
    EXPECT_EQ(buttons(), (ButtonState{true, true, true}));
    EXPECT_TRUE(w.referencePathField()->text().endsWith(QStringLiteral("Reference Files/Macbeth/ColorChecker SG.ref")));

    // HCT needs a chosen file: the field empties, Next goes off.
    w.onTargetTypeChanged(6);
    EXPECT_EQ(session.targetType, 4);
    EXPECT_EQ(session.reflective, 0);
    EXPECT_TRUE(w.referencePathField()->text().isEmpty());
    EXPECT_EQ(buttons(), (ButtonState{false, true, true}));

    // The reference chooser opened and cancelled: still off.
    w.onTargetTypeChanged(4);
    w.chooseReferenceFile();
    EXPECT_EQ(session.referenceReady, 0);
    EXPECT_EQ(buttons(), (ButtonState{false, true, true}));
    EXPECT_EQ(dialogs.requests.back().title, QStringLiteral("Load Reference File"));
    EXPECT_EQ(dialogs.requests.back().presetName, QStringLiteral("*.it8;*.q60;*.ref;*.lab;*.txt"));

    // A reference chosen by hand for the ColorChecker type.
    const std::string sgRef = std::string(CALIVANT_BINARY_DIR) + "/bin/Reference Files/Macbeth/ColorChecker SG.ref";
    dialogs.fileAnswers.push_back(sgRef);
    w.chooseReferenceFile();
    EXPECT_EQ(w.referencePathField()->text().toStdString(), sgRef);
    EXPECT_EQ(buttons(), (ButtonState{true, true, true}));

    // Cancelling the image chooser: the image stays but no longer counts.
    w.chooseTargetImage();
    EXPECT_EQ(session.imageReady, 0);
    EXPECT_EQ(buttons(), (ButtonState{false, true, true}));
    EXPECT_TRUE(dialogs.messages.empty()) << messageTexts().front();
}

TEST_F(SetupPageTest, ErrorMessagesForUnusableImagesAndReferences) {
    session.targetType = 0;
    MainWindow& w = window();
    const std::string missing = (folder / "missing.tif").string();
    const std::string notTiff = (folder / "text.tif").string();
    const std::string gray = (folder / "gray.tif").string();
    const std::string badRef = (folder / "bad.it8").string();
    writeFile(notTiff, "This is not a TIFF file.\n");
    writeFile(gray, grayTiff());
    writeFile(badRef, "IT8.7/1\nBEGIN_DATA\nA1 1 2 3\nEND_DATA\n");

    // A good image first: the failures below must leave it usable by Rotate.
    dialogs.fileAnswers.push_back(samplePath());
    w.chooseTargetImage();
    for (const std::string& path : {missing, notTiff, gray}) {
        dialogs.fileAnswers.push_back(path);
        w.chooseTargetImage();
        EXPECT_TRUE(w.imagePathField()->text().isEmpty());
        EXPECT_EQ(session.imageReady, 0);
    }
    dialogs.fileAnswers.push_back(missing);
    w.chooseReferenceFile();
    EXPECT_TRUE(w.referencePathField()->text().isEmpty());
    dialogs.fileAnswers.push_back(badRef);
    w.chooseReferenceFile();
    EXPECT_TRUE(w.referencePathField()->text().isEmpty());
    EXPECT_EQ(session.referenceReady, 0);

    const std::vector<RecordedMessage> expected = {
        {MessageKind::Error, "Error", "Cannot open target image file: " + missing},
        {MessageKind::Error, "Error", "Cannot read target file: " + notTiff + "\nnot a TIFF file"},
        {MessageKind::Error, "Error", "Target file is not a 24-bit or 48-bit color image: " + gray},
        {MessageKind::Error, "Error", "Cannot open reference file: " + missing},
        {MessageKind::Error, "Error", "Illegal reference file: " + badRef + "\npatch missing: GS23"},
    };
    EXPECT_EQ(dialogs.messages, expected);

    // The working image survived every failed load.
    EXPECT_EQ(session.image.width, 1400);
    EXPECT_TRUE(w.rotateButton()->isEnabled());
    w.rotateTargetImage();
    EXPECT_EQ(session.image.width, 980);
    EXPECT_EQ(session.image.height, 1400);
}

TEST_F(SetupPageTest, ColorCheckerTypeWithoutItsFileSaysSo) {
    session.programFolder = folder.path().string();  // no reference files here
    MainWindow& w = window();
    w.onTargetTypeChanged(2);
    const std::string path = (folder / "Reference Files/Macbeth/ColorChecker.ref").string();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Cannot open reference file: " + path);
    EXPECT_FALSE(w.instructions()->next->isEnabled());
}

TEST_F(SetupPageTest, StartUpReadsTheBuiltInReferenceSilently) {
    session.targetType = 3;
    session.copyright = "Ann 2026";
    MainWindow& w = window();
    EXPECT_EQ(w.typeList()->currentIndex(), 4);
    EXPECT_EQ(session.referenceReady, 1);
    EXPECT_FALSE(w.referencePathField()->text().isEmpty());
    EXPECT_EQ(w.copyrightField()->text(), QStringLiteral("Ann 2026"));
    EXPECT_FALSE(w.instructions()->next->isEnabled());  // no image yet
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SetupPageTest, TypedTextsReachTheSessionCut) {
    MainWindow& w = window();
    w.descriptionField()->setText(QString(400, QLatin1Char('d')));
    EXPECT_EQ(session.description.size(), 338u);
    w.copyrightField()->setText(QStringLiteral("(c) Ann"));
    EXPECT_EQ(session.copyright, "(c) Ann");
}

}  // namespace
}  // namespace calivant::gui::testing
