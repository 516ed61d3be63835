// The setup page: which buttons are enabled after each choice, the messages
// for unusable files, and the image window with its overlay.

#include "gui_fixture.h"
#include "make-target/picture_files.h"

namespace calivant::gui::testing {
namespace {

// Next, Rotate and Mirror enabled, target type and material, and the reference file shown.
std::string state(MainWindow& w, const ScanSession& s) {
    return std::string(w.instructions()->next->isEnabled() ? "N" : "-") + (w.rotateButton()->isEnabled() ? "R" : "-") +
           (w.mirrorButton()->isEnabled() ? "M " : "- ") + std::to_string(s.targetType) + std::to_string(s.reflective) +
           " " + toStdString(w.referencePathField()->text());
}

TEST_F(WizardTest, SetupPageFollowsTheChoicesAndNamesUnusableFiles) {
    session.targetType = 3;  // saved: the built-in file is read silently
    session.copyright = "Ann 2026";
    MainWindow& w = window();
    const std::string sg = std::string(CALIVANT_BINARY_DIR) + "/bin/Reference Files/Macbeth/ColorChecker SG.ref";
    EXPECT_EQ(w.pageTitle()->text(), QStringLiteral("Scanner Profiling -- Setup"));
    EXPECT_EQ(w.typeList()->currentIndex(), 4);
    EXPECT_EQ(w.copyrightField()->text(), QStringLiteral("Ann 2026"));
    EXPECT_FALSE(w.instructions()->prev->isEnabled());
    EXPECT_EQ(state(w, session), "--- 31 " + sg);
    dialogs.fileAnswers = {samplePath()};
    w.chooseTargetImage();
    EXPECT_EQ(state(w, session) + toStdString(w.imagePathField()->text()), "NRM 31 " + sg + samplePath());
    // Turned, the picture is drawn whole in the window and the overlay found on it again.
    w.rotateTargetImage();
    EXPECT_EQ(QSize(session.image.width, session.image.height), QSize(980, 1400));
    EXPECT_EQ(w.imageCanvas()->renderFrame().size(), w.imageCanvas()->size());
    w.onTargetTypeChanged(6);  // HCT transparency needs a chosen file, as IT8 does
    EXPECT_EQ(state(w, session), "-RM 40 ");
    w.onTargetTypeChanged(0);
    EXPECT_EQ(state(w, session), "-RM 01 ");
    w.onTargetTypeChanged(4);
    w.chooseReferenceFile();  // cancelled: the file shown no longer counts
    EXPECT_EQ(state(w, session), "-RM 31 " + sg);
    dialogs.fileAnswers = {sg};
    w.chooseReferenceFile();
    EXPECT_EQ(state(w, session), "NRM 31 " + sg);
    EXPECT_EQ(dialogs.requests[1].title + dialogs.requests[1].presetName, QStringLiteral("Load Reference File"));

    // Cancelled, the image no longer counts, nor turns; unusable files are named.
    const std::string missing = (folder / "missing.tif").string(), text = (folder / "text.tif").string(),
                      gray = (folder / "gray.tif").string();
    calivant::testing::writeFile(text, "IT8.7/1\nBEGIN_DATA\nA1 1 2 3\nEND_DATA\n");
    // A 1 x 1 8-bit gray TIFF: readable, but not an RGB image.
    const unsigned char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 7, 0, 0, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1,
                                  3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0, 6, 1, 3, 0,
                                  1, 0, 0, 0, 1, 0, 0, 0, 17, 1, 4, 0, 1, 0, 0, 0, 98, 0, 0, 0, 22, 1, 3, 0, 1, 0,
                                  0, 0, 1, 0, 0, 0, 23, 1, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 200};
    calivant::testing::writeFile(gray, std::string(reinterpret_cast<const char*>(tiff), sizeof tiff));
    const std::string subfolder = (folder / "sub").string();  // a folder is no reference file
    std::filesystem::create_directory(subfolder);
    dialogs.fileAnswers = {std::nullopt, missing, text, gray, missing, text, subfolder};
    w.chooseTargetImage();
    EXPECT_EQ(state(w, session) + toStdString(w.imagePathField()->text()), "--- 31 " + sg + samplePath());
    for (int i = 0; i < 6; ++i) i < 3 ? w.chooseTargetImage() : w.chooseReferenceFile();  // 3 images, 3 references
    session.programFolder = folder.path().string();  // no built-in files here
    w.onTargetTypeChanged(2);
    EXPECT_EQ(dialogs.messages,
             (std::vector<std::string>{"Error: Cannot open target image file: " + missing + "\nno such file or directory",
                                       "Error: Cannot read target file: " + text + "\nnot a TIFF, PNG or JPEG file",
                                        "Error: Target file is not a 24-bit or 48-bit color image: " + gray,
                                        "Error: Cannot open reference file: " + missing + "\nno such file or directory",
                                        "Error: Illegal reference file: " + text +
                                            "\nline 1: keyword not recognised for this target type: IT8.7/1",
                                        "Error: Cannot open reference file: " + subfolder + "\nnot a regular file",
                                        "Error: Cannot open reference file: " + folder.path().string() +
                                            "/Reference Files/Macbeth/ColorChecker.ref\nno such file or directory"}));
    EXPECT_EQ(state(w, session) + toStdString(w.imagePathField()->text()), "--- 11 ");
    // The sample loaded first is still in memory, but neither shown nor turned.
    w.rotateTargetImage();
    EXPECT_EQ(session.image.width, 980);
    const QImage frame = w.imageCanvas()->renderFrame(), top = frame.copy(0, 0, frame.width(), frame.height() / 3);
    QImage black = top;
    black.fill(Qt::black);
    EXPECT_EQ(top, black);
}

// The chooser offers every kind read; a JPEG (named as cameras name them) loads with a
// note at the top of the instructions, which goes when another picture loads.
TEST_F(WizardTest, JpegPictureIsNotedOnTheSetupPage) {
    MainWindow& w = window();
    const SyntheticPicture gray{64, 48, 8, std::vector<std::uint16_t>(64 * 48 * 3, 128)};
    const std::string jpeg = (folder / "IMG_0001.JPG").string();
    ASSERT_EQ(writeSyntheticJpeg(jpeg, gray, {}), 0);
    dialogs.fileAnswers = {jpeg, samplePath()};
    w.chooseTargetImage();
    EXPECT_EQ(toStdString(dialogs.requests[0].filter),
              "Target images (*.tif *.tiff *.png *.jpg *.jpeg);;Target Image TIFF Files (*.tif *.tiff);;All files (*)");
    EXPECT_EQ(session.imageReady, 1);
    EXPECT_TRUE(w.instructions()->text->toPlainText().startsWith(toQString(kJpegPictureWarning) + "\n\nTo build"));
    w.chooseTargetImage();
    EXPECT_TRUE(w.instructions()->text->toPlainText().startsWith("To build"));
}

TEST_F(WizardTest, OverlayIsDrawnWhereTheGeometrySaysAndDragged) {
    loadSample();
    ImageCanvas* canvas = window().imageCanvas();
    const DisplayPlacement p = canvas->placement();
    // 1400 x 980 fitted into the canvas less 8 margins each way, centred.
    const int width = canvas->width() - 8 * window().margin(), height = canvas->height() - 8 * window().margin();
    EXPECT_EQ(p.displayWidth, std::min(width, height * 1400 / 980));

    const QImage frame = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(frame, canvas->renderFrame());
    if (const char* snapshot = std::getenv("CALIVANT_GUI_SNAPSHOT")) window().grab().save(snapshot);  // by eye
    QImage picture(frame.size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    const QImage display = toQImage(session.displayImage);
    for (int y = 0; y < display.height(); ++y)
        for (int x = 0; x < display.width(); ++x) picture.setPixel(p.originX + x, p.originY + y, display.pixel(x, y));
    auto inverted = [&](WindowPoint q) { return (frame.pixel(q.x, q.y) ^ picture.pixel(q.x, q.y)) == 0x808080u; };

    // After loading, the outline runs along the picture's border: corner 0
    // on its bottom-left pixel, corner 2 on its top-right pixel; beyond the
    // picture (a corner's handle) black turns mid gray.
    const WindowQuad c = overlayWindowCorners(session.overlay, p);
    EXPECT_EQ(c[0], (WindowPoint{p.originX, p.originY + p.displayHeight - 1}));
    EXPECT_EQ(c[2], (WindowPoint{p.originX + p.displayWidth - 1, p.originY}));
    for (int x = c[0].x + 3; x < c[3].x - 3; x += 7) EXPECT_TRUE(inverted({x, c[0].y})) << x;
    EXPECT_EQ(frame.pixel(c[2].x + 2, c[2].y - 2), qRgb(128, 128, 128));
    // Every patch has a marker around the middle half of its cell, with no
    // cross in it before a computation found it bad.
    for (const PatchCell& cell : {session.targetLayout.colorCells[0], session.targetLayout.grayCells[0]}) {
        auto at = [&](double u, double v) {
            return overlayToWindow(cell.u + u * cell.width, 1.0 - cell.t - v * cell.height, c);
        };
        EXPECT_TRUE(inverted(at(0.5, 0.25)));
        for (int x = at(0.3, 0.4).x; x <= at(0.7, 0.4).x; ++x) EXPECT_FALSE(inverted({x, at(0.3, 0.4).y})) << x;
    }
    // Drawing the overlay a second time gives the picture back.
    QImage twice = frame;
    xorSegments(twice, overlaySegments(session, p));
    EXPECT_EQ(twice, picture);

    // Dragging corner 2 with the mouse moves it, stored in image coordinates.
    const QPoint press(c[2].x - 2, c[2].y + 1);
    QTest::mousePress(canvas, Qt::LeftButton, {}, press);
    EXPECT_EQ(canvas->cursor().shape(), Qt::SizeBDiagCursor);
    QTest::mouseMove(canvas, press + QPoint(-30, 25));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, press + QPoint(-30, 25));
    EXPECT_EQ(overlayWindowCorners(session.overlay, p)[2], (WindowPoint{c[2].x - 30, c[2].y + 25}));
    EXPECT_NEAR(session.overlay.corners[2].x, 1399.0 - 30.0 * 1399 / (p.displayWidth - 1), 1e-9);
    QTest::mouseMove(canvas, QPoint(1, 1));  // away from the overlay: the arrow
    EXPECT_EQ(canvas->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace calivant::gui::testing

// Fontconfig keeps its configuration in memory it never frees: not a leak of the wizard.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
