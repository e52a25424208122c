// The real platform: GTK 3 windows and controls, WebKitGTK browsers, GTK dialogs
// and the desktop's default handlers.
#pragma once

#include <memory>

#include "platform/Ui.h"

namespace platform::gtk {

class GtkUi : public IUi {
public:
    GtkUi();
    ~GtkUi() override;
    std::unique_ptr<IWindow> createWindow(const WindowDesign&) override;
    Screen screen() const override;
    void doEvents() override;
    void post(Handler) override;
    void endProgram() override;
    void setBusy(bool) override;

    // Runs the main loop until the program ends.
    void run();
    // Runs the main loop until `done` holds or `ms` milliseconds have passed.
    bool runUntil(const std::function<bool()>& done, int ms);
};

class GtkDialogs : public IDialogs {
public:
    void warn(const std::string& text, const std::string& title) override;
    std::optional<std::string> saveFileName(const SaveFileRequest&) override;
};

class GtkShell : public IShell {
public:
    void open(const std::string& target, ShowCommand) override;
    bool isWebLink(const std::string& address) const override;
};

}  // namespace platform::gtk
