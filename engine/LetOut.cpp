#include "engine/LetOut.h"

namespace engine {

namespace {

const char* const kLetOut = R"JS(
const letOut = (all, set) => {
  const de = document.documentElement, body = document.body;
  if (!de || !body) return '';
  const vw = innerWidth, vh = innerHeight, se = document.scrollingElement || de;
  const css = e => getComputedStyle(e);
  const scrolls = v => /(auto|scroll|overlay)/.test(v);
  // The element a box is laid out in, across slots and shadow roots.
  const up = e => e.assignedSlot || e.parentElement || (e.parentNode && e.parentNode.host) || null;
  // Every element below `root`, those in open shadow roots too.
  const below = (root, list) => {
    if (root.shadowRoot) below(root.shadowRoot, list);
    for (const e of root.querySelectorAll('*')) { list.push(e); if (e.shadowRoot) below(e.shadowRoot, list); }
    return list;
  };
  const frameOf = e => {
    try { const d = e.tagName === 'IFRAME' && e.contentDocument; return d && d.documentElement ? d : null; } catch (x) { return null; }
  };
  const modal = e => {
    for (let a = e; a; a = up(a)) if (a.matches('dialog[open], [role=dialog], [role=alertdialog], [aria-modal=true]')) return true;
    return false;
  };
  // How wide a part of the screen shows the box: none for a box off the screen or hidden.
  const seenWidth = e => {
    const r = e.getBoundingClientRect();
    const w = Math.min(r.right, vw) - Math.max(r.left, 0), h = Math.min(r.bottom, vh) - Math.max(r.top, 0);
    if (w < 1 || h < 1) return 0;
    if (e.checkVisibility && !e.checkVisibility({ opacityProperty: true, visibilityProperty: true })) return 0;
    return w;
  };
  const flexOf = e => { const p = up(e), s = p && css(p); return s && /flex/.test(s.display) ? (/column/.test(s.flexDirection) ? 'column' : 'row') : ''; };

  // A body whose overflow is its own (the root's is not visible) and scrolls is the document scrolling.
  const rs = css(de), bs = css(body);
  const bodyOwn = rs.overflowX !== 'visible' || rs.overflowY !== 'visible';
  const viewX = rs.overflowX !== 'visible' ? rs.overflowX : bs.overflowX;
  let box = null, frame = null;
  if (bodyOwn && scrolls(bs.overflowY) && body.scrollHeight > body.clientHeight + 1) box = body;
  else if (all) {
    // The box the screen shows with the most content beyond what it shows, when that is
    // more than half a screen, and the document itself scrolls no more than a little (a
    // body's margin): a document that scrolls keeps a side nav that scrolls on its own.
    const over = se.scrollHeight - vh;
    let most = 0;
    for (const e of over > vh / 4 ? [] : below(body, [])) {
      const shown = e.clientHeight, d = e.tagName === 'IFRAME' ? frameOf(e) : null;
      if (!(shown > 0)) continue;
      const hidden = (d ? (d.scrollingElement || d.documentElement).scrollHeight : e.scrollHeight) - shown;
      if (hidden <= vh / 2 || (!d && !scrolls(css(e).overflowY))) continue;
      const area = seenWidth(e) * hidden;
      if (area > most && !modal(e)) { box = e; frame = d; most = area; }
    }
  }
  if (!box) return '';

  // What the box holds, as the screen showed it.
  const inside = frame ? [] : below(box, []).filter(e => 'offsetHeight' in e).map(e => [e, e.offsetWidth, e.offsetHeight]);
  const chain = [];
  for (let e = box; e && e !== de; e = up(e)) {
    const s = css(e);
    chain.push({ e, width: s.width, ox: s.overflowX, oy: s.overflowY, pos: s.position, display: s.display,
                 flex: flexOf(e), own: e !== body || bodyOwn });
  }
  const b = css(box), px = p => parseFloat(b[p]) || 0;
  const pads = px('paddingTop') + px('paddingBottom'), borders = px('borderTopWidth') + px('borderBottomWidth');
  const content = frame ? (frame.scrollingElement || frame.documentElement).scrollHeight : box.scrollHeight - pads;
  const tall = (b.boxSizing === 'border-box' ? content + pads + borders : content) + 'px';

  // Each noted before any is changed: noting reads its scroll position, which would
  // lay the page out again after every change.
  for (const { e } of chain) set(e);
  set(de); set(body);
  // The box and every element around it take their content's height, at their widths.
  for (const { e, width, ox, oy, pos, display, flex, own } of chain) {
    set(e, 'height', e === box && frame ? tall : 'auto');
    set(e, 'max-height', 'none');
    if (width !== 'auto') { set(e, 'width', width); set(e, 'min-width', width); set(e, 'max-width', width); }
    if (flex === 'row' && width !== 'auto') set(e, 'flex', '0 0 ' + width);
    if (flex === 'column') set(e, 'flex', '0 0 auto');
    if (own && (ox !== 'visible' || oy !== 'visible')) {
      set(e, 'overflow-x', ox === 'visible' ? 'visible' : 'clip'); set(e, 'overflow-y', oy === 'visible' ? 'visible' : 'clip');
      // Its content's margins stay inside it, as they did while it scrolled or hid.
      if (display === 'block') set(e, 'display', 'flow-root');
    }
    if (pos === 'fixed' || pos === 'absolute') { set(e, 'position', 'absolute'); set(e, 'bottom', 'auto'); }
  }
  if (!frame) set(box, 'min-height', tall);
  // The document scrolls down as the screen did; sideways it hides what it hid.
  const hidesX = /hidden|clip/.test(viewX);
  set(de, 'height', 'auto'); set(de, 'max-height', 'none');
  set(de, 'overflow-x', hidesX ? 'hidden' : 'visible'); set(de, 'overflow-y', hidesX ? 'auto' : 'visible');
  if (!bodyOwn) { set(body, 'overflow-x', 'visible'); set(body, 'overflow-y', 'visible'); }

  // What was sized by the box (percentages, flex and grid tracks, the width its scroll
  // bar left) keeps the size it had; each round measured at once, then pinned.
  for (let round = 0; round < 3; ++round) {
    const plan = inside.filter(([e, w, h]) => e.offsetWidth !== w || e.offsetHeight !== h).map(([e, w, h]) => {
      // The border box's old size, in the element's own box sizing.
      const s = css(e), n = p => parseFloat(s[p]) || 0, border = s.boxSizing === 'border-box';
      const across = border ? 0 : n('paddingLeft') + n('paddingRight') + n('borderLeftWidth') + n('borderRightWidth');
      const down = border ? 0 : n('paddingTop') + n('paddingBottom') + n('borderTopWidth') + n('borderBottomWidth');
      return [e, e.offsetWidth !== w && (w - across) + 'px', e.offsetHeight !== h && (h - down) + 'px', flexOf(e)];
    });
    if (!plan.length) break;
    for (const [e] of plan) set(e);
    for (const [e, cw, ch, flex] of plan) {
      if (cw) { set(e, 'width', cw); set(e, 'min-width', cw); set(e, 'max-width', cw); }
      if (ch) { set(e, 'height', ch); set(e, 'min-height', ch); set(e, 'max-height', ch); }
      if ((flex === 'row' && cw) || (flex === 'column' && ch)) set(e, 'flex', '0 0 ' + (flex === 'row' ? cw : ch));
    }
  }
  // An element around the box that clips, yet cannot grow to hold it (a track of a
  // fixed height), no longer clips below.
  const bottom = box.getBoundingClientRect().bottom;
  chain.filter(({ e, oy, own }) => e !== box && own && oy !== 'visible' && e.getBoundingClientRect().bottom < bottom - 1)
    .forEach(({ e }) => set(e, 'overflow-y', 'visible'));
  return box === body ? 'body' : 'box';
};
)JS";

}  // namespace

const char* letOutScript() { return kLetOut; }

}  // namespace engine
