// One web view of the shared engine with the navigation it is on: the view's load
// events feed one tracker, whatever program the view serves. Handlers hear of a page
// that has loaded once the engine's signal is over, from the main loop, so they may
// run other work (even wait) without nesting a loop inside the engine's handler.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Navigation.h"
#include "engine/WebViews.h"

namespace engine {

// The engine's error as one of the reasons the programs word.
Failure failureOf(const GError*);

class WebPage {
public:
    explicit WebPage(const ViewRole&);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    WebKitWebView* view() const { return view_; }
    const Navigation& navigation() const { return navigation_; }

    // Asks for `address`. A page that holds its process would hold the new one too: a
    // process that stopped answering is ended first.
    void load(const std::string& address, const std::function<void()>& start = {});
    // A page that does not answer holds its process: it is ended, and the next load
    // starts a new one.
    void endProcess();

    // After every load that finished with its document (the page's own moves included),
    // and after a load that failed.
    void onLoaded(std::function<void(const std::string& address)> h) { loaded_.push_back(std::move(h)); }

private:
    static void loadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
    static void processEnded(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
    static void responsivenessChanged(WebKitWebView*, GParamSpec*, gpointer self);

    WebKitWebView* view_;
    bool outOfSight_;
    Navigation navigation_;
    std::string pending_;  // the address asked for, until its document arrives
    bool failedSinceFinish_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<std::function<void(const std::string&)>> loaded_;
};

}  // namespace engine
