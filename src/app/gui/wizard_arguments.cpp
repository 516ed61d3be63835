#include "wizard_arguments.h"

#include <string_view>

namespace calivant::gui {

WizardArguments parseWizardArguments(int argc, const char* const* argv) {
    WizardArguments result;
    // --help and --version win wherever they stand, even beside options
    // that only Qt knows yet.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") return {WizardAction::Help, {}, {}};
        if (arg == "-V" || arg == "--version") return {WizardAction::Version, {}, {}};
    }
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
            return {WizardAction::UsageError, {}, "unknown option " + std::string(arg)};
        if (!result.imagePath.empty())
            return {WizardAction::UsageError, {}, "only one target image can be opened"};
        if (arg.empty()) return {WizardAction::UsageError, {}, "empty file name"};
        result.imagePath = arg;
    }
    return result;
}

void printWizardHelp(std::ostream& out) {
    out << "Usage: calivant-scanner [OPTION]... [IMAGE-FILE]\n"
           "Calivant - Scanner: builds ICC input profiles for scanners and digital cameras from a scan or\n"
           "photograph of a colour target. With IMAGE-FILE (TIFF, PNG or JPEG) the wizard starts with it\n"
           "loaded as the target image.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "  -V, --version  print the version and exit\n"
           "\n"
           "Qt's own options, such as -platform and -style, are accepted too.\n"
           "The command line for batch work is calivant-scanner-cli.\n";
}

void printWizardVersion(std::ostream& out) { out << "calivant-scanner " CALIVANT_FULL_VERSION_TEXT "\n"; }

}  // namespace calivant::gui
