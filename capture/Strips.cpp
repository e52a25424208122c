#include "capture/Strips.h"

#include <algorithm>

#include "capture/PageFixes.h"

namespace capture {

namespace {

// The scripts run in the engine's own script world: what they keep between them
// (window.__vemoPage, and the state of a paint under way in window.__vemoStrips) is
// out of the page's reach.
const char* const kKit = R"JS(
window.__vemoPage || (window.__vemoPage = (function () {
  var w = window, d = document, F = w.__vemoFixes;
  // The element that holds what the page shows: its body, or its root without one.
  function top() { return d.body || d.documentElement; }
  function end() {
    var s = w.__vemoStrips;
    if (!s) return true;
    F.unitsBack(s);
    s.added.forEach(function (e) { e.remove(); });
    for (var i = s.saved.length - 1; i >= 0; --i) {
      var e = s.saved[i][0], v = s.saved[i][1];
      if (v === null) e.removeAttribute('style'); else e.setAttribute('style', v);
    }
    delete w.__vemoStrips;
    w.scrollTo(s.x, s.y);
    return true;
  }
  // Sections that render only when seen are shown, from the measurement to the end of
  // the paint: the page is measured and painted at its true size, every section in it.
  function show() {
    var st = w.__vemoStrips;
    if (st) return st;
    st = w.__vemoStrips = { x: w.scrollX, y: w.scrollY, saved: [], seen: new Set(), rules: [], added: [] };
    st.keep = function (e) {
      if (!st.seen.has(e)) { st.seen.add(e); st.saved.push([e, e.getAttribute('style')]); }
    };
    st.set = function (e, p, v) {
      if (!e.style) return;  // an element of no language with styles (plain XML)
      st.keep(e);
      e.style.setProperty(p, v, 'important');
    };
    var all = top().getElementsByTagName('*'), hidden = [];
    for (var i = 0; i < all.length; ++i) if (getComputedStyle(all[i]).contentVisibility === 'auto') hidden.push(all[i]);
    hidden.forEach(function (e) { st.set(e, 'content-visibility', 'visible'); });
    // Dynamic viewport units mean the screen, as large ones do, in the paint as on the screen.
    F.units(st);
    return st;
  }
  // The body's metrics, in the screen's pixels however the body is zoomed, and the root
  // element's scroll size; null without a document. A document without a body (XML,
  // SVG, XHTML whose root is in no namespace) is measured by its root element, whose
  // scroll size is the document's. In a quirks mode document the body's client size is
  // the viewport's; its own is taken from its border box instead.
  function measure() {
    if (w.__vemoWarm) w.__vemoWarm.stop();
    var b = d.body, r = d.documentElement;
    if (!r) return null;
    end();
    show();
    if (!b) return [r.scrollWidth, r.clientWidth, r.clientWidth, r.scrollHeight, r.clientHeight, r.clientHeight,
                    r.scrollWidth, r.scrollHeight];
    var cw = b.clientWidth, ch = b.clientHeight;
    if (d.compatMode === 'BackCompat') {
      var s = getComputedStyle(b);
      cw = b.offsetWidth - Math.round(parseFloat(s.borderLeftWidth) + parseFloat(s.borderRightWidth));
      ch = b.offsetHeight - Math.round(parseFloat(s.borderTopWidth) + parseFloat(s.borderBottomWidth));
    }
    var z = F.zoom(b);
    // What the screen hides sideways (the root's overflow, or the body's it takes on) is
    // no part of the page, nor what a body with an overflow of its own hides or scrolls.
    var rs = getComputedStyle(r), bs = getComputedStyle(b);
    var own = rs.overflowX !== 'visible' || rs.overflowY !== 'visible';
    var hidesX = /hidden|clip/.test(rs.overflowX !== 'visible' ? rs.overflowX : bs.overflowX);
    // A body pulled up above the document's top (a first child's negative margin that
    // collapses through it) has that much of it out of the page.
    var above = Math.min(0, b.getBoundingClientRect().top + w.scrollY);
    return [(hidesX || (own && bs.overflowX !== 'visible') ? cw : b.scrollWidth) * z, b.offsetWidth * z, cw * z,
            (own && bs.overflowY !== 'visible' ? ch : b.scrollHeight) * z + above, b.offsetHeight * z, ch * z,
            hidesX ? r.clientWidth : r.scrollWidth, r.scrollHeight];
  }
  // Makes the root's box, B rows high with bottom padding `pad`, `want` rows high by its
  // bottom padding. A root whose height is set for its border box (height: 100% under
  // box-sizing: border-box) keeps that height however padded: its padding is made to
  // fill the whole box instead.
  function grow(de, B, pad, want) {
    var set = w.__vemoStrips.set, s = getComputedStyle(de);
    set(de, 'padding-bottom', (pad + want - B) + 'px');
    if (s.boxSizing === 'border-box' && de.offsetHeight !== want) {
      var rest = (parseFloat(s.paddingTop) || 0) + (parseFloat(s.borderTopWidth) || 0) + (parseFloat(s.borderBottomWidth) || 0);
      set(de, 'padding-bottom', (want - rest) + 'px');
    }
  }
  // Readies the page for strips of a page H rows high, or (strips false) for one paint.
  function begin(H, strips) {
    var de = d.documentElement;
    if (!de) return null;
    if (w.__vemoStrips && w.__vemoStrips.B !== undefined) end();  // strips begun before, never ended
    var st = show(), set = st.set;
    var rs = getComputedStyle(de);
    var m0 = parseFloat(rs.marginTop) || 0;
    F.fixedBackgrounds(st);
    if (!strips) {
      F.rightToLeft(st);
      return m0;
    }
    // The root's lengths are in its own pixels, the page's in the screen's.
    var z = F.zoom(de);
    H /= z;
    // What makes an ancestor the containing block of fixed elements, and of absolute ones.
    function holdsFixed(s) {
      return s.transform !== 'none' || s.filter !== 'none' || s.perspective !== 'none' ||
             /layout|paint|strict|content/.test(s.contain) || /transform|perspective|filter/.test(s.willChange) ||
             (s.backdropFilter && s.backdropFilter !== 'none');
    }
    function againstPage(e, fixed) {
      for (var a = e.parentElement; a && a !== de; a = a.parentElement) {
        var s = getComputedStyle(a);
        if ((!fixed && s.position !== 'static') || holdsFixed(s)) return false;
      }
      return true;
    }
    var all = top().getElementsByTagName('*'), sticky = [], placed = [], fixed = [];
    for (var i = 0; i < all.length; ++i) {
      var e = all[i], p = getComputedStyle(e).position;
      if (p === 'sticky' || p === '-webkit-sticky') sticky.push(e);
      else if ((p === 'fixed' || p === 'absolute') && againstPage(e, p === 'fixed')) (p === 'fixed' ? fixed : placed).push(e);
    }
    F.rightToLeft(st);
    w.scrollTo(0, 0);
    // The box an element would have without its own transform: pinned there, it is
    // transformed once, as before.
    function rect(e) {
      var cs = getComputedStyle(e), r;
      if (cs.transform === 'none' && (cs.translate || 'none') === 'none' && (cs.rotate || 'none') === 'none' &&
          (cs.scale || 'none') === 'none') {
        r = e.getBoundingClientRect();
      } else {
        var old = e.getAttribute('style');
        ['transform', 'translate', 'rotate', 'scale'].forEach(function (p) { e.style.setProperty(p, 'none', 'important'); });
        r = e.getBoundingClientRect();
        if (old === null) e.removeAttribute('style'); else e.setAttribute('style', old);
      }
      return [r.left, r.top, r.width, r.height];
    }
    function origin() {
      var r = de.getBoundingClientRect();
      return [r.left + (parseFloat(rs.borderLeftWidth) || 0), r.top + (parseFloat(rs.borderTopWidth) || 0)];
    }
    // Elements placed against the page stay where the screen-sized view has them.
    var placedRects = placed.map(rect);
    sticky.forEach(function (e) {
      set(e, 'position', 'relative');
      ['top', 'right', 'bottom', 'left'].forEach(function (p) { set(e, p, 'auto'); });
    });
    // Containment on the root stops the body's background from becoming the canvas's:
    // the root takes it over instead.
    var bs = getComputedStyle(top());
    if (d.body && F.bare(rs) && !F.bare(bs)) {
      var props = ['background-color', 'background-image', 'background-repeat', 'background-position',
                   'background-size', 'background-attachment', 'background-origin', 'background-clip'];
      var values = props.map(function (p) { return bs.getPropertyValue(p); });
      props.forEach(function (p, i) { set(de, p, values[i]); });
      set(d.body, 'background', 'none');
    }
    // The root's box spans the whole document: fixed elements are laid out against it,
    // as in a whole-document paint.
    set(de, 'contain', 'layout');
    set(de, 'margin-bottom', '0px');
    var B = de.offsetHeight, pad = parseFloat(rs.paddingBottom) || 0;
    var frame = B - (parseFloat(rs.height) || 0);
    if (B < H - m0) grow(de, B, pad, H - m0);
    var fixedRects = fixed.map(rect), o = origin();
    function pin(e, r) {
      set(e, 'left', (r[0] - o[0]) + 'px'); set(e, 'top', (r[1] - o[1]) + 'px');
      set(e, 'right', 'auto'); set(e, 'bottom', 'auto');
      set(e, 'width', r[2] + 'px'); set(e, 'height', r[3] + 'px');
      set(e, 'box-sizing', 'border-box'); set(e, 'margin', '0px');
    }
    placed.forEach(function (e, i) { pin(e, placedRects[i]); });
    fixed.forEach(function (e, i) { pin(e, fixedRects[i]); });
    F.rootLayer(st, Math.max(B, H - m0));
    st.m0 = m0; st.B = B; st.pad = pad; st.frame = frame; st.z = z;
    return m0;
  }
  // Lays out the strip from row Y to row T; replies with the document's height, which
  // forces the layout.
  function strip(Y, T) {
    var st = w.__vemoStrips, de = d.documentElement;
    if (!st || st.B === undefined) return null;
    Y /= st.z;
    T /= st.z;
    var want = T - st.m0;
    st.set(de, 'margin-top', (st.m0 - Y) + 'px');
    if (want >= st.B) {
      st.set(de, 'max-height', 'none');
      grow(de, st.B, st.pad, want);
    } else {
      st.set(de, 'padding-bottom', st.pad + 'px');
      st.set(de, 'max-height', Math.max(0, want - st.frame) + 'px');
    }
    return (d.scrollingElement || de).scrollHeight;
  }
  // The page measured as before its paint, and put back: the page may have changed as it
  // was painted in strips, each laid out to the height measured before.
  function measureAgain() { var m = measure(); end(); return m; }
  return { measure: measure, measureAgain: measureAgain, begin: begin, strip: strip, end: end };
})());
)JS";

std::string kit(const std::string& call) { return pageFixesKit() + (kKit + call); }

}  // namespace

std::vector<Strip> planStrips(int height, int stripHeight) {
    std::vector<Strip> strips;
    stripHeight = std::max(1, stripHeight);
    for (int top = 0; top < height; top += stripHeight) strips.push_back({top, std::min(stripHeight, height - top)});
    return strips;
}

std::string measureScript() { return kit("window.__vemoPage.measure()"); }

std::string stripsBeginScript(int pageHeight) {
    return kit("window.__vemoPage.begin(" + std::to_string(pageHeight) + ", true)");
}

std::string paintBeginScript() { return kit("window.__vemoPage.begin(0, false)"); }

std::string stripScript(const Strip& s) {
    return "window.__vemoPage.strip(" + std::to_string(s.top) + ", " + std::to_string(s.top + s.height) + ")";
}

std::string measureAgainScript() { return kit("window.__vemoPage.measureAgain()"); }

std::string stripsEndScript() { return "window.__vemoPage ? window.__vemoPage.end() : true"; }

}  // namespace capture
