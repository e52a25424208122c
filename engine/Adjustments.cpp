#include "engine/Adjusting.h"

#include <algorithm>
#include <cmath>

#include "engine/LetOut.h"
#include "engine/Scripting.h"

namespace engine {

namespace {

// The changes before the script: waits for an element, hides, removes, styles.
const char* const kBefore = R"JS(
const bad = s => { try { document.querySelector(s); return false; } catch (e) { return true; } };
for (const s of [waitFor, hide, remove, selector]) if (s && bad(s)) return { problem: 'selector', detail: s };
const st = window.__vemoAdjust = window.__vemoAdjust || { added: [], saved: [] };
const visible = e => { const r = e.getBoundingClientRect(), c = getComputedStyle(e);
  return r.width > 0 && r.height > 0 && c.visibility !== 'hidden' && c.display !== 'none'; };
if (waitFor) {
  const until = Date.now() + ms;
  for (;;) {
    const e = document.querySelector(waitFor);
    if (e && visible(e)) break;
    if (Date.now() >= until) return { problem: 'wait', detail: waitFor };
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
return { problem: '' };
)JS";

// After the script: lets a page that scrolls inside a box out to its content (see
// engine/LetOut.h), and finds the part asked for.
const char* const kAfter = R"JS(
if (window.__vemoWarm) window.__vemoWarm.stop();
const st = window.__vemoAdjust = window.__vemoAdjust || { added: [], saved: [] };
const out = { problem: '', expanded: false, reshaped: false, part: null };
const kept = st.kept = st.kept || new Set();
// Notes an element as it is, to be put back, and (given a property) changes its style.
const set = (e, p, v) => {
  if (!kept.has(e)) { kept.add(e); st.saved.push([e, e.getAttribute('style'), e.scrollTop]); }
  if (p) e.style.setProperty(p, v, 'important');
};
const how = letOut(expand, set);
out.expanded = how === 'box';
out.reshaped = how !== '';
if (selector) {
  const e = document.querySelector(selector);
  if (!e) return { problem: 'element', detail: selector };
  const r = e.getBoundingClientRect();
  out.part = [r.left + scrollX, r.top + scrollY, r.width, r.height];
} else if (clip) {
  out.part = [clipX, clipY, clipWidth, clipHeight];
} else if (viewport) {
  out.part = [0, 0, innerWidth, innerHeight];
}
return out;
)JS";

// Whether a caller's script is an expression or statements, told by compiling it as
// the body of an async function either way, which runs nothing.
const char* const kFormOf = R"JS(
const AsyncFunction = (async () => {}).constructor;
try { new AsyncFunction('return (\n' + source + '\n);'); return { form: 'expression' }; } catch (e) {}
try { new AsyncFunction(source + '\n'); return { form: 'statements' }; } catch (e) { return { form: '', error: String(e) }; }
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

Adjusted::Problem problemOf(const ScriptValue& v) {
    const auto p = v["problem"].text();
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
    // Each script is a round trip to the page: only those with something to do are sent.
    if (!a.waitFor.empty() || !a.hide.empty() || !a.remove.empty() || !a.style.empty() || !a.selector.empty()) {
        const auto r = callFunction(view, kBefore,
                                    ScriptArgs()
                                        .text("waitFor", a.waitFor)
                                        .text("hide", a.hide)
                                        .text("remove", a.remove)
                                        .text("style", a.style)
                                        .text("selector", a.selector)
                                        .number("ms", std::max(0, ms - 500))
                                        .end(),
                                    World::Engine, left(), cancel);
        if (!r.value.isObject()) return failed(Adjusted::Problem::NotAnswered, r.error);
        if ((out.problem = problemOf(r.value)) != Adjusted::Problem::None) {
            out.detail = r.value["detail"].text();
            return out;
        }
    }
    if (!a.script.empty()) {
        // An expression, its promise awaited; or statements, which may await and return.
        // Which it is comes from compiling it without running it; it then runs once.
        const auto form = callFunction(view, kFormOf, ScriptArgs().text("source", a.script).end(), World::Engine,
                                       left(), cancel);
        if (!form.value.isObject()) return failed(Adjusted::Problem::NotAnswered, form.error);
        const auto kind = form.value["form"].text();
        if (kind != "expression" && kind != "statements")
            return failed(Adjusted::Problem::ScriptFailed, form.value["error"].text());
        const std::string body = kind == "expression" ? "return (\n" + a.script + "\n);" : a.script + "\n";
        const auto r = callFunction(view, body, nullptr, World::Page, left(), cancel);
        if (!r.answered) return failed(Adjusted::Problem::NotAnswered, r.error);
        if (!r.error.empty()) return failed(Adjusted::Problem::ScriptFailed, r.error);
    }
    // Sent even when no box is to be let out: a body that scrolls is the document scrolling.
    const auto clip = a.clip.value_or(std::array<double, 4>{});
    const auto r = callFunction(view, std::string(letOutScript()) + kAfter,
                                ScriptArgs()
                                    .flag("expand", a.expand)
                                    .text("selector", a.selector)
                                    .flag("clip", a.clip.has_value())
                                    .number("clipX", clip[0])
                                    .number("clipY", clip[1])
                                    .number("clipWidth", clip[2])
                                    .number("clipHeight", clip[3])
                                    .flag("viewport", a.viewport)
                                    .end(),
                                World::Engine, left(), cancel);
    if (!r.value.isObject()) return failed(Adjusted::Problem::NotAnswered, r.error);
    if ((out.problem = problemOf(r.value)) != Adjusted::Problem::None) {
        out.detail = r.value["detail"].text();
        return out;
    }
    out.expanded = r.value["expanded"].truth();
    out.reshaped = r.value["reshaped"].truth();
    if (const auto part = r.value["part"]; part.isObject()) {
        double v[4];
        for (unsigned i = 0; i < 4; ++i) v[i] = part.at(i).number(NAN);
        if (std::all_of(v, v + 4, [](double d) { return std::isfinite(d); })) {
            const long x = std::lround(std::floor(v[0])), y = std::lround(std::floor(v[1]));
            out.part = std::array<long, 4>{x, y, std::lround(std::ceil(v[0] + v[2])) - x, std::lround(std::ceil(v[1] + v[3])) - y};
        }
    }
    return out;
}

void putBack(WebKitWebView* view, int ms, const std::atomic<bool>* cancel) {
    callFunction(view, kPutBack, nullptr, World::Engine, ms, cancel);
}

void sendPutBack(WebKitWebView* view) { sendFunction(view, kPutBack, nullptr, World::Engine, nullptr); }

}  // namespace engine
