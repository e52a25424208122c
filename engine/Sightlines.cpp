#include "engine/Sightlines.h"

namespace engine {

namespace {

const char* const kSightlines = R"JS(
const se = document.scrollingElement || document.documentElement, x0 = window.scrollX;
const scrolls = e => e.scrollHeight > e.clientHeight + 1 && /(auto|scroll|overlay)/.test(getComputedStyle(e).overflowY);
// Each box that scrolls inside the page: where it stands, how much it shows, how far it
// goes, where an element is along it, and an instant scroll.
const boxes = new Map();
const boxOf = e => {
  let b = boxes.get(e);
  if (!b) boxes.set(e, b = { el: e, from: e.scrollTop, visited: [], top: () => e.scrollTop, height: () => e.clientHeight,
                             size: () => e.scrollHeight, at: r => r.top - e.getBoundingClientRect().top - e.clientTop + e.scrollTop,
                             to: y => e.scrollTo({ left: e.scrollLeft, top: y, behavior: 'instant' }) });
  return b;
};
// The page: the document scrolling as a whole, or the body (or root) scrolling in its
// place while the document stands still, as html, body { height: 100%; overflow-x: hidden }
// has it. What the page's scroll listeners and observers wait for is seen as that scrolls.
const ownScroller = se.scrollHeight > se.clientHeight + 1 ? null
  : [document.body, document.documentElement].find(e => e && e !== se && scrolls(e)) || null;
const page = ownScroller ? boxOf(ownScroller)
  : { el: null, from: 0, visited: [], top: () => window.scrollY, height: () => window.innerHeight,
      size: () => se.scrollHeight, at: r => r.top + window.scrollY,
      to: y => window.scrollTo({ left: x0, top: y, behavior: 'instant' }) };
const up = e => e.parentElement || (e.parentNode && e.parentNode.host) || null;
const scrollerOf = (t, root) => {
  if (root && root !== se && root.isConnected && scrolls(root)) return boxOf(root);
  for (let e = up(t); e && e !== document.documentElement; e = up(e)) if (e !== se && scrolls(e)) return boxOf(e);
  return page;
};
// The page's scroll listeners' scrollers: the page, and boxes with listeners of their own.
const scrollersOf = () => {
  const all = [];
  if (w.scrolls > 0 || w.onscroll) all.push(page);
  w.boxes.forEach(e => { if (e.isConnected && e !== se && scrolls(e)) all.push(boxOf(e)); });
  return all;
};
// An observer's margins, [top, right, bottom, left] in px, around a root of wd x h.
const marginsOf = (m, wd, h) => {
  const v = String(m || '0px').trim().split(/\s+/), s = [v[0], v[1] || v[0], v[2] || v[0], v[3] || v[1] || v[0]];
  return s.map((p, i) => (parseFloat(p) || 0) * (p.endsWith('%') ? (i % 2 ? wd : h) / 100 : 1));
};
const plain = { root: null, margin: '0px', thresholds: [0] };
// Images the page leaves to load once near, and frames, in shadow roots too.
const deep = () => {
  const found = [], roots = [document];
  for (let i = 0; i < roots.length; ++i) {
    for (const e of roots[i].querySelectorAll('*')) {
      if (e.shadowRoot) roots.push(e.shadowRoot);
      if ((e.localName === 'img' && e.loading === 'lazy' && !e.complete) || e.localName === 'iframe') found.push(e);
    }
  }
  return found;
};
const targetsNow = () => {
  w.ask();
  const all = new Map(w.targets);
  for (const e of deep()) if (!all.has(e)) all.set(e, plain);
  return all;
};
// Whether the page's observer sees t now: t's box against its root's, with its margins.
const inSight = (t, how) => {
  const r = t.getBoundingClientRect(), o = how.root && how.root.isConnected ? how.root.getBoundingClientRect()
                                                                             : { left: 0, top: 0, right: innerWidth, bottom: innerHeight };
  const [mt, mr, mb, ml] = marginsOf(how.margin, o.right - o.left, o.bottom - o.top);
  return r.bottom >= o.top - mt && r.top <= o.bottom + mb && r.right >= o.left - ml && r.left <= o.right + mr;
};
// Whether t, at p along s and th tall, was seen from s at v, as its observer sees: with
// its margins where s is its root, and as much of it as its highest threshold asks.
const seenFrom = (s, v, p, th, how) => {
  const own = (s === page && (!how.root || how.root === se)) || (!!s.el && how.root === s.el);
  const h = s.height(), [mt, , mb] = own ? marginsOf(how.margin, 0, h) : [0, 0, 0];
  const lo = v - mt, hi = v + h + mb;
  if (th <= 0) return p >= lo && p <= hi;
  const need = Math.min(th, hi - lo) * Math.max(0, ...how.thresholds);
  const shown = Math.min(p + th, hi) - Math.max(p, lo);
  return shown > 0 && shown >= need - 1;
};
// The engine's own observers, one for each of the page's kinds, tell where the page's
// observers last saw their targets: both are told in the same rendering step.
const inView = new Map(), mirrors = [];
const mirrorOf = how => {
  let m = mirrors.find(o => o.root === how.root && o.margin === how.margin && String(o.thresholds) === String(how.thresholds));
  if (!m) {
    let io = null;
    const seen = es => es.forEach(e => inView.set(e.target, e.isIntersecting));
    try { io = new IntersectionObserver(seen, { root: how.root, rootMargin: how.margin, threshold: how.thresholds }); }
    catch (e) { io = new IntersectionObserver(seen); }
    mirrors.push(m = { root: how.root, margin: how.margin, thresholds: how.thresholds, io });
  }
  return m.io;
};
const followed = new Map();
const followAll = () => targetsNow().forEach((how, t) => { if (!followed.has(t)) { followed.set(t, how); mirrorOf(how).observe(t); } });
const stopMirrors = () => mirrors.forEach(m => m.io.disconnect());
// The page's observers have not yet looked at a target, or saw one the page has since
// moved out of their sight: until they see it gone, they would not hear it seen again.
const pending = () => {
  for (const [t, how] of followed) {
    if (!t.isConnected) continue;
    if (!inView.has(t) || (inView.get(t) && !inSight(t, how))) return true;
  }
  return false;
};
// Where to scroll to show each target not yet seen, nor tried where it stands: its
// scroller and the position there that shows it whole (its top, when it is taller).
const tried = new Map();
const unseen = () => {
  const list = [];
  followAll();
  targetsNow().forEach((how, t) => {
    if (!t.isConnected) return;
    const r = t.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) return;
    const s = scrollerOf(t, how.root), p = s.at(r), last = tried.get(t);
    if (last && last.s === s && Math.abs(last.p - p) < 1) return;
    if (s.visited.some(v => seenFrom(s, v, p, r.height, how))) return;
    list.push({ t, s, p, y: Math.max(0, p - Math.max(0, (s.height() - r.height) / 2)), th: r.height, how });
  });
  return list.sort((a, b) => a.y - b.y);
};
)JS";

}  // namespace

const char* sightlinesScript() { return kSightlines; }

}  // namespace engine
