// The capture command's engine: one web view in a window of its own that nobody
// sees, which loads each page, scrolls through it once, and paints it whole.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <functional>
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
    void show(int width, int height);  // the view in its window, at the screen's size
    bool waitFor(const std::function<bool()>& done, gint64 deadline);
    int remainingMs(gint64 deadline) const;
    shot::PageShot hung(const std::string& what);
    void warmUp(gint64 deadline);

    const std::atomic<bool>& interrupted_;
    GtkWidget* window_ = nullptr;  // made once the first page is loading
    WebKitWebView* view_ = nullptr;
};

}  // namespace platform::gtk
