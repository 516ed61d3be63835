#pragma once
// The titles and instruction texts of the wizard's pages, word for word.

#include <QString>

namespace calivant::gui {

inline const QString kWindowTitle = QStringLiteral("Calivant - Scanner " CALIVANT_FULL_VERSION_TEXT);
inline const QString kWelcomeTitle = QStringLiteral("Welcome to Calivant - Scanner");
inline const QString kSetupTitle = QStringLiteral("Scanner Profiling -- Setup");
inline const QString kComputeTitle = QStringLiteral("Scanner Profiling -- Compute Profile");
inline const QString kDepthError = QStringLiteral("Calivant requires your display to be set to at least 24-bit color.");
inline const QString kChartNotFound =
    QStringLiteral("Could not find the chart: drag the overlay corners onto the chart's corners");
// The image chooser's filters: every kind read first, in any letter case
// (cameras name their files IMG_0001.JPG), then TIFF alone and all files.
inline const QString kTargetImageFilters = QStringLiteral(
    "Target images (*.tif *.tiff *.png *.jpg *.jpeg);;Target Image TIFF Files (*.tif *.tiff);;All files (*)");
inline const QString kManualError = QStringLiteral("Error opening electronic manual");
inline constexpr const char* kManualName = "Calivant - Scanner 1.0.pdf";

// Paragraphs are separated by an empty line.
inline const QString kSetupInstructions = QStringLiteral(
    "To build a scanner or digital camera profile you need an 8-bit or 16-bit TIFF file containing a digital "
    "image of a standard IT8 test target, an HCT test target, or a Macbeth ColorChecker, ColorChecker DC or "
    "ColorChecker SG. Please see the help file for detailed information on scanning or photographing your test "
    "target.\n\n"
    "1) Select the type of test target you are using from the drop down list to the right.\n\n"
    "2) Click the Choose... button to select a target image file. Shortly after you select a target image, "
    "Calivant displays it in the image window. Click the Rotate or Mirror buttons as necessary if image was "
    "scanned in the wrong orientation or reversed. An overlay identifying the locations of the color patches is "
    "superimposed over the image. Before proceeding, position the overlay by dragging its corners or edges so "
    "that it lines up with the patches in the color target.\n\n"
    "3) If you are using an IT8 or HCT test target, click the Choose... button to select the reference file for "
    "the target.\n\n"
    "4) Enter a description for your profile; this description is the name used by most applications to "
    "identify the profile. You may wish to include in the profile description the make and model of the "
    "scanner, any special settings used, and the date. The characters \":\", \"/\" and \"\\\" are legal but "
    "should be avoided as they cannot be used in filenames.\n\n"
    "5) Enter an optional copyright notice. The copyright notice you enter will be embedded in the profile and "
    "may be used to identify the owner of the profile and to restict distribution rights.\n\n"
    "Click Advanced Options... to select options as described in the manual (for advanced users).\n\n"
    "Click Next to continue.");

inline const QString kComputeInstructions = QStringLiteral(
    "The scanner profile was built successfully. The scanner or digital camera color gamut is displayed to the "
    "right, outlined in white; for reference the sRGB color gamut is also displayed in gray.\n\n"
    "Click the Save Profile... button to save your profile.\n\n"
    "Click the Save Profile Log... to save a text file detailing the profile creation process.\n\n"
    "When you have saved your profile, click Next to continue.");

}  // namespace calivant::gui
