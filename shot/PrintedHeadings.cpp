#include "shot/PrintedHeadings.h"

#include <poppler.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace shot {

namespace {

using Page = std::unique_ptr<PopplerPage, decltype(&g_object_unref)>;

// How many pages past the heading before it one is looked for.
constexpr int kFurthest = 20;

// The first place on `page` where `text` begins below `after` (points from the page's
// bottom), its top in the same terms; a heading may run over several lines.
std::optional<double> findBelow(PopplerPage* page, const std::string& text, double after) {
    GList* matches = poppler_page_find_text_with_options(
        page, text.c_str(), static_cast<PopplerFindFlags>(POPPLER_FIND_MULTILINE | POPPLER_FIND_CASE_SENSITIVE));
    std::optional<double> top;
    bool continues = false;  // the rectangle goes on a match begun before it
    for (GList* m = matches; m; m = m->next) {
        const auto* r = static_cast<PopplerRectangle*>(m->data);
        if (!top && !continues && r->y2 < after) top = r->y2;
        continues = poppler_rectangle_find_get_match_continued(r);
        poppler_rectangle_free(static_cast<PopplerRectangle*>(m->data));
    }
    g_list_free(matches);
    return top;
}

}  // namespace

capture::FoundHeadings findHeadings(const capture::PrintOut& printed) {
    capture::FoundHeadings found(printed.headings.size());
    if (printed.headings.empty()) return found;
    gchar* uri = g_filename_to_uri(printed.path().c_str(), nullptr, nullptr);
    PopplerDocument* pdf = uri ? poppler_document_new_from_file(uri, nullptr, nullptr) : nullptr;
    g_free(uri);
    if (!pdf) return found;
    std::unique_ptr<PopplerDocument, decltype(&g_object_unref)> keep(pdf, g_object_unref);
    const int count = poppler_document_get_n_pages(pdf);
    std::vector<Page> pages;
    for (int i = 0; i < count; ++i) pages.emplace_back(poppler_document_get_page(pdf, i), g_object_unref);

    // Each heading is looked for on the page the layout puts it on first, then from the
    // place of the one before it onwards, a few pages on at most: a heading not found
    // keeps the place the layout and the headings before it give it.
    capture::PagePoint after{0, printed.geometry.paperHeight + 1};
    auto lookOn = [&](int page, const std::string& text) -> std::optional<capture::PagePoint> {
        if (page < after.page || page >= count || !pages[static_cast<std::size_t>(page)]) return std::nullopt;
        const auto top = findBelow(pages[static_cast<std::size_t>(page)].get(), text,
                                   page == after.page ? after.top : printed.geometry.paperHeight + 1);
        if (!top) return std::nullopt;
        return capture::PagePoint{page, *top};
    };
    for (std::size_t i = 0; i < printed.headings.size(); ++i) {
        const auto& h = printed.headings[i];
        if (h.text.empty()) continue;
        const int expected = capture::placeOnPage(printed.geometry, h.y).page;
        auto at = lookOn(expected, h.text);
        for (int p = after.page; !at && p < std::min(count, after.page + kFurthest); ++p)
            if (p != expected) at = lookOn(p, h.text);
        if (!at) continue;
        found[i] = at;
        after = *at;
    }
    return found;
}

}  // namespace shot
