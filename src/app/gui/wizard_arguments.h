#pragma once
// The wizard's command line: -h/--help, -V/--version and an optional picture
// file to open as the target image (what a file manager's "Open With"
// passes). Qt's own options (-platform, -style...) are taken out of argv by
// the application object; the parse runs once before it exists, so that
// --help and --version need no display, and once after, for the file.

#include <ostream>
#include <string>

namespace calivant::gui {

enum class WizardAction { Run, Help, Version, UsageError };

struct WizardArguments {
    WizardAction action = WizardAction::Run;
    std::string imagePath;  // empty: start without an image
    std::string error;      // for UsageError
};

WizardArguments parseWizardArguments(int argc, const char* const* argv);

void printWizardHelp(std::ostream& out);
void printWizardVersion(std::ostream& out);

}  // namespace calivant::gui
