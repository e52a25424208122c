#include "engine/Watch.h"

#include <string>

#include "engine/Scripting.h"

namespace engine {

namespace {

// In the page's world. `name` is the view's own prefix for the events it answers and sends.
const char* const kHook = R"JS(
(function (name) {
  'use strict';
  var w = window, d = document, apply = Reflect.apply, own = Object.getOwnPropertyDescriptor;
  var add = EventTarget.prototype.addEventListener, dispatch = EventTarget.prototype.dispatchEvent;
  var Custom = CustomEvent, Focus = FocusEvent, slice = Array.prototype.slice, then = Promise.prototype.then;
  var rootOf = own(Document.prototype, 'documentElement').get, bodyOf = own(Document.prototype, 'body').get;
  var timers = Object.create(null), short = 0, requests = 0, scrolls = 0, targets = [], told = 0;
  var boxes = [], toldBoxes = 0, Elem = w.Element, isElement = function (e) { return e instanceof Elem; };
  var noted = function (e) { for (var i = 0; i < boxes.length; ++i) if (boxes[i] === e) return true; return false; };
  var IO = w.IntersectionObserver;
  if (IO) {
    var observe = IO.prototype.observe, io = IO.prototype;
    var rootOfIO = own(io, 'root').get, marginOf = own(io, 'rootMargin').get, thresholdsOf = own(io, 'thresholds').get;
    // Each target with what its observer waits for: its root, its margins, its thresholds.
    IO.prototype.observe = function (t) {
      try {
        var root = apply(rootOfIO, this, []), limits = apply(thresholdsOf, this, []), all = '';
        for (var i = 0; i < limits.length; ++i) all += (i ? ' ' : '') + limits[i];
        targets[targets.length] = [t, isElement(root) ? root : null, apply(marginOf, this, []) + '|' + all];
      } catch (e) {}
      return apply(observe, this, arguments);
    };
  }
  EventTarget.prototype.addEventListener = function (type) {
    var on = this == null ? w : this;  // a bare addEventListener(...) is the window's
    if (type === 'scroll' || type === 'wheel') {
      if (on === w || on === d || on === apply(rootOf, d, []) || on === apply(bodyOf, d, [])) ++scrolls;
      else if (isElement(on) && !noted(on)) boxes[boxes.length] = on;  // a box's own listener
    }
    return apply(add, on, arguments);
  };
  var st = w.setTimeout, ct = w.clearTimeout;
  var ended = function (id) { if (timers[id]) { delete timers[id]; --short; } };
  w.setTimeout = function (fn, ms) {
    var delay = Number(ms) || 0;
    if (typeof fn !== 'function' || delay > 1000) return apply(st, w, arguments);
    var args = apply(slice, arguments, [2]), id;
    id = apply(st, w, [function () { ended(id); return apply(fn, this, args); }, delay]);
    timers[id] = 1;
    ++short;
    return id;
  };
  w.clearTimeout = function (id) { ended(id); return apply(ct, w, arguments); };
  var f = w.fetch;
  if (f) {
    w.fetch = function () {
      ++requests;
      var done = function () { --requests; }, p;
      try { p = apply(f, this == null ? w : this, arguments); } catch (e) { done(); throw e; }
      apply(then, p, [done, done]);
      return p;
    };
  }
  var XP = w.XMLHttpRequest && XMLHttpRequest.prototype, send = XP && XP.send;
  if (send) {
    XP.send = function () {
      var open = true, done = function () { if (open) { open = false; --requests; } };
      ++requests;
      apply(add, this, ['loadend', done, { once: true }]);
      try { return apply(send, this, arguments); } catch (e) { done(); throw e; }
    };
  }
  apply(add, w, [name + ':ask', function () {
    var on = false;
    try { var b = apply(bodyOf, d, []); on = !!(w.onscroll || d.onscroll || (b && b.onscroll)); } catch (e) {}
    apply(dispatch, w, [new Custom(name + ':state', { detail: short + ',' + requests + ',' + scrolls + ',' + (on ? 1 : 0) })]);
    for (; told < targets.length; ++told) {
      var t = targets[told];
      apply(dispatch, w, [new Custom(name + ':how', { detail: t[2] })]);
      if (t[1]) apply(dispatch, w, [new Focus(name + ':root', { relatedTarget: t[1] })]);
      apply(dispatch, w, [new Focus(name + ':target', { relatedTarget: t[0] })]);
    }
    for (; toldBoxes < boxes.length; ++toldBoxes)
      apply(dispatch, w, [new Focus(name + ':box', { relatedTarget: boxes[toldBoxes] })]);
  }, true]);
})
)JS";

// In the engine's world.
const char* const kWatcher = R"JS(
(function (name) {
  if (window.__vemoWatch) return;
  // targets: each element the page's observers watch, with { root, margin, thresholds }
  // of its observer; boxes: the elements whose own scrolling the page listens to.
  const w = window.__vemoWatch = { targets: new Map(), boxes: new Set(), changed: -1e9, leaving: false,
                                   timers: 0, requests: 0, scrolls: 0, onscroll: false };
  let how = '', root = null;
  // What the hook in the page's world has noted, brought up to date.
  w.ask = () => { dispatchEvent(new Event(name + ':ask')); return w; };
  addEventListener(name + ':state', e => {
    e.stopImmediatePropagation();
    const v = String(e.detail).split(',').map(Number);
    w.timers = v[0] || 0; w.requests = v[1] || 0; w.scrolls = v[2] || 0; w.onscroll = v[3] === 1;
  }, true);
  addEventListener(name + ':how', e => { e.stopImmediatePropagation(); how = String(e.detail); root = null; }, true);
  addEventListener(name + ':root', e => { e.stopImmediatePropagation(); root = e.relatedTarget; }, true);
  addEventListener(name + ':target', e => {
    e.stopImmediatePropagation();
    const [margin, limits] = how.split('|');
    const thresholds = (limits || '0').split(' ').map(Number).filter(isFinite);
    if (e.relatedTarget) w.targets.set(e.relatedTarget, { root, margin: margin || '0px', thresholds });
  }, true);
  addEventListener(name + ':box', e => {
    e.stopImmediatePropagation();
    if (e.relatedTarget) w.boxes.add(e.relatedTarget);
  }, true);
  const leaving = () => { w.leaving = true; };
  addEventListener('beforeunload', leaving);
  addEventListener('pagehide', leaving);
  if (window.navigation) navigation.addEventListener('navigate', leaving);
  // Changes the page makes once loaded; the parser's own are over by then.
  new MutationObserver(() => { if (document.readyState === 'complete') w.changed = performance.now(); })
    .observe(document, { childList: true, subtree: true, attributes: true, characterData: true });
})
)JS";

void addScript(WebKitUserContentManager* m, const std::string& source, World world) {
    const auto frames = WEBKIT_USER_CONTENT_INJECT_TOP_FRAME;
    const auto when = WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START;
    WebKitUserScript* s = world == World::Page
                              ? webkit_user_script_new(source.c_str(), frames, when, nullptr, nullptr)
                              : webkit_user_script_new_for_world(source.c_str(), frames, when, worldName(world), nullptr, nullptr);
    webkit_user_content_manager_add_script(m, s);
    webkit_user_script_unref(s);
}

}  // namespace

void watchPages(WebKitUserContentManager* m) {
    // A name no page can know: it can neither send nor hear what the two say.
    char name[40];
    g_snprintf(name, sizeof name, "vemo-%08x%08x", g_random_int(), g_random_int());
    const std::string call = std::string("('") + name + "');";
    addScript(m, kHook + call, World::Page);
    addScript(m, kWatcher + call, World::Engine);
}

}  // namespace engine
