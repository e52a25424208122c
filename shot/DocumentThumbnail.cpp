// A PDF's thumbnail for a batch's contact sheet: its first page, drawn by poppler.
#include <cairo.h>
#include <poppler.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "shot/Index.h"

namespace shot {

std::error_code writeFirstPageThumbnail(const std::string& document) {
    // A folder given from where the command runs is named whole: an address takes no other.
    std::error_code ec;
    const auto whole = std::filesystem::absolute(document, ec);
    if (ec) return ec;
    gchar* uri = g_filename_to_uri(whole.c_str(), nullptr, nullptr);
    PopplerDocument* pdf = uri ? poppler_document_new_from_file(uri, nullptr, nullptr) : nullptr;
    g_free(uri);
    if (!pdf) return std::make_error_code(std::errc::invalid_argument);
    std::unique_ptr<PopplerDocument, decltype(&g_object_unref)> keep(pdf, g_object_unref);
    PopplerPage* page = poppler_document_get_n_pages(pdf) > 0 ? poppler_document_get_page(pdf, 0) : nullptr;
    if (!page) return std::make_error_code(std::errc::invalid_argument);
    std::unique_ptr<PopplerPage, decltype(&g_object_unref)> keepPage(page, g_object_unref);
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    // Drawn at twice the thumbnail's width (at most as tall as it is wide), then made small as a picture is.
    const double scale = 2.0 * kThumbnailWidth / std::max(1.0, width);
    const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(std::min(height, width) * scale)));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, scale, scale);
    poppler_page_render_for_printing(page, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    capture::Image image(w, h, 0xFFFFFF);
    image.append({0, h, static_cast<std::size_t>(cairo_image_surface_get_stride(surface)),
                  cairo_image_surface_get_data(surface),
                  std::shared_ptr<const void>(surface, [](const void* s) {
                      cairo_surface_destroy(static_cast<cairo_surface_t*>(const_cast<void*>(s)));
                  })});
    return writeThumbnail(image, document);
}

}  // namespace shot
