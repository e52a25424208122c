// The capture command's engine: one web view in a window of its own that nobody
// sees, which loads each page, scrolls through it once, and paints it whole.
#pragma once

#include <gtkmm.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <string>

#include "shot/Run.h"

namespace platform::gtk {

class ShotEngine : public shot::IPageEngine {
public:
    explicit ShotEngine(const std::atomic<bool>& interrupted);
    ~ShotEngine() override;
    shot::PageShot photograph(const shot::PageRequest&) override;

private:
    struct Load;
    void newView();
    bool waitFor(const std::function<bool()>& done, gint64 deadline);
    int remainingMs(gint64 deadline) const;
    shot::PageShot hung(const std::string& what);
    void warmUp(gint64 deadline);

    const std::atomic<bool>& interrupted_;
    Gtk::Window window_;
    WebKitWebView* view_ = nullptr;
};

}  // namespace platform::gtk
