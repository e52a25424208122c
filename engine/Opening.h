// How the engine opens an address in a view.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace engine {

// Loads `address` in the view. A file of this computer named as HTML (.html, .htm) is
// read as HTML, as browsers read such a file, even where the system's guess of its type
// says XHTML from its doctype: read as XML, a page whose root is in no namespace has no
// HTML elements at all, and one that is not well-formed shows a parse error.
void openAddress(WebKitWebView*, const std::string& address);

// Has the view read such a file as HTML also where a frame of its page loads it.
void readFramesAsHtml(WebKitWebView*);

}  // namespace engine
