// What a whole-document paint would otherwise get wrong, put right before it (and put
// back after it, with the rest of the paint's changes):
//
// - lengths in dynamic viewport units (dvh, dvw, dvmin...) mean the screen, as the
//   large ones do: a whole-document paint would take the whole document for the screen.
//   A sheet from another origin the page may not read through CSSOM is fetched again
//   by the warm-up as the page's origin may (engine/Readiness), and a copy of it with
//   its units changed stands in its place; one whose server refuses that stays as it is;
// - a background fixed to the screen is shown as the screen shows it with the element
//   at its top: a whole-document paint shows it on the first screen only; the page's
//   own (the root's, or the body's it takes on) is laid from the page's top, so each
//   screen of the picture shows it as the screen does scrolled there;
// - the root's background images span the whole page in every strip, not the strip;
// - a right-to-left page wider than the screen is painted whole: a whole-document paint
//   starts at the screen's left edge and loses what lies left of it.
//
// The script defines window.__vemoFixes in the engine's own script world, for the
// scripts of capture/Strips.h; `st` is the state of the paint under way there, whose
// `set(e, property, value)` changes an element's style and keeps the old one.
#pragma once

namespace capture {

const char* pageFixesKit();

}  // namespace capture
