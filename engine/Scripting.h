// Running scripts in a web view's page, and reading the values they give back as
// JavaScript values, not as text.
//
// The engine's own scripts run in a script world of its own: they share the page's
// document (its elements, styles and layout) but none of its scripts' globals, so a
// page can neither see them nor replace what they use (JSON, Array.from, its own
// copies of DOM methods). A caller's script runs in the page's world, as its author
// expects.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <functional>
#include <string>

namespace engine {

enum class World { Page, Engine };

// The name the engine's world goes by in the web process.
const char* worldName(World);

// A value a script gave back, held; empty when it gave none.
class ScriptValue {
public:
    ScriptValue() = default;
    explicit ScriptValue(JSCValue* adopted) : v_(adopted) {}
    ScriptValue(ScriptValue&& o) noexcept : v_(o.v_) { o.v_ = nullptr; }
    ScriptValue& operator=(ScriptValue&& o) noexcept;
    ScriptValue(const ScriptValue&) = delete;
    ScriptValue& operator=(const ScriptValue&) = delete;
    ~ScriptValue();

    JSCValue* get() const { return v_; }
    // A value, neither undefined nor null.
    bool present() const;
    bool isObject() const;
    // A property of an object, or an element of an array; empty when there is none.
    ScriptValue operator[](const char* name) const;
    ScriptValue at(unsigned index) const;
    // The value as a number, when it is one.
    double number(double otherwise = 0) const;
    // The value as a boolean, as JavaScript takes it.
    bool truth() const;
    // The value as text, when it is a string.
    std::string text() const;

private:
    JSCValue* v_ = nullptr;
};

struct ScriptReply {
    bool answered = false;  // the page replied within the time (with a value or an exception)
    ScriptValue value;      // empty when it threw
    std::string error;      // the exception, as the engine words it
};

// The arguments of a function called in a page (a{sv}).
class ScriptArgs {
public:
    ScriptArgs() { g_variant_builder_init(&b_, G_VARIANT_TYPE("a{sv}")); }
    ~ScriptArgs() { g_variant_builder_clear(&b_); }
    ScriptArgs(const ScriptArgs&) = delete;
    ScriptArgs& operator=(const ScriptArgs&) = delete;
    ScriptArgs& text(const char* name, const std::string& v) { return add(name, g_variant_new_string(v.c_str())); }
    ScriptArgs& number(const char* name, double v) { return add(name, g_variant_new_double(v)); }
    // 1 or 0: the engine passes only strings and numbers.
    ScriptArgs& flag(const char* name, bool v) { return add(name, g_variant_new_int32(v ? 1 : 0)); }
    // The arguments, as a floating reference; the builder is empty afterwards.
    GVariant* end() { return g_variant_builder_end(&b_); }

private:
    ScriptArgs& add(const char* name, GVariant* v) {
        g_variant_builder_add(&b_, "{sv}", name, v);
        return *this;
    }
    GVariantBuilder b_;
};

// Evaluates `script` in `world`, waiting up to `ms` on the main loop (a `cancel` flag,
// when given and set, ends the wait at once).
ScriptReply evaluate(WebKitWebView*, const std::string& script, World, int ms, const std::atomic<bool>* cancel = nullptr);

// Calls `body` as the body of an async function with `arguments` (a{sv}, or null;
// a floating reference is taken), awaiting the promise it gives; waits as evaluate().
ScriptReply callFunction(WebKitWebView*, const std::string& body, GVariant* arguments, World, int ms,
                         const std::atomic<bool>* cancel = nullptr);

// Send without waiting: `done` hears the reply (answered is always true), whenever it comes.
using ScriptDone = std::function<void(ScriptReply&&)>;
void sendScript(WebKitWebView*, const std::string& script, World, ScriptDone done);
void sendFunction(WebKitWebView*, const std::string& body, GVariant* arguments, World, ScriptDone done);

}  // namespace engine
