// Run by scripts/real-pages-check in headless Chromium on each page: the page's own
// measures, as JSON (see there).
(() => {
  // Parts the page leaves unrendered off screen (content-visibility: auto) as a reader
  // scrolling by sees them: rendered, at their own size.
  for (const e of document.querySelectorAll('*'))
    if (getComputedStyle(e).contentVisibility === 'auto') e.style.contentVisibility = 'visible';
  const de = document.documentElement, vw = innerWidth, vh = innerHeight;
  const scrolls = (e, cs) => /(auto|scroll)/.test(cs.overflowY) && e.scrollHeight > e.clientHeight + 1;
  // The box the page scrolls in: the largest visible scroller covering much of the screen.
  let box = null, best = 0;
  for (const e of document.querySelectorAll('body, body *')) {
    const cs = getComputedStyle(e);
    if (!scrolls(e, cs) || cs.visibility === 'hidden') continue;
    const r = e.getBoundingClientRect();
    if (r.width < vw * 0.4 || r.height < vh * 0.4) continue;
    if (r.width * r.height > best) { best = r.width * r.height; box = e; }
  }
  const docH = de.scrollHeight;
  const extra = box ? box.scrollHeight - box.clientHeight : 0;
  const total = docH + extra;
  // A part of the page clipped by a box of its own other than the pane (a side tree):
  // only what that box shows counts.
  const clipCache = new Map();
  const clipOf = (el) => {
    if (!el || el === de || el === document.body || el === box) return null;
    if (clipCache.has(el)) return clipCache.get(el);
    const cs = getComputedStyle(el);
    let clip = clipOf(el.parentElement);
    if (cs.overflowY !== 'visible' && el.scrollHeight > el.clientHeight + 1) {
      const r = el.getBoundingClientRect();
      clip = clip ? [Math.max(clip[0], r.top), Math.min(clip[1], r.bottom)] : [r.top, r.bottom];
    }
    clipCache.set(el, clip);
    return clip;
  };
  const ink = [];
  const add = (el, r) => {
    if (r.width < 1 || r.height < 1) return;
    let top = r.top, bottom = r.bottom;
    const clip = clipOf(el);
    if (clip) { top = Math.max(top, clip[0]); bottom = Math.min(bottom, clip[1]); }
    if (bottom > top) ink.push([top + scrollY, bottom + scrollY]);
  };
  const seen = (el) => el && el.checkVisibility && el.checkVisibility({visibilityProperty: true, opacityProperty: true});
  const walker = document.createTreeWalker(document.body || de, NodeFilter.SHOW_TEXT);
  const range = document.createRange();
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (!/\S/.test(n.data) || !seen(n.parentElement)) continue;
    range.selectNodeContents(n);
    for (const r of range.getClientRects()) add(n.parentElement, r);
  }
  for (const e of document.querySelectorAll('img, svg, canvas, video, iframe, object, embed, input, textarea, select, hr'))
    if (seen(e)) add(e, e.getBoundingClientRect());
  ink.sort((a, b) => a[0] - b[0]);
  let gap = 0, reach = 0;
  for (const [t, b] of ink) { gap = Math.max(gap, Math.min(t, total) - reach); reach = Math.max(reach, b); }
  gap = Math.round(Math.max(gap, total - reach));
  const headings = [];
  for (const h of document.querySelectorAll('h1, h2, h3, h4, h5, h6')) {
    const r = h.getBoundingClientRect();
    if (!seen(h) || r.height < 1 || !/\S/.test(h.textContent)) continue;
    const clip = clipOf(h);
    if (clip && (r.top < clip[0] || r.bottom > clip[1])) continue;  // inside a side tree's hidden part
    headings.push([Math.round(r.top + scrollY), Math.round(r.height), h.textContent.trim().slice(0, 40)]);
  }
  let name = '';
  if (box) name = box.id ? '#' + box.id : box.tagName.toLowerCase() + (box.className ? '.' + String(box.className).split(' ')[0] : '');
  return {docHeight: docH, docWidth: de.scrollWidth, box: name, boxExtra: extra, height: total,
          gap: gap, headings: headings, title: document.title};
})()
