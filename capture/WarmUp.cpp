#include "capture/WarmUp.h"

namespace capture {

const char* const kWarmUpScript = R"JS(
const limit = Date.now() + ms;
let stopped = false;
const self = { stop() { stopped = true; window.scrollTo(0, 0); } };
window.__vemoWarm = self;
const left = () => stopped ? 0 : Math.max(0, limit - Date.now());
const tick = () => Promise.race([
  new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))),
  new Promise(r => setTimeout(r, 100))]);
try {
  const se = document.scrollingElement || document.documentElement;
  const step = Math.max(1, Math.floor(window.innerHeight * 0.9));
  for (let y = 0; y < se.scrollHeight && left() > 0; y += step) { window.scrollTo(0, y); await tick(); }
  if (stopped) return false;
  window.scrollTo(0, 0);
  await tick();
  const pending = Array.from(document.images).filter(i => !i.complete);
  await Promise.race([
    Promise.all(pending.map(i => new Promise(r => {
      i.addEventListener('load', r, {once: true}); i.addEventListener('error', r, {once: true}); }))),
    new Promise(r => setTimeout(r, left()))]);
  if (!stopped) await tick();
  return !stopped;
} finally {
  if (window.__vemoWarm === self) delete window.__vemoWarm;
})JS";

}  // namespace capture
