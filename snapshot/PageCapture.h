// Measuring the page held by the hidden browser, enlarging the browser to the
// page's full size, painting it into the preview picture, and parking it again.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/Ui.h"

namespace snapshot {

// Where WebBrowser1 waits between captures, in twips.
struct ParkingGeometry {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

class CaptureError : public std::runtime_error {
public:
    enum class Kind { NoDocument, TooLarge, PaintFailed };
    CaptureError(Kind kind, double pageWidth = 0, double pageHeight = 0);
    Kind kind() const { return kind_; }
    double pageWidth() const { return pageWidth_; }
    double pageHeight() const { return pageHeight_; }

private:
    Kind kind_;
    double pageWidth_, pageHeight_;
};

// Rounds to the nearest whole number, a half to the even neighbour.
long roundHalfEven(double);
// The same into a 16-bit scroll range; nothing when the value falls outside it.
bool toInt16(double, std::int16_t& out);

class PageCapture {
public:
    PageCapture(platform::IUi& ui, platform::IWindow& main);

    // Start-up: the parked browser gets the screen's size, and its geometry is recorded.
    void recordParking();
    // Measures the page, puts the browser at the window's corner at the page's size,
    // sizes and empties Picture1 and sets the scroll ranges. Throws CaptureError.
    void web_Enlarge();
    // Puts the browser back at its parking geometry.
    void web_Restore();
    // Enlarges, paints the whole page into Picture1 and shows it. Throws CaptureError.
    void web_Capture();

    const ParkingGeometry& parking() const { return parking_; }

private:
    platform::IUi& ui_;
    platform::IWindow& main_;
    platform::IBrowser& browser_;
    platform::IPictureBox& picture1_;
    platform::IPictureBox& picture2_;
    platform::IScrollBar& hscroll_;
    platform::IScrollBar& vscroll_;
    ParkingGeometry parking_;
};

}  // namespace snapshot
