// Starts the program: the real platform wired to the main window.
#include <cstdio>
#include <exception>

#include "platform/gtk/GtkPlatform.h"
#include "resources/Designs.h"
#include "shell/frmMain.h"

int main() {
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
