#include "engine/Scripting.h"

#include <memory>

#include "engine/PagePainter.h"

namespace engine {

const char* worldName(World w) { return w == World::Engine ? "vemo-engine" : nullptr; }

ScriptValue& ScriptValue::operator=(ScriptValue&& o) noexcept {
    if (this != &o) {
        if (v_) g_object_unref(v_);
        v_ = o.v_;
        o.v_ = nullptr;
    }
    return *this;
}

ScriptValue::~ScriptValue() {
    if (v_) g_object_unref(v_);
}

bool ScriptValue::present() const { return v_ && !jsc_value_is_undefined(v_) && !jsc_value_is_null(v_); }

bool ScriptValue::isObject() const { return v_ && jsc_value_is_object(v_); }

ScriptValue ScriptValue::operator[](const char* name) const {
    if (!isObject()) return {};
    return ScriptValue(jsc_value_object_get_property(v_, name));
}

ScriptValue ScriptValue::at(unsigned index) const {
    if (!isObject()) return {};
    return ScriptValue(jsc_value_object_get_property_at_index(v_, index));
}

double ScriptValue::number(double otherwise) const {
    return v_ && jsc_value_is_number(v_) ? jsc_value_to_double(v_) : otherwise;
}

bool ScriptValue::truth() const { return v_ && jsc_value_to_boolean(v_); }

std::string ScriptValue::text() const {
    if (!v_ || !jsc_value_is_string(v_)) return {};
    char* s = jsc_value_to_string(v_);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

namespace {

using Finish = JSCValue* (*)(WebKitWebView*, GAsyncResult*, GError**);

struct Sent {
    Finish finish;
    ScriptDone done;
};

void replied(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Sent> sent(static_cast<Sent*>(data));
    GError* error = nullptr;
    ScriptReply r;
    r.answered = true;
    r.value = ScriptValue(sent->finish(WEBKIT_WEB_VIEW(source), result, &error));
    if (error) {
        r.error = error->message;
        g_error_free(error);
    }
    if (sent->done) sent->done(std::move(r));
}

// Waits for a reply sent by `send`; one that comes after the wait has ended is dropped.
ScriptReply await(const std::function<void(ScriptDone)>& send, int ms, const std::atomic<bool>* cancel) {
    auto reply = std::make_shared<ScriptReply>();
    send([reply](ScriptReply&& r) { *reply = std::move(r); });
    iterateUntil([&] { return reply->answered; }, ms, cancel);
    ScriptReply out = std::move(*reply);
    reply->answered = false;
    if (cancel && *cancel) out.answered = false;  // cut short, as a time-out
    return out;
}

}  // namespace

void sendScript(WebKitWebView* view, const std::string& script, World world, ScriptDone done) {
    webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()), worldName(world),
                                        nullptr, nullptr, replied,
                                        new Sent{webkit_web_view_evaluate_javascript_finish, std::move(done)});
}

void sendFunction(WebKitWebView* view, const std::string& body, GVariant* arguments, World world, ScriptDone done) {
    webkit_web_view_call_async_javascript_function(
        view, body.c_str(), static_cast<gssize>(body.size()), arguments, worldName(world), nullptr, nullptr, replied,
        new Sent{webkit_web_view_call_async_javascript_function_finish, std::move(done)});
}

ScriptReply evaluate(WebKitWebView* view, const std::string& script, World world, int ms,
                     const std::atomic<bool>* cancel) {
    return await([&](ScriptDone done) { sendScript(view, script, world, std::move(done)); }, ms, cancel);
}

ScriptReply callFunction(WebKitWebView* view, const std::string& body, GVariant* arguments, World world, int ms,
                         const std::atomic<bool>* cancel) {
    return await([&](ScriptDone done) { sendFunction(view, body, arguments, world, std::move(done)); }, ms, cancel);
}

}  // namespace engine
