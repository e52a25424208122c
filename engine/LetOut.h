// Letting out a page that scrolls inside a box: the box grows to its whole content and
// nothing else about the page changes its width or its place on the screen.
//
// The box is the one the screen shows with the most content beyond what it shows (a
// drawer moved off the screen, or a scroller inside an open dialog, is not chosen), in
// the document, in an open shadow root, or a frame of the page's own. A body that
// scrolls in place of the document is always let out: it is the document's scrolling.
// Letting out changes the box's height only: the box and every element around it keep
// their widths, what the box or an element around it clipped stays clipped, and what
// was sized by the box keeps the size it had on the screen.
#pragma once

namespace engine {

// JavaScript defining `letOut(all, set)`, for a script of the engine's own world. With
// `all` false only a body that scrolls is let out. `set(element, property, value)`
// changes a style so that it can be put back; `set(element)` notes the element as it is. Replies '' (nothing let out), 'body' or 'box'.
const char* letOutScript();

}  // namespace engine
