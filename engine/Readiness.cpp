#include "engine/Readiness.h"

#include <cstdlib>
#include <memory>

namespace engine {

const char* const kWatchScript = R"JS(
(function () {
  if (window.__vemoWatch) return;
  var w = window.__vemoWatch = { targets: new Set(), scroll: 0, requests: 0, timers: new Map(), changed: -1e9,
                                 setTimeout: window.setTimeout.bind(window) };
  var IO = window.IntersectionObserver;
  if (IO) {
    var observe = IO.prototype.observe;
    IO.prototype.observe = function (t) { if (!this.root) w.targets.add(t); return observe.apply(this, arguments); };
  }
  var add = EventTarget.prototype.addEventListener;
  EventTarget.prototype.addEventListener = function (type) {
    if ((type === 'scroll' || type === 'wheel') &&
        (this === window || this === document || this === document.documentElement || this === document.body)) w.scroll++;
    return add.apply(this, arguments);
  };
  var st = window.setTimeout, ct = window.clearTimeout;
  window.setTimeout = function (fn, ms) {
    var d = Number(ms) || 0;
    if (typeof fn !== 'function' || d > 1000) return st.apply(this, arguments);
    var args = Array.prototype.slice.call(arguments, 2), id;
    id = st.call(window, function () { w.timers.delete(id); return fn.apply(this, args); }, d);
    w.timers.set(id, 1);
    return id;
  };
  window.clearTimeout = function (id) { w.timers.delete(id); return ct.apply(this, arguments); };
  if (window.fetch) {
    var f = window.fetch;
    window.fetch = function () {
      w.requests++;
      var p = f.apply(this, arguments);
      p.then(function () { w.requests--; }, function () { w.requests--; });
      return p;
    };
  }
  var send = XMLHttpRequest.prototype.send;
  XMLHttpRequest.prototype.send = function () {
    w.requests++;
    add.call(this, 'loadend', function () { w.requests--; }, { once: true });
    return send.apply(this, arguments);
  };
  add.call(window, 'beforeunload', function () { w.leaving = true; });
  add.call(window, 'pagehide', function () { w.leaving = true; });
  if (window.navigation) add.call(window.navigation, 'navigate', function () { w.leaving = true; });
  // Changes the page makes once loaded; the parser's own are over by then.
  new MutationObserver(function () { if (document.readyState === 'complete') w.changed = performance.now(); })
    .observe(document, { childList: true, subtree: true, attributes: true, characterData: true });
})();
)JS";

namespace {

const char* const kReadyScript = R"JS(
const w = window.__vemoWatch;
const later = (w && w.setTimeout) || setTimeout;
const until = Date.now() + ms;
const left = () => Math.max(0, until - Date.now());
const sleep = t => new Promise(r => later(r, t));
const frame = () => Promise.race([new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))), sleep(100)]);
let stopped = false;
const self = { stop() { stopped = true; } };
window.__vemoWarm = self;
const out = { growing: false, leaving: false, refresh: -1, missing: 0, first: '' };
const atRest = () => {
  if (!rest || !document.getAnimations) return;
  for (const a of document.getAnimations()) {
    try {
      const t = a.effect && a.effect.getComputedTiming();
      if (t && isFinite(t.endTime)) a.finish(); else a.pause();
    } catch (e) {}
  }
};
const busy = () => w && (w.timers.size > 0 || w.requests > 0 || performance.now() - w.changed < 50);
const fontsIn = async () => {
  if (document.fonts && document.fonts.status !== 'loaded') await Promise.race([document.fonts.ready, sleep(left())]);
};
const incomplete = () => Array.from(document.images).filter(i => !i.complete && (i.currentSrc || i.src));
try {
  await fontsIn();
  const se = document.scrollingElement || document.documentElement;
  const listens = w && (w.scroll > 0 || window.onscroll || document.onscroll || (document.body && document.body.onscroll));
  const hasTargets = w && w.targets.size > 0;
  if (wake && se && (listens || hasTargets) && !stopped) {
    const x = window.scrollX, screen = Math.max(1, window.innerHeight);
    const visited = [];
    const seen = y => visited.some(v => y >= v && y < v + screen);
    // How long the page takes to answer being scrolled (its observers, then its changes),
    // as seen so far: the wait for its answer follows it, on a busy machine too.
    let answers = 150, visitedAt = 0;
    const heard = () => { if (w.changed > visitedAt && visitedAt > 0) answers = Math.max(answers, w.changed - visitedAt); };
    const answerWait = async () => {
      const q = Date.now() + Math.min(2000, left()), least = Date.now() + Math.min(Math.max(250, 2 * answers), 1500, left());
      while (!stopped && (busy() || Date.now() < least) && Date.now() < q) { await frame(); heard(); }
    };
    const visit = async y => {
      window.scrollTo(x, y); visited.push(window.scrollY); visitedAt = performance.now(); await frame(); heard();
    };
    if (listens) {
      let y = 0;
      for (;;) {
        for (; y < se.scrollHeight && left() > 0 && !stopped; y += Math.floor(screen * 0.9)) await visit(y);
        await answerWait();
        if (stopped || y >= se.scrollHeight) break;
        if (left() === 0) { out.growing = true; break; }
      }
    } else {
      const unseen = () => {
        const ys = [];
        w.targets.forEach(t => {
          if (!t.isConnected) return;
          const r = t.getBoundingClientRect();
          if (r.width === 0 && r.height === 0) return;
          if (!seen(r.top + window.scrollY)) ys.push(Math.max(0, r.top + window.scrollY - screen / 2));
        });
        return ys.sort((a, b) => a - b);
      };
      for (;;) {
        let ys = unseen();
        if (!ys.length) {
          // The page may still be answering what it saw (a request, a timer): once it is
          // quiet, what it added is looked at.
          await answerWait();
          ys = unseen();
          // The limit came while the page was still answering: it may well have grown on.
          if (!ys.length && !stopped && left() === 0 && busy()) { out.growing = true; break; }
        }
        if (!ys.length || stopped) break;
        if (left() === 0) { out.growing = true; break; }
        for (const y of ys) {
          if (stopped || left() === 0) break;
          if (!seen(y + screen / 2)) await visit(y);
        }
      }
    }
    if (!stopped) {
      window.scrollTo(x, 0);
      await frame();
      const pending = incomplete();
      await Promise.race([Promise.all(pending.map(i => new Promise(r => {
        i.addEventListener('load', r, { once: true }); i.addEventListener('error', r, { once: true }); }))),
        sleep(Math.min(left(), 5000))]);
    }
  }
  atRest();
  const quiet = Date.now() + Math.min(quietMs, left());
  while (!stopped && busy() && Date.now() < quiet) { await frame(); atRest(); }
  // Text the page added late may have asked for fonts of its own.
  await fontsIn();
  const m = document.querySelector('meta[http-equiv="refresh" i]');
  if (m) {
    const c = /^\s*(\d+(?:\.\d*)?)\s*[;,]?\s*(?:url\s*=)?\s*(\S.*)?$/i.exec(m.content || '');
    if (c && c[2]) out.refresh = Math.ceil(parseFloat(c[1]));
  }
  out.leaving = !!(w && w.leaving);
  const missing = incomplete();
  out.missing = missing.length;
  out.first = missing.length ? (missing[0].currentSrc || missing[0].src) : '';
  return JSON.stringify(out);
} finally {
  if (window.__vemoWarm === self) delete window.__vemoWarm;
})JS";

// The value of "name": in a flat JSON object of numbers, booleans and plain strings.
std::string field(const std::string& json, const std::string& name) {
    const auto at = json.find("\"" + name + "\":");
    if (at == std::string::npos) return {};
    auto v = at + name.size() + 3;
    if (v < json.size() && json[v] == '"') {
        std::string s;
        for (++v; v < json.size() && json[v] != '"'; ++v) {
            if (json[v] == '\\' && v + 1 < json.size()) ++v;
            s += json[v];
        }
        return s;
    }
    return json.substr(v, json.find_first_of(",}", v) - v);
}

}  // namespace

Readiness parseReadiness(const std::string& json) {
    Readiness r;
    if (json.empty() || json.front() != '{') return r;
    r.answered = true;
    r.stillGrowing = field(json, "growing") == "true";
    r.leaving = field(json, "leaving") == "true";
    r.refreshSeconds = std::atoi(field(json, "refresh").c_str());
    if (field(json, "refresh").empty()) r.refreshSeconds = -1;
    r.stillLoading = std::atoi(field(json, "missing").c_str());
    r.firstMissing = field(json, "first");
    return r;
}

void startReadiness(WebKitWebView* view, const ReadyOptions& o, std::function<void(const Readiness&)> done) {
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&args, "{sv}", "ms", g_variant_new_int32(o.ms));
    g_variant_builder_add(&args, "{sv}", "wake", g_variant_new_int32(o.wake ? 1 : 0));
    g_variant_builder_add(&args, "{sv}", "rest", g_variant_new_int32(o.rest ? 1 : 0));
    g_variant_builder_add(&args, "{sv}", "quietMs", g_variant_new_int32(o.quietMs));
    webkit_web_view_call_async_javascript_function(
        view, kReadyScript, -1, g_variant_builder_end(&args), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void(const Readiness&)>> then(
                static_cast<std::function<void(const Readiness&)>*>(data));
            JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            std::string json;
            if (v && jsc_value_is_string(v)) {
                char* text = jsc_value_to_string(v);
                json = text;
                g_free(text);
            }
            if (v) g_object_unref(v);
            if (*then) (*then)(parseReadiness(json));
        },
        new std::function<void(const Readiness&)>(std::move(done)));
}

}  // namespace engine
