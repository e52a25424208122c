#include <algorithm>
#include <cstdlib>

#include "engine/Adjusting.h"
#include "engine/Readiness.h"
#include "platform/gtk/GtkControls.h"
#include "engine/PagePainter.h"
#include "engine/WebViews.h"

namespace platform::gtk {

namespace {

constexpr int kScriptTimeoutMs = 5000;
constexpr int kSnapshotTimeoutMs = 20000;
// The longest the capture browser wakes a page's scripts after it has loaded.
constexpr int kWarmUpLimitMs = 10000;

// Looks a form and its fields up by name, without regard to case, and reads the
// fields' values; null for a field that is missing, null for all without the form.
const char* const kReadFormScript = R"JS(
function named(list, name) {
  name = String(name).toLowerCase();
  for (var i = 0; i < list.length; ++i) {
    var e = list[i];
    if (String(e.name || '').toLowerCase() === name || String(e.id || '').toLowerCase() === name) return e;
  }
  return null;
}
var f = named(document.forms, form);
if (!f) return null;
return String(fields).split('\n').map(function (n) {
  var e = named(f.elements, n);
  return e && e.value !== undefined ? String(e.value) : null;
});)JS";

}  // namespace

GtkBrowser::GtkBrowser(Surface& s, const ControlDesign& d)
    : surface_(s),
      page_({d.outOfSight, d.eagerLoading}),
      view_(page_.view()),
      left_(d.left),
      top_(d.top),
      width_(d.width),
      height_(d.height) {
    warmUp_ = d.eagerLoading;
    g_signal_connect(view_, "create", G_CALLBACK(&GtkBrowser::create), this);
    page_.onLoaded([this](const std::string& address) { loaded(address); });
    gtk_layout_put(surface_.gobj(), GTK_WIDGET(view_), twipsToPxX(left_), twipsToPxY(top_));
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(1, twipsToPxX(width_)), std::max(1, twipsToPxY(height_)));
    gtk_widget_show(GTK_WIDGET(view_));
}

GtkBrowser::~GtkBrowser() {
    *alive_ = false;
    g_signal_handlers_disconnect_by_data(view_, this);
}

void GtkBrowser::place() {
    // The geometry the program sets is kept as set. The view on the screen follows it
    // only while it stays parked above the client area: enlarged for a capture it
    // keeps its parked place and size, so the page never flashes over the window and
    // keeps the layout it has at the screen's size; the whole-document paint needs
    // no larger view.
    if (top_ >= 0) return;
    gtk_layout_move(surface_.gobj(), GTK_WIDGET(view_), twipsToPxX(left_), twipsToPxY(top_));
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(1, twipsToPxX(width_)), std::max(1, twipsToPxY(height_)));
}

void GtkBrowser::navigate(const std::string& address) {
    stuck_ = false;
    page_.load(address);
}

LoadState GtkBrowser::loadState() const {
    const auto& n = page_.navigation();
    switch (n.state()) {
        case engine::Navigation::State::Idle: return {LoadState::Nothing, {}};
        case engine::Navigation::State::Opening: return {LoadState::Opening, {}};
        case engine::Navigation::State::Arrived:
        case engine::Navigation::State::Loaded: return {LoadState::Arrived, {}};
        case engine::Navigation::State::Failed: break;
    }
    if (n.failure().error == engine::LoadError::Crashed) return {LoadState::Crashed, n.failure()};
    return {LoadState::Failed, n.failure()};
}

void GtkBrowser::giveUp() {
    stuck_ = true;
    page_.endProcess();
}

void GtkBrowser::loaded(const std::string& address) {
    // Runs by itself while the user looks at the viewer; nothing waits for it, and a
    // photo's measurement stops it.
    if (warmUp_) {
        engine::ReadyOptions o;
        o.ms = kWarmUpLimitMs;
        o.rest = false;  // the photo shows the page as it stands
        o.quietMs = 0;
        engine::startReadiness(view_, o, [](const engine::Readiness&) {});
    }
    const auto alive = alive_;
    const auto complete = complete_;
    const auto download = download_;
    for (const auto& h : complete) {
        if (!*alive) return;
        h(address);
    }
    for (const auto& h : download) {
        if (!*alive) return;
        h();
    }
}

GtkWidget* GtkBrowser::create(WebKitWebView*, WebKitNavigationAction*, gpointer data) {
    auto* self = static_cast<GtkBrowser*>(data);
    bool cancel = false;
    const auto handlers = self->newWindow_;
    for (const auto& h : handlers) h(cancel);
    // The engine opens no window of its own either way: a page's request for one comes to nothing.
    return nullptr;
}

std::optional<BodyMetrics> GtkBrowser::measureBody() {
    stuck_ = false;
    failure_.clear();
    if (!page_.navigation().hasDocument()) return std::nullopt;
    if (expanded_) engine::putBack(view_, kScriptTimeoutMs, nullptr);
    // A page that scrolls inside a box is let out to its whole content until it is painted.
    engine::Adjustments expand;
    expanded_ = engine::adjust(view_, expand, kScriptTimeoutMs, nullptr).reshaped;
    engine::PagePainter painter(view_);
    bool timedOut = false;
    const auto metrics = painter.measure(kScriptTimeoutMs, &timedOut);
    if (timedOut) giveUp();
    else if (!metrics) failure_ = painter.lastError();
    return metrics;
}

std::shared_ptr<capture::Image> GtkBrowser::paintPage(int width, int height, std::uint32_t back) {
    stuck_ = false;
    failure_.clear();
    if (!page_.navigation().hasDocument()) return nullptr;
    // Strips take longer: the time limit grows with the page.
    const int limit = kSnapshotTimeoutMs + static_cast<int>(std::min<long>(height / 1000L * 100L, 600000L));
    auto result = engine::PagePainter(view_).paint(width, height, back, limit, forcedStripHeight_);
    if (expanded_ && !result.timedOut) engine::putBack(view_, kScriptTimeoutMs, nullptr);
    expanded_ = false;
    if (result.timedOut) giveUp();
    failure_ = result.error;
    // A picture short of the page measured would not fill the one made for it: what the
    // engine painted is said instead.
    if (result.image && result.pageHeight > 0) {
        failure_ = "the engine painted " + std::to_string(result.image->width()) + " x " +
                   std::to_string(result.image->height()) + " px of the page, which measured " +
                   std::to_string(result.pageWidth) + " x " + std::to_string(result.pageHeight);
        return nullptr;
    }
    return result.image;
}

void GtkBrowser::readForm(const std::string& form, const std::vector<std::string>& fields, FormReply reply) {
    if (!page_.navigation().hasDocument()) {
        reply(std::vector<std::optional<std::string>>(fields.size()));
        return;
    }
    // Only plain values pass into the page: the names go as one line each.
    std::string names;
    for (const auto& f : fields) names += (names.empty() ? "" : "\n") + f;
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&args, "{sv}", "form", g_variant_new_string(form.c_str()));
    g_variant_builder_add(&args, "{sv}", "fields", g_variant_new_string(names.c_str()));

    struct Call {
        std::shared_ptr<bool> alive;
        std::size_t count;
        FormReply reply;
    };
    auto* call = new Call{alive_, fields.size(), std::move(reply)};
    webkit_web_view_call_async_javascript_function(
        view_, kReadFormScript, -1, g_variant_builder_end(&args), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            std::vector<std::optional<std::string>> values(call->count);
            if (value && jsc_value_is_array(value)) {
                for (std::size_t i = 0; i < call->count; ++i) {
                    JSCValue* item = jsc_value_object_get_property_at_index(value, static_cast<guint>(i));
                    if (item && jsc_value_is_string(item)) {
                        char* text = jsc_value_to_string(item);
                        values[i] = text;
                        g_free(text);
                    }
                    if (item) g_object_unref(item);
                }
            }
            if (value) g_object_unref(value);
            if (*call->alive) call->reply(values);
        },
        call);
}

}  // namespace platform::gtk
