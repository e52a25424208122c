// Starts the program: the real platform wired to the main window.
#include <glibmm.h>

#include <cstdio>
#include <exception>

#include "platform/gtk/GtkPlatform.h"
#include "resources/Designs.h"
#include "shell/frmMain.h"

int main() {
    // A handler that fails unexpectedly ends that handler, not the program.
    Glib::add_exception_handler([] {
        try {
            throw;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vemo-snapshot: %s\n", e.what());
        } catch (const Glib::Exception& e) {
            std::fprintf(stderr, "vemo-snapshot: %s\n", e.what().c_str());
        }
    });
    try {
        platform::gtk::GtkUi ui;
        platform::gtk::GtkDialogs dialogs;
        platform::gtk::GtkShell shell;
        shell::frmMain main({ui, dialogs, shell}, resources::standardDesigns());
        main.load();
        main.show();
        ui.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vemo-snapshot: %s\n", e.what());
        return 1;
    }
    return 0;
}
