#include "engine/ShotEngine.h"

#include <algorithm>

#include "engine/PageFacts.h"
#include "engine/PagePainter.h"
#include "engine/Readiness.h"
#include "engine/extension/Channel.h"

namespace engine {

namespace {

constexpr int kQuietMs = 1500;          // the longest a page's late paints are waited for
constexpr int kLeavingMs = 2000;        // for a page that said it is leaving to start moving on
constexpr int kLongestRefreshS = 10;    // refreshes further off are the page's business, not a move

}  // namespace

ShotResult ShotEngine::outcome(ShotResult::Outcome o) {
    ShotResult r;
    r.outcome = o;
    return r;
}


ShotEngine::ShotEngine(const std::atomic<bool>& interrupted) : interrupted_(interrupted) { newPage(); }

void ShotEngine::newPage() {
    page_ = std::make_unique<WebPage>(ViewRole{true, true});
    identities_.watch(page_->view());
    network_.watch(page_->view());
    gtk_widget_show(GTK_WIDGET(page_->view()));
}

ShotEngine::~ShotEngine() {
    page_.reset();
    if (window_) gtk_widget_destroy(window_);
}

void ShotEngine::show(int width, int height) {
    GtkWidget* view = GTK_WIDGET(page_->view());
    gtk_widget_set_size_request(view, width, height);
    if (!window_) {
        window_ = gtk_window_new(GTK_WINDOW_POPUP);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
        gtk_window_set_accept_focus(GTK_WINDOW(window_), FALSE);
        // Out of every screen: nobody sees it, yet it is shown and drawn, so its page
        // gets rendering updates (animation frames, intersection observers) as a seen page does.
        gtk_window_move(GTK_WINDOW(window_), -32000, -32000);
        gtk_widget_show(window_);
    }
    if (!gtk_widget_get_parent(view)) gtk_container_add(GTK_CONTAINER(window_), view);
    gtk_window_resize(GTK_WINDOW(window_), width, height);
}

bool ShotEngine::waitFor(const std::function<bool()>& done, gint64 deadline) {
    return iterateUntil(done, remainingMs(deadline), &interrupted_);
}

int ShotEngine::remainingMs(gint64 deadline) const {
    return static_cast<int>(std::max<gint64>(0, (deadline - g_get_monotonic_time()) / 1000));
}

ShotResult ShotEngine::hung() {
    // A page that does not answer holds its web process: it is ended, and the next
    // page gets a new view and process, which no late word of the old one reaches.
    presented_.reset();
    page_->endProcess();
    if (window_) gtk_container_remove(GTK_CONTAINER(window_), GTK_WIDGET(page_->view()));
    newPage();
    return outcome(interrupted_ ? ShotResult::Outcome::Interrupted : ShotResult::Outcome::TimedOut);
}

ShotEngine::Settled ShotEngine::settle(const ShotRequest& r, Round& round, gint64 loadDeadline, gint64 deadline) {
    using State = Navigation::State;
    const auto& nav = page_->navigation();
    for (;;) {
        waitFor([&] {
            return nav.state() == State::Loaded || nav.state() == State::Failed ||
                   identities_.loginFailure() != LoadError::None;
        }, loadDeadline);
        if (interrupted_) return Settled::Interrupted;
        if (identities_.loginFailure() != LoadError::None) return Settled::Failed;
        if (nav.state() == State::Failed) return Settled::Failed;
        if (nav.state() == State::Opening) return Settled::Hung;
        round.incomplete = nav.state() != State::Loaded;
        const unsigned long mark = nav.changes();
        auto moved = [&] { return nav.changes() != mark; };
        if (!round.waited && r.waitMs > 0) {
            round.waited = true;
            waitFor(moved, std::min(loadDeadline, g_get_monotonic_time() + r.waitMs * 1000L));
            if (moved()) continue;
        }

        ReadyOptions o;
        o.ms = round.incomplete ? std::min(500, remainingMs(deadline) / 2) : remainingMs(loadDeadline);
        o.wake = r.warmUp;
        o.rest = !r.animations;
        o.quietMs = round.incomplete ? 0 : kQuietMs;
        auto reply = std::make_shared<std::optional<Readiness>>();
        startReadiness(page_->view(), o, [reply](const Readiness& ready) { *reply = ready; });
        waitFor([&] { return reply->has_value() || moved(); }, std::min(deadline, g_get_monotonic_time() + (o.ms + 2000) * 1000L));
        if (interrupted_) return Settled::Interrupted;
        if (moved()) continue;
        if (!reply->has_value()) return Settled::Hung;
        round.ready = **reply;
        // A script cut short by the page leaving, or a page that said it leaves: it
        // moves on, soon.
        if (!round.ready.answered || round.ready.leaving) {
            waitFor(moved, std::min(deadline, g_get_monotonic_time() + kLeavingMs * 1000L));
            if (moved()) continue;
            if (!round.ready.answered) return Settled::Hung;
        }
        if (round.ready.refreshSeconds >= 0 && round.ready.refreshSeconds <= kLongestRefreshS) {
            waitFor(moved, std::min(loadDeadline, g_get_monotonic_time() + (round.ready.refreshSeconds * 1000L + 1000) * 1000L));
            if (moved()) continue;
        }
        return round.incomplete ? Settled::Incomplete : Settled::Ready;
    }
}

void ShotEngine::unload() {
    // A page that will not go takes its process along.
    page_->load("about:blank");
    const auto& nav = page_->navigation();
    if (!iterateUntil([&] { return nav.state() == Navigation::State::Loaded || nav.state() == Navigation::State::Failed; },
                      5000, &interrupted_) ||
        nav.state() != Navigation::State::Loaded)
        hung();
    presented_.reset();
}

void ShotEngine::makeWayFor(const ShotRequest& r) {
    // The previous page, its scripts still running, goes before another caller's
    // identity is put on: it could otherwise send requests to the next page's origin
    // that carry the next caller's headers, cookies or login.
    auto next = std::make_pair(channel::originOf(canonicalAddress(r.address).c_str()), r.identity);
    const auto& who = r.identity;
    const bool carries = !who.headers.empty() || !who.cookies.empty() || !who.user.empty();
    if (presented_ && *presented_ != next && carries) unload();
    presented_ = std::move(next);
}

void ShotEngine::forgetVisits() {
    // The previous page goes first, its scripts and requests with it: nothing of it runs
    // while its data is cleared, nor after.
    unload();
    auto done = std::make_shared<bool>(false);
    WebKitWebsiteDataManager* data = webkit_web_context_get_website_data_manager(sharedWebContext());
    webkit_website_data_manager_clear(
        data, WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer d) {
            std::unique_ptr<std::shared_ptr<bool>> keep(static_cast<std::shared_ptr<bool>*>(d));
            webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, nullptr);
            **keep = true;
        },
        new std::shared_ptr<bool>(done));
    // Awaited whole: the next page starts from nothing.
    iterateUntil([&] { return *done; }, 30000, &interrupted_);
}

ShotResult ShotEngine::photograph(const ShotRequest& r) {
    using O = ShotResult::Outcome;
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(r.timeoutMs) * 1000;
    // The paint's share of the time limit: a page still loading at the rest of it is
    // photographed as it stands.
    const int reserveMs = std::clamp(r.timeoutMs / 4, 500, 10000);
    const gint64 loadDeadline = deadline - static_cast<gint64>(reserveMs) * 1000;

    // The page's colour scheme follows the toolkit's theme, which the engine watches.
    setColorScheme(r.dark);
    setTransparent(page_->view(), r.transparent);
    // The first page's web process starts while the window is made; the page is laid
    // out at the screen's size, which reaches the engine before the page does.
    makeWayFor(r);
    network_.begin(r.network, r.address, 2000, &interrupted_);
    identities_.presentAs(page_->view(), r.identity, r.address, 2000, &interrupted_);
    page_->load(r.address, [&] { identities_.load(page_->view(), r.address); });
    show(r.width, r.height);
    for (int tries = 0;; ++tries) {
        Round round;
        switch (settle(r, round, loadDeadline, deadline)) {
            case Settled::Interrupted: return hung();
            case Settled::Hung: return hung();
            case Settled::Failed: {
                auto res = outcome(O::LoadFailed);
                res.failure = page_->navigation().failure();
                if (identities_.loginFailure() != LoadError::None) {
                    res.failure = {identities_.loginFailure(), {}};
                    webkit_web_view_stop_loading(page_->view());
                }
                if (network_.failure()) res.failure = *network_.failure();
                notePageFacts(page_->view(), page_->navigation(), res);
                return res;
            }
            case Settled::Ready:
            case Settled::Incomplete: break;
        }
        const int hops = page_->navigation().hops();
        bool changed = false;
        auto res = take(r, round, deadline, changed);
        if (!changed) {
            notePageFacts(page_->view(), page_->navigation(), res);
            network_.tally(res);
            identities_.tally(res);
            return res;
        }
        // The document was replaced while it was photographed: never stitched, but taken
        // again where the page moved on to (the tracker bounds how often it may), or once
        // more where it was replaced otherwise.
        const bool moved = page_->navigation().hops() > hops;
        if (interrupted_ || (!moved && tries > 0)) return outcome(interrupted_ ? O::Interrupted : O::Changed);
    }
}

}  // namespace engine
