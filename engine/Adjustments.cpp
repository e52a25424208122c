#include "engine/Adjusting.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/PagePainter.h"

namespace engine {

namespace {

// The changes before the script: waits for an element, hides, removes, styles.
const char* const kBefore = R"JS(
const bad = s => { try { document.querySelector(s); return false; } catch (e) { return true; } };
for (const s of [waitFor, hide, remove, selector]) if (s && bad(s)) return JSON.stringify({ problem: 'selector', detail: s });
const st = window.__vemoAdjust = window.__vemoAdjust || { added: [], saved: [] };
const visible = e => { const r = e.getBoundingClientRect(), c = getComputedStyle(e);
  return r.width > 0 && r.height > 0 && c.visibility !== 'hidden' && c.display !== 'none'; };
if (waitFor) {
  const until = Date.now() + Number(ms);
  for (;;) {
    const e = document.querySelector(waitFor);
    if (e && visible(e)) break;
    if (Date.now() >= until) return JSON.stringify({ problem: 'wait', detail: waitFor });
    await new Promise(r => requestAnimationFrame(() => setTimeout(r, 16)));
  }
}
const css = (hide ? hide + ' { visibility: hidden !important }\n' : '') +
            (remove ? remove + ' { display: none !important }\n' : '') + (style || '');
if (css) {
  const s = document.createElement('style');
  s.textContent = css;
  (document.head || document.documentElement).appendChild(s);
  st.added.push(s);
}
return JSON.stringify({ problem: '' });
)JS";

// After the script: lets a page that scrolls inside a box out to its content, and
// finds the part asked for.
const char* const kAfter = R"JS(
if (window.__vemoWarm) window.__vemoWarm.stop();
const st = window.__vemoAdjust = window.__vemoAdjust || { added: [], saved: [] };
const de = document.documentElement, se = document.scrollingElement || de, vh = innerHeight;
const out = { problem: '', expanded: false, part: null };
const set = (e, p, v) => {
  if (!st.saved.some(s => s[0] === e)) st.saved.push([e, e.getAttribute('style'), e.scrollTop]);
  e.style.setProperty(p, v, 'important');
};
if (expand && document.body && se.scrollHeight <= vh + 1) {
  // The box whose content reaches furthest beyond what it shows.
  let box = null, most = vh / 2;
  for (const e of document.body.getElementsByTagName('*')) {
    if (e.clientHeight <= 0 || e.scrollHeight - e.clientHeight <= most) continue;
    if (!/(auto|scroll|overlay)/.test(getComputedStyle(e).overflowY)) continue;
    box = e; most = e.scrollHeight - e.clientHeight;
  }
  if (box) {
    for (let e = box; e; e = e.parentElement) {
      const cs = getComputedStyle(e);
      set(e, 'height', 'auto'); set(e, 'max-height', 'none'); set(e, 'overflow', 'visible');
      if (cs.position === 'fixed' || cs.position === 'absolute') {
        set(e, 'position', 'absolute'); set(e, 'bottom', 'auto');
      }
      e.scrollTop = 0;
    }
    // A box sized by its own flex or grid track still takes its content's height.
    set(box, 'min-height', box.scrollHeight + 'px');
    set(box, 'flex', 'none');
    out.expanded = true;
  }
}
if (selector) {
  const e = document.querySelector(selector);
  if (!e) return JSON.stringify({ problem: 'element', detail: selector });
  const r = e.getBoundingClientRect();
  out.part = [r.left + scrollX, r.top + scrollY, r.width, r.height];
} else if (clip) {
  out.part = clip.split(',').map(Number);
} else if (viewport) {
  out.part = [0, 0, innerWidth, innerHeight];
}
return JSON.stringify(out);
)JS";

const char* const kPutBack = R"JS(
const st = window.__vemoAdjust;
if (!st) return true;
st.added.forEach(s => s.remove());
for (let i = st.saved.length - 1; i >= 0; --i) {
  const [e, v, top] = st.saved[i];
  if (v === null) e.removeAttribute('style'); else e.setAttribute('style', v);
  e.scrollTop = top;
}
delete window.__vemoAdjust;
return true;
)JS";

struct Reply {
    bool done = false;
    std::optional<std::string> value;
    std::string error;
};

// Runs an async function body with string arguments; its value as text.
Reply call(WebKitWebView* view, const std::string& body, const std::vector<std::pair<const char*, std::string>>& args,
           int ms, const std::atomic<bool>* cancel) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [name, value] : args) g_variant_builder_add(&b, "{sv}", name, g_variant_new_string(value.c_str()));
    auto reply = std::make_shared<Reply>();
    webkit_web_view_call_async_javascript_function(
        view, body.c_str(), -1, g_variant_builder_end(&b), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Reply>> keep(static_cast<std::shared_ptr<Reply>*>(data));
            GError* error = nullptr;
            JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            auto& r = **keep;
            if (error) {
                r.error = error->message;
                g_error_free(error);
            }
            if (v && !jsc_value_is_undefined(v) && !jsc_value_is_null(v)) {
                char* text = jsc_value_to_string(v);
                r.value = text;
                g_free(text);
            } else if (v && !error) {
                r.value = "";
            }
            if (v) g_object_unref(v);
            r.done = true;
        },
        new std::shared_ptr<Reply>(reply));
    iterateUntil([&] { return reply->done; }, ms, cancel);
    return *reply;
}

std::string field(const std::string& json, const std::string& name) {
    const auto at = json.find("\"" + name + "\":\"");
    if (at == std::string::npos) return {};
    std::string s;
    for (auto i = at + name.size() + 4; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) ++i;
        s += json[i];
    }
    return s;
}

Adjusted::Problem problemOf(const std::string& json) {
    const auto p = field(json, "problem");
    if (p == "selector") return Adjusted::Problem::BadSelector;
    if (p == "wait") return Adjusted::Problem::WaitedInVain;
    if (p == "element") return Adjusted::Problem::NoElement;
    return Adjusted::Problem::None;
}

Adjusted failed(Adjusted::Problem p, const std::string& detail) {
    Adjusted a;
    a.problem = p;
    a.detail = detail;
    return a;
}

}  // namespace

Adjusted adjust(WebKitWebView* view, const Adjustments& a, int ms, const std::atomic<bool>* cancel) {
    Adjusted out;
    const gint64 until = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    auto left = [&] { return static_cast<int>(std::max<gint64>(1, (until - g_get_monotonic_time()) / 1000)); };
    Reply r;
    // Each script is a round trip to the page: only those with something to do are sent.
    if (!a.waitFor.empty() || !a.hide.empty() || !a.remove.empty() || !a.style.empty() || !a.selector.empty()) {
        r = call(view, kBefore,
                 {{"waitFor", a.waitFor}, {"hide", a.hide}, {"remove", a.remove}, {"style", a.style},
                  {"selector", a.selector}, {"ms", std::to_string(std::max(0, ms - 500))}},
                 left(), cancel);
        if (!r.value) return failed(Adjusted::Problem::NotAnswered, r.error);
        if ((out.problem = problemOf(*r.value)) != Adjusted::Problem::None) {
            out.detail = field(*r.value, "detail");
            return out;
        }
    }
    if (!a.script.empty()) {
        // An expression, its promise awaited; or statements, which may await and return.
        r = call(view, "return (\n" + a.script + "\n);", {}, left(), cancel);
        if (!r.value && r.error.find("SyntaxError") != std::string::npos) r = call(view, a.script, {}, left(), cancel);
        if (!r.value && r.done) return failed(Adjusted::Problem::ScriptFailed, r.error);
        if (!r.value) return failed(Adjusted::Problem::NotAnswered, r.error);
    }
    if (!a.expand && a.selector.empty() && !a.clip && !a.viewport) return out;
    std::string clip;
    if (a.clip) {
        char b[128];
        std::snprintf(b, sizeof b, "%g,%g,%g,%g", (*a.clip)[0], (*a.clip)[1], (*a.clip)[2], (*a.clip)[3]);
        clip = b;
    }
    r = call(view, kAfter,
             {{"expand", a.expand ? "1" : ""}, {"selector", a.selector}, {"clip", clip}, {"viewport", a.viewport ? "1" : ""}},
             left(), cancel);
    if (!r.value) return failed(Adjusted::Problem::NotAnswered, r.error);
    if ((out.problem = problemOf(*r.value)) != Adjusted::Problem::None) {
        out.detail = field(*r.value, "detail");
        return out;
    }
    out.expanded = r.value->find("\"expanded\":true") != std::string::npos;
    const auto part = r.value->find("\"part\":[");
    if (part != std::string::npos) {
        double v[4] = {};
        if (std::sscanf(r.value->c_str() + part + 8, "%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3]) == 4) {
            const long x = std::lround(std::floor(v[0])), y = std::lround(std::floor(v[1]));
            out.part = std::array<long, 4>{x, y, std::lround(std::ceil(v[0] + v[2])) - x, std::lround(std::ceil(v[1] + v[3])) - y};
        }
    }
    return out;
}

void putBack(WebKitWebView* view, int ms, const std::atomic<bool>* cancel) { call(view, kPutBack, {}, ms, cancel); }

}  // namespace engine
