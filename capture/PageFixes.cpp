#include "capture/PageFixes.h"

namespace capture {

namespace {

const char* const kFixes = R"JS(
window.__vemoFixes || (window.__vemoFixes = (function () {
  var w = window, d = document;
  // How much an element is magnified, its ancestors' zoom with its own: lengths it reports and
  // is given are in its own pixels.
  function zoom(e) {
    var z = 1;
    for (; e; e = e.parentElement) z *= parseFloat(getComputedStyle(e).zoom) || 1;
    return z;
  }

  // Dynamic viewport units.
  var DV = /(\d|\.)dv(min|max|h|w|i|b)\b/i, DVS = /(\d|\.)dv(min|max|h|w|i|b)\b/gi;
  function eachRule(rules, fn) {
    for (var i = 0; i < rules.length; ++i) {
      var r = rules[i];
      if (r.style) fn(r.style);
      try { if (r.styleSheet) eachRule(r.styleSheet.cssRules, fn); } catch (e) {}
      if (r.cssRules) eachRule(r.cssRules, fn);
    }
  }
  function dynamic(style, change) {
    for (var i = 0; i < style.length; ++i) {
      var p = style.item(i), v = style.getPropertyValue(p);
      if (DV.test(v)) change(p, v.replace(DVS, '$1lv$2'), style.getPropertyPriority(p));
    }
  }
  // Every style rule the page's sheets let be read (its own, imported, nested, in open shadow
  // roots) and every element's own style: the rules' old values are kept in st.rules.
  function units(st) {
    var roots = [d];
    for (var k = 0; k < roots.length; ++k) {
      var all = roots[k].querySelectorAll('*');
      for (var i = 0; i < all.length; ++i) if (all[i].shadowRoot) roots.push(all[i].shadowRoot);
    }
    roots.forEach(function (root) {
      var sheets = [].slice.call(root.styleSheets || []).concat([].slice.call(root.adoptedStyleSheets || []));
      sheets.forEach(function (s) {
        var rules;
        try { rules = s.cssRules; } catch (e) { readable(st, s); return; }
        if (rules) eachRule(rules, function (style) {
          dynamic(style, function (p, v, prio) {
            st.rules.push([style, p, style.getPropertyValue(p), prio]);
            style.setProperty(p, v, prio);
          });
        });
      });
      var styled = root.querySelectorAll('[style]');
      for (var i = 0; i < styled.length; ++i) {
        var e = styled[i];
        if (!e.style) continue;  // an element of no language with styles (plain XML)
        dynamic(e.style, function (p, v, prio) { st.keep(e); e.style.setProperty(p, v, prio); });
      }
    });
  }
  function unitsBack(st) {
    for (var i = st.rules.length - 1; i >= 0; --i) { var r = st.rules[i]; r[0].setProperty(r[1], r[2], r[3]); }
    st.rules = [];
    (st.off || []).forEach(function (s) { s.disabled = false; });
    st.off = [];
  }
  // A sheet from another origin the page may not read, whose text the warm-up fetched
  // (window.__vemoSheets, by address): where it has dynamic units, a copy with them
  // changed and its addresses made whole stands in its place in the cascade.
  function readable(st, s) {
    var text = w.__vemoSheets && s.href ? w.__vemoSheets[s.href] : '', owner = s.ownerNode;
    if (!text || !DV.test(text) || !owner || !owner.parentNode || s.disabled) return;
    var whole = function (u) { try { return new URL(u, s.href).href; } catch (e) { return u; } };
    var copy = d.createElement('style');
    copy.textContent = text.replace(DVS, '$1lv$2')
      .replace(/url\(\s*(['"]?)([^'")]*)\1\s*\)/g, function (m, q, u) { return 'url("' + whole(u) + '")'; })
      .replace(/@import\s+(['"])([^'"]*)\1/g, function (m, q, u) { return '@import "' + whole(u) + '"'; });
    if (s.media && s.media.mediaText) copy.media = s.media.mediaText;
    owner.parentNode.insertBefore(copy, owner.nextSibling);
    st.added.push(copy);
    (st.off || (st.off = [])).push(s);
    s.disabled = true;
  }

  // Backgrounds fixed to the screen.
  function split(v) {
    var out = [], depth = 0, cur = '';
    for (var i = 0; i < v.length; ++i) {
      var c = v[i];
      if (c === '(') ++depth; else if (c === ')') --depth;
      if (c === ',' && depth === 0) { out.push(cur.trim()); cur = ''; } else cur += c;
    }
    out.push(cur.trim());
    return out;
  }
  // "P%", "Npx" or a calc() of them, against `whole`.
  function length(v, whole) {
    var n = 0, m, re = /([+-]?)\s*(\d*\.?\d+(?:e[+-]?\d+)?)(%|px)/g;
    while ((m = re.exec(v))) {
      var x = parseFloat(m[2]) * (m[1] === '-' ? -1 : 1);
      n += m[3] === '%' ? x * whole / 100 : x;
    }
    return n;
  }
  // A position along one axis, with `free` the area's size less the image's.
  function place(v, free) {
    if (/^center/.test(v)) return free / 2;
    var far = /^(right|bottom)\b/.test(v), t = v.replace(/^(left|top|right|bottom)\s*/, '');
    var off = t ? length(t, free) : 0;
    return far ? free - off : off;
  }
  function natural(layer) {
    var m = /^url\(\s*(['"]?)(.*)\1\s*\)$/.exec(layer);
    if (!m) return null;
    var i = new Image();
    i.src = m[2];
    return i.complete && i.naturalWidth && i.naturalHeight ? [i.naturalWidth, i.naturalHeight] : null;
  }
  // A layer's size in an area AW x AH, for an image of natural size n (null: none, as a gradient).
  function size(v, n, AW, AH) {
    if (v === 'cover' || v === 'contain') {
      if (!n) return [AW, AH];
      var s = (v === 'cover' ? Math.max : Math.min)(AW / n[0], AH / n[1]);
      return [n[0] * s, n[1] * s];
    }
    var t = v.split(/\s+(?![^(]*\))/), x = t[0], y = t.length > 1 ? t[1] : 'auto';
    var a = x === 'auto' ? null : length(x, AW), b = y === 'auto' ? null : length(y, AH);
    if (a === null && b === null) return n || [AW, AH];
    if (a === null) a = n ? b * n[0] / n[1] : AW;
    if (b === null) b = n ? a * n[1] / n[0] : AH;
    return [a, b];
  }
  function bare(s) {
    return s.backgroundImage === 'none' && /^(transparent|rgba\(0, 0, 0, 0\))$/.test(s.backgroundColor);
  }
  // Each element's background fixed to the screen is laid as the screen shows it with the
  // element's top at the screen's top, scrolling with it. The page's own (the root's, or
  // the body's it takes on) is so laid from the page's top: each screen of the picture
  // shows it as the screen does, scrolled to there.
  function fixedBackgrounds(st) {
    var de = d.documentElement, all = [de].concat(d.body ? [d.body] : [], [].slice.call((d.body || de).getElementsByTagName('*')));
    var VW = d.compatMode === 'BackCompat' ? w.innerWidth : de.clientWidth;
    var VH = d.compatMode === 'BackCompat' ? w.innerHeight : de.clientHeight;
    for (var i = 0; i < all.length; ++i) {
      var e = all[i], s = getComputedStyle(e);
      if (s.backgroundImage === 'none' || !/fixed/.test(s.backgroundAttachment)) continue;
      var images = split(s.backgroundImage), fixed = split(s.backgroundAttachment), sizes = split(s.backgroundSize),
          xs = split(s.backgroundPositionX), ys = split(s.backgroundPositionY), origins = split(s.backgroundOrigin);
      // A body whose background the page takes on has it placed against the root's box.
      var box = e === d.body && bare(getComputedStyle(de)) ? de : e, bs = box === e ? s : getComputedStyle(box);
      var z = zoom(e), AW = VW / z, AH = VH / z, left = box.getBoundingClientRect().left + w.scrollX / z;
      var bl = parseFloat(bs.borderLeftWidth) || 0, bt = parseFloat(bs.borderTopWidth) || 0;
      var pl = parseFloat(bs.paddingLeft) || 0, pt = parseFloat(bs.paddingTop) || 0;
      var sizeOut = [], placeOut = [];
      images.forEach(function (image, k) {
        function of(list) { return list[k % list.length]; }
        if (of(fixed) !== 'fixed') { sizeOut.push(of(sizes)); placeOut.push(of(xs) + ' ' + of(ys)); return; }
        var wh = size(of(sizes), natural(image), AW, AH), o = of(origins);
        var ox = o === 'border-box' ? 0 : bl + (o === 'content-box' ? pl : 0);
        var oy = o === 'border-box' ? 0 : bt + (o === 'content-box' ? pt : 0);
        sizeOut.push(wh[0] + 'px ' + wh[1] + 'px');
        placeOut.push((place(of(xs), AW - wh[0]) - left - ox) + 'px ' + (place(of(ys), AH - wh[1]) - oy) + 'px');
      });
      st.set(e, 'background-attachment', 'scroll');
      st.set(e, 'background-size', sizeOut.join(', '));
      st.set(e, 'background-position', placeOut.join(', '));
    }
  }

  // The root's background images on a layer of their own beneath everything, as large as the
  // root's box `height` high: a strip's root box ends with the strip. The root must hold the
  // positioned elements (layout containment).
  function rootLayer(st, height) {
    var de = d.documentElement, s = getComputedStyle(de);
    if (s.backgroundImage === 'none') return;
    var layer = d.createElement('div'), ls = layer.style;
    ls.setProperty('all', 'initial', 'important');
    ['background-image', 'background-size', 'background-position', 'background-repeat', 'background-origin',
     'background-clip', 'background-blend-mode', 'border-top-width', 'border-right-width', 'border-bottom-width',
     'border-left-width', 'padding-top', 'padding-right', 'padding-bottom', 'padding-left'].forEach(function (p) {
      ls.setProperty(p, s.getPropertyValue(p), 'important');
    });
    var bl = parseFloat(s.borderLeftWidth) || 0, bt = parseFloat(s.borderTopWidth) || 0;
    [['display', 'block'], ['position', 'absolute'], ['box-sizing', 'border-box'], ['border-style', 'solid'],
     ['border-color', 'transparent'], ['left', -bl + 'px'], ['top', -bt + 'px'], ['width', de.offsetWidth + 'px'],
     ['height', height + 'px'], ['z-index', '-2147483647'], ['pointer-events', 'none']].forEach(function (p) {
      ls.setProperty(p[0], p[1], 'important');
    });
    de.appendChild(layer);
    st.added.push(layer);
    st.set(de, 'background-image', 'none');
  }

  // A right-to-left page wider than the screen: the root is laid out left to right (its
  // children keep their direction), as wide as before, and moved right by what lies left
  // of the screen.
  function rightToLeft(st) {
    var de = d.documentElement, s = getComputedStyle(de), over = de.scrollWidth - de.clientWidth;
    if (s.direction !== 'rtl' || !/^horizontal/.test(s.writingMode) || over <= 0) return;
    var z = zoom(de), width = s.width;
    for (var c = de.firstElementChild; c; c = c.nextElementSibling)
      if (getComputedStyle(c).direction === 'rtl') st.set(c, 'direction', 'rtl');
    st.set(de, 'direction', 'ltr');
    st.set(de, 'width', width);
    st.set(de, 'margin-left', (parseFloat(s.marginLeft) || 0) + over / z + 'px');
    // Laid out now, and scrolled to the new start: the paint's size and place come from both.
    w.scrollTo(0, w.scrollY);
    return de.scrollWidth;
  }

  return { zoom: zoom, bare: bare, units: units, unitsBack: unitsBack, fixedBackgrounds: fixedBackgrounds, rootLayer: rootLayer,
           rightToLeft: rightToLeft };
})());
)JS";

}  // namespace

const char* pageFixesKit() { return kFixes; }

}  // namespace capture
