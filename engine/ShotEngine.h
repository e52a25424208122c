// The engine of the capture command and the service: one web view in a window nobody
// sees, which loads each page, follows it where it moves on by itself, readies it and
// paints it whole.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/Identity.h"
#include "engine/NetworkPolicy.h"
#include "engine/Readiness.h"
#include "engine/Shot.h"
#include "engine/WebPage.h"

namespace engine {

class ShotEngine : public IShotEngine {
public:
    explicit ShotEngine(const std::atomic<bool>& interrupted);
    ~ShotEngine() override;
    ShotResult photograph(const ShotRequest&) override;
    void forgetVisits() override;

private:
    enum class Settled { Ready, Incomplete, Failed, Hung, Interrupted };
    // One load of the page, as far as it settled.
    struct Round {
        bool waited = false;
        bool incomplete = false;
        Readiness ready;
    };
    static ShotResult outcome(ShotResult::Outcome);
    void show(int width, int height);  // the view in its window, at the screen's size
    bool waitFor(const std::function<bool()>& done, gint64 deadline);
    int remainingMs(gint64 deadline) const;
    ShotResult hung();
    Settled settle(const ShotRequest&, Round&, gint64 loadDeadline, gint64 deadline);
    // The settled page painted (or printed), and put back as it was.
    ShotResult take(const ShotRequest&, const Round&, gint64 deadline, bool& changed);
    void unload();  // the page and its scripts gone: about:blank, or a new view
    void makeWayFor(const ShotRequest&);  // before the request's identity is put on
    // A PDF in place of a picture: the page printed.
    ShotResult print(const ShotRequest&, bool incomplete, const Readiness&, const Adjusted&, gint64 deadline,
                     bool& changed);

    const std::atomic<bool>& interrupted_;
    GtkWidget* window_ = nullptr;  // made once the first page is loading
    std::unique_ptr<WebPage> page_;
    Identities identities_;
    NetworkPolicy network_;
    // Who the page in the view was asked for by (its origin, the caller's identity),
    // when it may still run.
    std::optional<std::pair<std::string, Identity>> presented_;
    void newPage();
};

}  // namespace engine
