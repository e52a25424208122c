#include "engine/Readiness.h"

#include "engine/Scripting.h"
#include "engine/Sightlines.h"

namespace engine {

namespace {

// Before it: engine/Sightlines, which needs w; after it: kReadyScript.
const char* const kHead = R"JS(
// In the engine's world: what the page's scripts wait for comes from its watcher.
const w = window.__vemoWatch;
)JS";

const char* const kReadyScript = R"JS(
const later = setTimeout;
const until = Date.now() + ms;
const left = () => Math.max(0, until - Date.now());
const sleep = t => new Promise(r => later(r, t));
// Two rendering steps, or a tenth of a second where the view is not rendered at all. A
// view on the screen is rendered, though a busy machine may hold its steps back a while.
let renders = drawn, steps = 0, steppedAt = -Infinity;
const rendered = () => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => {
  renders = true; ++steps; steppedAt = performance.now(); r();
})));
const frame = () => Promise.race([rendered(), sleep(100)]);
let stopped = false;
const self = { stop() { stopped = true; } };
window.__vemoWarm = self;
const out = { growing: false, leaving: false, refresh: -1, missing: 0, first: '' };
const atRest = () => {
  if (!rest || !document.getAnimations) return;
  for (const a of document.getAnimations()) {
    try {
      // What an element's coming into view drives is shown as scrolling to it shows it.
      if (a.timeline && a.timeline !== document.timeline && 'subject' in a.timeline) a.timeline = document.timeline;
      const t = a.effect && a.effect.getComputedTiming();
      if (t && isFinite(t.endTime)) a.finish(); else a.pause();
    } catch (e) {}
  }
};
const busy = () => w && (w.ask(), w.timers > 0 || w.requests > 0 || performance.now() - w.changed < 50);
// The next look at whether the page is quiet: after two rendering steps; or, where only
// its last change keeps it busy and two steps have come since that change (what the
// page's observers made of it is seen), as soon as the change is 50 ms old.
const calmer = () => w && w.timers === 0 && w.requests === 0 && steppedAt > w.changed
  ? Promise.race([frame(), sleep(Math.max(1, w.changed + 51 - performance.now()))]) : frame();
const fontsIn = async () => {
  if (document.fonts && document.fonts.status !== 'loaded') await Promise.race([document.fonts.ready, sleep(left())]);
};
// Images not yet in, in shadow roots too.
// The text of each style sheet from another origin the page may not read, fetched again
// as the page's origin may (when its server allows it), for the paint's fixes.
const sheetsIn = async () => {
  const texts = window.__vemoSheets || (window.__vemoSheets = Object.create(null)), want = [];
  for (const s of document.styleSheets) {
    try { s.cssRules; } catch (e) { if (s.href && !(s.href in texts)) want.push(s.href); }
  }
  const got = want.map(h => fetch(h, { mode: 'cors', credentials: 'omit' }).then(r => r.ok ? r.text() : '')
    .then(t => { texts[h] = t; }, () => { texts[h] = ''; }));
  if (got.length) await Promise.race([Promise.all(got), sleep(Math.min(left(), 3000))]);
};
const incomplete = () => {
  const all = Array.from(document.images);
  for (const e of document.querySelectorAll('*')) if (e.shadowRoot) all.push(...e.shadowRoot.querySelectorAll('img'));
  return all.filter(i => !i.complete && (i.currentSrc || i.src));
};
const screen = Math.max(1, window.innerHeight);
// A page that grows as it is scrolled is followed until it is this tall (or, when
// it was nearly as tall to begin with, ten screens taller).
const tallest = Math.max(growUpTo, se.scrollHeight + 10 * screen);
// A box is followed as far past its own first height as the page is past its own.
const firsts = new Map();
const limitOf = s => {
  if (!firsts.has(s)) firsts.set(s, s.size());
  return Math.max(tallest, firsts.get(s) + 10 * screen);
};
const tooTall = () => page.size() > tallest || [...boxes.values()].some(b => b.size() > limitOf(b));
// How long the page takes to answer being scrolled (its observers, then its changes),
// as seen so far: the wait for its answer follows it, on a busy machine too.
// It is counted from when the page was told of the scroll, not from the scroll itself.
let answers = 150, visitedAt = 0, visits = 0, shown = 0, shownAt = 0;
const heard = () => {
  const from = renders ? shownAt : visitedAt;
  if (w.changed > from && from >= visitedAt && visitedAt > 0) answers = Math.max(answers, w.changed - from);
};
// Whether the page was heard out: told of the scroll, given the time it takes to
// answer, and then quiet. The limit may cut that short, and then it is not known.
const answerWait = async () => {
  // The page hears of a scroll (its listeners, its observers) only at the next
  // rendering step, which comes from the engine's other process: where the view is
  // rendered, the wait for an answer begins once it has come.
  const shownBy = Date.now() + Math.min(5000, left());
  while (!stopped && renders && shown < visits && Date.now() < shownBy) await frame();
  const wanted = Math.min(Math.max(250, 2 * answers), 1500);
  const cut = left() < wanted || (renders && shown < visits);
  const q = Date.now() + Math.min(2000, left()), least = Date.now() + Math.min(wanted, left());
  while (!stopped && (busy() || Date.now() < least) && Date.now() < q) { await frame(); heard(); }
  return !cut && !busy();
};
const visit = async (s, y) => {
  // What the page's observers saw is first seen as it now stands, within some thirty
  // rendering steps, however late they come.
  const from = steps, q = Date.now() + Math.min(renders ? 5000 : 1000, left());
  while (!stopped && pending() && Date.now() < q && (!renders || steps - from < 30)) await frame();
  if (s.el) {  // a box off the screen is first brought onto it
    const r = s.el.getBoundingClientRect();
    if (r.bottom <= 0 || r.top >= window.innerHeight) page.to(page.at(r));
  }
  s.to(y); s.visited.push(s.top()); visitedAt = performance.now();
  const n = ++visits;
  rendered().then(() => { if (n > shown) { shown = n; shownAt = performance.now(); } });
  await frame(); heard();
};
// Each scroller the page listens to, stepped through to its end while it grows.
const stepThrough = async s => {
  const limit = limitOf(s);
  let y = 0;
  for (;;) {
    const before = s.size();
    for (; y < s.size() && y <= limit && left() > 0 && !stopped; y += Math.max(1, Math.floor(s.height() * 0.9))) await visit(s, y);
    const heardOut = await answerWait();
    if (stopped) return;
    // Seen to its end, where it no longer grows; or stopped at a limit short of it (a
    // box, let out to its whole content for the photo, is said to grow only when it did).
    const grew = s.size() > before || (left() === 0 && !heardOut && s === page);
    if (y >= s.size() && !grew) return;
    if (left() === 0 || y > limit) { out.growing = grew || s === page || y > limit; return; }
  }
};
// Each target not yet seen is scrolled to, and what the page adds then, until it ends.
const seeTargets = async () => {
  for (;;) {
    let ys = unseen();
    if (!ys.length) {
      // The page may still be answering what it saw (a request, a timer): once it is
      // quiet, what it added is looked at.
      const heardOut = await answerWait();
      ys = unseen();
      // The limit came before the page was heard out: it may well have grown on.
      if (!ys.length && !stopped && left() === 0 && !heardOut) { out.growing = true; return; }
    }
    if (!ys.length || stopped) return;
    if (left() === 0 || tooTall()) { out.growing = true; return; }
    for (const u of ys) {
      if (stopped || left() === 0) return;
      tried.set(u.t, { s: u.s, p: u.p });
      if (!u.s.visited.some(v => seenFrom(u.s, v, u.p, u.th, u.how))) await visit(u.s, u.y);
    }
  }
};
try {
  await fontsIn();
  // What the page added as it settled (images, observers of its own) is looked at in
  // turn, a few times at most.
  for (let round = 0; round < 3 && !stopped; ++round) {
    w && w.ask();
    const listened = w && round === 0 ? scrollersOf() : [];
    const work = wake && w && se && (listened.length > 0 || unseen().length > 0);
    if (work) {
      for (const s of listened) if (!out.growing && !stopped) await stepThrough(s);
      if (!out.growing && !stopped && (!listened.length || unseen().length)) await seeTargets();
      if (!stopped) {
        page.to(0);
        boxes.forEach(b => b.to(b.from));
        await frame();
        const pending = incomplete();
        await Promise.race([Promise.all(pending.map(i => new Promise(r => {
          i.addEventListener('load', r, { once: true }); i.addEventListener('error', r, { once: true }); }))),
          sleep(Math.min(left(), 5000))]);
      }
    }
    atRest();
    const quiet = Date.now() + Math.min(quietMs, left());
    while (!stopped && busy() && Date.now() < quiet) { await calmer(); atRest(); }
    if (!wake || !w || out.growing || left() === 0 || !unseen().length) break;
  }
  // Text the page added late may have asked for fonts of its own.
  await fontsIn();
  await sheetsIn();
  const m = document.querySelector('meta[http-equiv="refresh" i]');
  if (m) {
    const c = /^\s*(\d+(?:\.\d*)?)\s*[;,]?\s*(?:url\s*=)?\s*(\S.*)?$/i.exec(m.content || '');
    if (c && c[2]) out.refresh = Math.ceil(parseFloat(c[1]));
  }
  out.leaving = !!(w && w.leaving);
  const missing = incomplete();
  out.missing = missing.length;
  out.first = missing.length ? (missing[0].currentSrc || missing[0].src) : '';
  return out;
} finally {
  stopMirrors();
  if (window.__vemoWarm === self) delete window.__vemoWarm;
})JS";

Readiness readinessOf(const ScriptValue& v) {
    Readiness r;
    if (!v.isObject()) return r;
    r.answered = true;
    r.stillGrowing = v["growing"].truth();
    r.leaving = v["leaving"].truth();
    r.refreshSeconds = static_cast<int>(v["refresh"].number(-1));
    r.stillLoading = static_cast<int>(v["missing"].number(0));
    r.firstMissing = v["first"].text();
    return r;
}

}  // namespace

void startReadiness(WebKitWebView* view, const ReadyOptions& o, std::function<void(const Readiness&)> done) {
    ScriptArgs args;
    args.flag("drawn", gtk_widget_get_mapped(GTK_WIDGET(view))).number("ms", o.ms).flag("wake", o.wake).flag("rest", o.rest).number("quietMs", o.quietMs).number("growUpTo", o.growUpTo);
    sendFunction(view, std::string(kHead) + sightlinesScript() + kReadyScript, args.end(), World::Engine,
                 [done = std::move(done)](ScriptReply&& r) {
                     if (done) done(readinessOf(r.value));
                 });
}

}  // namespace engine
