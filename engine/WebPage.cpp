#include "engine/WebPage.h"

#include "engine/Opening.h"

namespace engine {

Failure failureOf(const GError* e) {
    if (!e) return {LoadError::Other, {}};
    if (e->domain == G_IO_ERROR) {
        switch (e->code) {
            case G_IO_ERROR_CONNECTION_REFUSED: return {LoadError::ConnectionRefused, e->message};
            case G_IO_ERROR_TIMED_OUT: return {LoadError::TimedOut, e->message};
            case G_IO_ERROR_HOST_UNREACHABLE:
            case G_IO_ERROR_NETWORK_UNREACHABLE: return {LoadError::Unreachable, e->message};
            case G_IO_ERROR_CONNECTION_CLOSED: return {LoadError::ConnectionClosed, e->message};
            case G_IO_ERROR_NOT_FOUND: return {LoadError::NotFound, e->message};
            case G_IO_ERROR_PERMISSION_DENIED: return {LoadError::NoPermission, e->message};
            default: break;
        }
    }
    if (e->domain == G_RESOLVER_ERROR) return {LoadError::NoHost, e->message};
    if (e->domain == G_TLS_ERROR) return {LoadError::Tls, e->message};
    if (e->domain == WEBKIT_NETWORK_ERROR) {
        switch (e->code) {
            case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return {LoadError::Unsupported, e->message};
            case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return {LoadError::NotFound, e->message};
            default: break;
        }
    }
    if (e->domain == WEBKIT_POLICY_ERROR) {
        if (e->code == WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT) return {LoadError::Refused, {}};
        return {LoadError::NotAPage, e->message};
    }
    return {LoadError::Other, e->message};
}

WebPage::WebPage(const ViewRole& role) : view_(newWebView(role)), outOfSight_(role.outOfSight) {
    g_signal_connect(view_, "load-changed", G_CALLBACK(&WebPage::loadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(&WebPage::loadFailed), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(&WebPage::processEnded), this);
    g_signal_connect(view_, "notify::is-web-process-responsive", G_CALLBACK(&WebPage::responsivenessChanged), this);
}

WebPage::~WebPage() {
    *alive_ = false;
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_web_view_stop_loading(view_);
    g_object_unref(view_);
}

void WebPage::load(const std::string& address, const std::function<void()>& start) {
    navigation_.requested(address);
    pending_ = address;
    if (!webkit_web_view_get_is_web_process_responsive(view_)) webkit_web_view_terminate_web_process(view_);
    if (start) start();
    else openAddress(view_, address);
}

void WebPage::endProcess() { webkit_web_view_terminate_web_process(view_); }

void WebPage::loadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebPage*>(data);
    const char* uri = webkit_web_view_get_uri(view);
    const std::string address = uri ? uri : "";
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            self->navigation_.started(address);
            // A page that never stops moving on is held where it is.
            if (self->navigation_.failure().error == LoadError::NeverSettles) webkit_web_view_stop_loading(view);
            return;
        case WEBKIT_LOAD_REDIRECTED: return;
        case WEBKIT_LOAD_COMMITTED:
            self->pending_.clear();
            self->navigation_.committed(address);
            return;
        case WEBKIT_LOAD_FINISHED: break;
    }
    const bool arrived = self->navigation_.state() == Navigation::State::Arrived;
    self->navigation_.finished();
    // A document that came and loaded, or the end of a load that failed (a view people
    // see shows the engine's error page then); never the end of a load cut short.
    const bool failed = self->failedSinceFinish_;
    self->failedSinceFinish_ = false;
    if (!(arrived && self->navigation_.state() == Navigation::State::Loaded) && !failed) return;
    // Heard from the main loop, once this signal is over.
    struct Call {
        WebPage* page;
        std::shared_ptr<bool> alive;
        std::string address;
    };
    g_idle_add_full(G_PRIORITY_DEFAULT, [](gpointer d) -> gboolean {
        const auto* call = static_cast<Call*>(d);
        if (!*call->alive) return G_SOURCE_REMOVE;
        const auto handlers = call->page->loaded_;
        for (const auto& h : handlers) {
            if (!*call->alive) break;
            h(call->address);
        }
        return G_SOURCE_REMOVE;
    }, new Call{self, self->alive_, address}, [](gpointer d) { delete static_cast<Call*>(d); });
}

gboolean WebPage::loadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
    auto* self = static_cast<WebPage*>(data);
    const bool cancelled = g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    const auto f = failureOf(error);
    self->navigation_.failed(f.error, f.detail, cancelled);
    if (!cancelled) self->failedSinceFinish_ = true;
    // A view nobody sees shows no error page: it would only be photographed.
    return self->outOfSight_ && !cancelled;
}

void WebPage::processEnded(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
    static_cast<WebPage*>(data)->navigation_.processEnded(reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API,
                                                           reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT);
}

void WebPage::responsivenessChanged(WebKitWebView* view, GParamSpec*, gpointer data) {
    auto* self = static_cast<WebPage*>(data);
    if (webkit_web_view_get_is_web_process_responsive(view) || self->pending_.empty()) return;
    // The page before the one asked for holds the process, so the new one cannot come:
    // a new process loads it.
    const std::string address = self->pending_;
    webkit_web_view_terminate_web_process(view);
    self->load(address);
}

}  // namespace engine
