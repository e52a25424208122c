#include "capture/Strips.h"

#include <algorithm>

namespace capture {

namespace {

// The page's state lives in window.__vemoStrips between the scripts.
const char* const kBegin = R"JS(
(function (H, strips) {
  var w = window, d = document, de = d.documentElement;
  if (!de || !d.body) return null;
  if (w.__vemoStrips) w.__vemoStripsEnd();
  var st = w.__vemoStrips = { x: w.scrollX, y: w.scrollY, saved: [], seen: new Set() };
  function set(e, p, v) {
    if (!st.seen.has(e)) { st.seen.add(e); st.saved.push([e, e.getAttribute('style')]); }
    e.style.setProperty(p, v, 'important');
  }
  st.set = set;
  w.__vemoStripsEnd = function () {
    var s = w.__vemoStrips;
    if (!s) return;
    for (var i = s.saved.length - 1; i >= 0; --i) {
      var e = s.saved[i][0], v = s.saved[i][1];
      if (v === null) e.removeAttribute('style'); else e.setAttribute('style', v);
    }
    delete w.__vemoStrips;
    w.scrollTo(s.x, s.y);
  };
  var rs = getComputedStyle(de);
  var m0 = parseFloat(rs.marginTop) || 0;
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
  var all = d.body.getElementsByTagName('*'), hidden = [], sticky = [], placed = [], fixed = [];
  for (var i = 0; i < all.length; ++i) {
    var e = all[i], cs = getComputedStyle(e), p = cs.position;
    if (cs.contentVisibility === 'auto') hidden.push(e);
    if (!strips) continue;
    if (p === 'sticky' || p === '-webkit-sticky') sticky.push(e);
    else if ((p === 'fixed' || p === 'absolute') && againstPage(e, p === 'fixed')) (p === 'fixed' ? fixed : placed).push(e);
  }
  // Sections that render only when seen are painted, in one paint as in strips.
  hidden.forEach(function (e) { set(e, 'content-visibility', 'visible'); });
  if (!strips) return m0;
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
  var bs = getComputedStyle(d.body);
  function bare(s) {
    return s.backgroundImage === 'none' && /^(transparent|rgba\(0, 0, 0, 0\))$/.test(s.backgroundColor);
  }
  if (bare(rs) && !bare(bs)) {
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
  if (B < H - m0) set(de, 'padding-bottom', (pad + H - m0 - B) + 'px');
  var fixedRects = fixed.map(rect), o = origin();
  function pin(e, r) {
    set(e, 'left', (r[0] - o[0]) + 'px'); set(e, 'top', (r[1] - o[1]) + 'px');
    set(e, 'right', 'auto'); set(e, 'bottom', 'auto');
    set(e, 'width', r[2] + 'px'); set(e, 'height', r[3] + 'px');
    set(e, 'box-sizing', 'border-box'); set(e, 'margin', '0px');
  }
  placed.forEach(function (e, i) { pin(e, placedRects[i]); });
  fixed.forEach(function (e, i) { pin(e, fixedRects[i]); });
  st.m0 = m0; st.B = B; st.pad = pad; st.frame = frame;
  return m0;
})())JS";

const char* const kStrip = R"JS(
(function (Y, T) {
  var st = window.__vemoStrips, de = document.documentElement;
  if (!st) return null;
  var want = T - st.m0;
  st.set(de, 'margin-top', (st.m0 - Y) + 'px');
  if (want >= st.B) {
    st.set(de, 'max-height', 'none');
    st.set(de, 'padding-bottom', (st.pad + want - st.B) + 'px');
  } else {
    st.set(de, 'padding-bottom', st.pad + 'px');
    st.set(de, 'max-height', Math.max(0, want - st.frame) + 'px');
  }
  return (document.scrollingElement || de).scrollHeight;
})())JS";

std::string call(const char* script, const std::string& args) {
    std::string s(script);
    // The script ends with "})()": the arguments go into its last pair of brackets.
    const auto at = s.rfind("()");
    return s.substr(0, at) + "(" + args + ")";
}

}  // namespace

std::vector<Strip> planStrips(int height, int stripHeight) {
    std::vector<Strip> strips;
    stripHeight = std::max(1, stripHeight);
    for (int top = 0; top < height; top += stripHeight) strips.push_back({top, std::min(stripHeight, height - top)});
    return strips;
}

std::string stripsBeginScript(int pageHeight) { return call(kBegin, std::to_string(pageHeight) + ",true"); }

std::string paintBeginScript() { return call(kBegin, "0,false"); }

std::string stripScript(const Strip& s) {
    return call(kStrip, std::to_string(s.top) + "," + std::to_string(s.top + s.height));
}

std::string stripsEndScript() { return "window.__vemoStripsEnd && window.__vemoStripsEnd(); true"; }

}  // namespace capture
