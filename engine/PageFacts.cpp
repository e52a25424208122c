#include "engine/PageFacts.h"

namespace engine {

void notePageFacts(WebKitWebView* view, const Navigation& navigation, ShotResult& r) {
    // A load that failed leaves the view on what it showed before: the navigation knows
    // where the page went, and only an answer from there is the page's.
    const bool failed = r.outcome == ShotResult::Outcome::LoadFailed;
    const char* uri = webkit_web_view_get_uri(view);
    r.finalAddress = failed ? navigation.address() : uri ? uri : "";
    const char* title = webkit_web_view_get_title(view);
    if (title && !failed) r.title = title;
    // A file, or a load that never had an answer, has no status of its own.
    WebKitWebResource* main = webkit_web_view_get_main_resource(view);
    WebKitURIResponse* response = main ? webkit_web_resource_get_response(main) : nullptr;
    const char* answered = response ? webkit_uri_response_get_uri(response) : nullptr;
    if (response && (!failed || (answered && r.finalAddress == answered)))
        r.httpStatus = static_cast<int>(webkit_uri_response_get_status_code(response));
}

}  // namespace engine
