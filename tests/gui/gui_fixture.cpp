#include "gui_fixture.h"

#include <QApplication>

namespace calivant::gui::testing {

void ensureApplication() {
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "calivant_tests_gui";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends: every test's widgets need it
}

}  // namespace calivant::gui::testing

// Fontconfig keeps its configuration in memory it never frees; that is its
// own and not a leak of the wizard.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
