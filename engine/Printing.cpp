#include "engine/Printing.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cmath>
#include <unistd.h>

#include "engine/PagePainter.h"
#include "engine/Scripting.h"

namespace engine {

namespace {

// Set in the engine's world before the print: once the page is laid out for print (the
// engine does so as its print begins, and keeps it so until the print ends), the
// layout's width and height, the headings h1 to h3 and the links to other documents,
// where they fell, told at once to the engine (kPrinted), so that they are in hand when
// the print ends. Gives what the screen's layout has of them, should the print be over
// before it is heard.
const char* const kWatchPrint = R"JS(
  var w = window, d = document;
  function measure() {
    var root = d.documentElement, box = root.getBoundingClientRect(), sx = w.scrollX, sy = w.scrollY;
    var headings = [], links = [];
    var hs = d.querySelectorAll('h1, h2, h3');
    for (var i = 0; i < hs.length && headings.length < 2000; ++i) {
      var h = hs[i];
      if (!h.getClientRects().length) continue;
      var text = (h.innerText || h.textContent || '').replace(/\s+/g, ' ').trim().slice(0, 300);
      // Its text's top, as a reader finds the text on the printed page.
      var range = d.createRange(), top = Infinity;
      range.selectNodeContents(h);
      var rs = range.getClientRects();
      for (var t = 0; t < rs.length; ++t) if (rs[t].height > 0) top = Math.min(top, rs[t].top);
      if (top === Infinity) top = h.getBoundingClientRect().top;
      headings.push({level: +h.tagName[1], text: text, y: top + sy});
    }
    var as = d.querySelectorAll('a[href]');
    for (var j = 0; j < as.length && links.length < 5000; ++j) {
      var href = as[j].href;
      if (!/^(https?|mailto|ftp):/i.test(href)) continue;
      var rects = as[j].getClientRects();
      for (var k = 0; k < rects.length; ++k) {
        var r = rects[k];
        if (r.width > 0 && r.height > 0) links.push({target: href, x: r.left + sx, y: r.top + sy, width: r.width, height: r.height});
      }
    }
    var b = d.body, end = box.bottom + sy;
    if (b) end = Math.max(end, b.getBoundingClientRect().top + sy + b.scrollHeight);
    return {width: box.width, height: end, headings: headings, links: links};
  }
  var mq = w.matchMedia('print');
  var state = w.__vemoPrint = {printed: null};
  state.heard = function () {
    if (mq.matches && !state.printed) w.setTimeout(function () {
      if (!mq.matches || state.printed) return;
      state.printed = measure();
      try { w.webkit.messageHandlers[told].postMessage(state.printed); } catch (e) {}
    }, 0);
  };
  mq.addEventListener('change', state.heard);
  return measure();
)JS";

const char* const kPrintHeard = R"JS(
  var s = window.__vemoPrint;
  if (!s) return null;
  window.matchMedia('print').removeEventListener('change', s.heard);
  delete window.__vemoPrint;
  return s.printed;
)JS";

// The name the print's layout is told under, in the engine's world alone: the page's
// scripts can neither send under it nor hear it.
const char* const kPrinted = "vemoPrinted";

// What the engine's world tells of the print's layout while a print is under way.
class PrintedLayout {
public:
    explicit PrintedLayout(WebKitWebView* view)
        : manager_(webkit_web_view_get_user_content_manager(view)),
          registered_(webkit_user_content_manager_register_script_message_handler_in_world(manager_, kPrinted,
                                                                                            worldName(World::Engine))) {
        const std::string signal = std::string("script-message-received::") + kPrinted;
        handler_ = g_signal_connect(manager_, signal.c_str(), G_CALLBACK(+[](WebKitUserContentManager*,
                                                                            WebKitJavascriptResult* r, gpointer d) {
            static_cast<PrintedLayout*>(d)->told_ = ScriptValue(JSC_VALUE(g_object_ref(webkit_javascript_result_get_js_value(r))));
        }), this);
    }
    ~PrintedLayout() {
        g_signal_handler_disconnect(manager_, handler_);
        if (registered_) webkit_user_content_manager_unregister_script_message_handler_in_world(manager_, kPrinted,
                                                                                                  worldName(World::Engine));
    }
    PrintedLayout(const PrintedLayout&) = delete;
    PrintedLayout& operator=(const PrintedLayout&) = delete;
    const ScriptValue& told() const { return told_; }

private:
    WebKitUserContentManager* manager_;
    bool registered_;
    gulong handler_ = 0;
    ScriptValue told_;
};

// Reads the layout's measures; whether they were read.
bool readLayout(const ScriptValue& v, capture::PrintOut& out) {
    if (!v.isObject()) return false;
    out.geometry.layoutWidth = v["width"].number();
    out.geometry.layoutHeight = v["height"].number();
    const auto headings = v["headings"];
    for (unsigned i = 0;; ++i) {
        const auto h = headings.at(i);
        if (!h.isObject()) break;
        out.headings.push_back({std::clamp(static_cast<int>(h["level"].number(1)), 1, 3), h["text"].text(), h["y"].number()});
    }
    const auto links = v["links"];
    for (unsigned i = 0;; ++i) {
        const auto l = links.at(i);
        if (!l.isObject()) break;
        out.links.push_back({l["target"].text(), l["x"].number(), l["y"].number(), l["width"].number(), l["height"].number()});
    }
    return out.geometry.layoutWidth > 0;
}

struct Job {
    bool finished = false, failed = false;
    std::string error;
};

}  // namespace

capture::PrintGeometry paperFor(const PrintLayout& layout, int screenWidth) {
    capture::PrintGeometry g;
    g.margins = layout.margins;
    g.paperWidth = layout.width > 0 ? layout.width : screenWidth / kCssPerPoint + g.margins[1] + g.margins[3];
    g.paperHeight = layout.height > 0 ? layout.height : kTallestPage;
    g.trimLast = layout.height <= 0;
    return g;
}

Printed printPage(WebKitWebView* view, const PrintLayout& layout, int screenWidth, int timeoutMs,
                  const std::atomic<bool>* cancel) {
    Printed result;
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    auto left = [deadline] { return static_cast<int>(std::max<gint64>(1, (deadline - g_get_monotonic_time()) / 1000)); };
    PrintedLayout printedLayout(view);
    ScriptArgs told;
    told.text("told", kPrinted);
    const auto watching = callFunction(view, kWatchPrint, told.end(), World::Engine, left(), cancel);
    if (!watching.answered) {
        result.timedOut = true;
        return result;
    }

    gchar* name = nullptr;
    const int fd = g_file_open_tmp("vemo-print-XXXXXX.pdf", &name, nullptr);
    if (fd < 0) {
        result.error = "no temporary file for the print";
        return result;
    }
    close(fd);
    auto out = std::make_shared<capture::PrintOut>(name);
    gchar* uri = g_filename_to_uri(name, nullptr, nullptr);
    g_free(name);
    out->geometry = paperFor(layout, screenWidth);
    const auto& g = out->geometry;

    webkit_settings_set_print_backgrounds(webkit_web_view_get_settings(view), layout.backgrounds);
    GtkPrintSettings* settings = gtk_print_settings_new();
    gtk_print_settings_set_printer(settings, "Print to File");
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    g_free(uri);
    GtkPaperSize* paper = gtk_paper_size_new_custom("vemo", "vemo", g.paperWidth, g.paperHeight, GTK_UNIT_POINTS);
    GtkPageSetup* setup = gtk_page_setup_new();
    gtk_page_setup_set_paper_size(setup, paper);
    gtk_page_setup_set_orientation(setup, GTK_PAGE_ORIENTATION_PORTRAIT);
    gtk_page_setup_set_top_margin(setup, g.margins[0], GTK_UNIT_POINTS);
    gtk_page_setup_set_right_margin(setup, g.margins[1], GTK_UNIT_POINTS);
    gtk_page_setup_set_bottom_margin(setup, g.margins[2], GTK_UNIT_POINTS);
    gtk_page_setup_set_left_margin(setup, g.margins[3], GTK_UNIT_POINTS);
    gtk_paper_size_free(paper);

    WebKitPrintOperation* op = webkit_print_operation_new(view);
    webkit_print_operation_set_print_settings(op, settings);
    webkit_print_operation_set_page_setup(op, setup);
    g_object_unref(settings);
    g_object_unref(setup);
    // The handlers only note what happened: the wait below runs the loop.
    auto job = std::make_shared<Job>();
    auto keep = [](gpointer d, GClosure*) { delete static_cast<std::shared_ptr<Job>*>(d); };
    g_signal_connect_data(op, "finished", G_CALLBACK(+[](WebKitPrintOperation*, gpointer d) {
                              (*static_cast<std::shared_ptr<Job>*>(d))->finished = true;
                          }), new std::shared_ptr<Job>(job), keep, GConnectFlags(0));
    g_signal_connect_data(op, "failed", G_CALLBACK(+[](WebKitPrintOperation*, GError* e, gpointer d) {
                              auto& j = **static_cast<std::shared_ptr<Job>*>(d);
                              j.failed = true;
                              if (e && j.error.empty()) j.error = e->message;
                          }), new std::shared_ptr<Job>(job), keep, GConnectFlags(0));
    webkit_print_operation_print(op);
    const bool over = iterateUntil([&] { return job->finished; }, left(), cancel);
    g_object_unref(op);
    if (!over) {
        result.timedOut = true;
        return result;
    }
    if (job->failed) {
        result.error = job->error.empty() ? "the print failed" : job->error;
        return result;
    }
    GStatBuf st{};
    if (g_stat(out->path().c_str(), &st) != 0 || st.st_size == 0) {
        result.error = "the print wrote nothing";
        return result;
    }

    // The watch ends; it is waited for only when the print's layout was not told while
    // the print went on (the page is laid out for the screen again meanwhile).
    const bool inHand = readLayout(printedLayout.told(), *out);
    ScriptReply heard;
    if (inHand) {
        sendFunction(view, kPrintHeard, nullptr, World::Engine, nullptr);
    } else {
        out->headings.clear();
        out->links.clear();
        heard = callFunction(view, kPrintHeard, nullptr, World::Engine, left(), cancel);
        if (!heard.answered) {
            result.timedOut = true;
            return result;
        }
    }
    // Where the print's layout went unheard, the screen's is taken as the print's, and
    // no link is placed.
    if (!inHand && !readLayout(heard.value, *out)) {
        out->headings.clear();
        out->links.clear();
        readLayout(watching.value, *out);
        out->geometry.layoutWidth = 0;
        out->links.clear();
    }
    out->takenAt = g_get_real_time() / G_USEC_PER_SEC;
    result.out = std::move(out);
    return result;
}

}  // namespace engine
