// Measuring the page held by the hidden browser, enlarging the browser to the
// page's full size, painting it into the preview picture, and parking it again.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Ui.h"
#include "snapshot/Preview.h"

namespace snapshot {

// Where WebBrowser1 waits between captures, in twips.
struct ParkingGeometry {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

class CaptureError : public std::runtime_error {
public:
    enum class Kind {
        NoDocument,    // no page at all
        StillOpening,  // nothing of the newest page has arrived yet
        NotOpened,     // the newest page could not be opened (detail: why)
        NotAnswering,  // the page did not answer in time, and was stopped
        Crashed,       // the process showing the page ended
        TooLarge,
        PaintFailed,   // detail: the engine's words, where it gave them
    };
    // Why a page is too large: wider than any picture the engine paints, or more
    // than the memory the system has.
    enum class Limit { Width, Memory, ScrollRange };
    CaptureError(Kind kind, double pageWidth = 0, double pageHeight = 0, Limit limit = Limit::Width,
                 std::uint64_t bytesNeeded = 0, std::uint64_t bytesAvailable = 0);
    CaptureError(Kind kind, std::string detail);
    const std::string& detail() const { return detail_; }
    Kind kind() const { return kind_; }
    Limit limit() const { return limit_; }
    double pageWidth() const { return pageWidth_; }
    double pageHeight() const { return pageHeight_; }
    std::uint64_t bytesNeeded() const { return needed_; }
    std::uint64_t bytesAvailable() const { return available_; }

private:
    Kind kind_;
    double pageWidth_, pageHeight_;
    Limit limit_;
    std::uint64_t needed_, available_;
    std::string detail_;
};

// What Picture1 shows and the bars' ranges, kept while a capture that may fail runs.
struct KeptSnapshot {
    int width = 0, height = 0;
    std::shared_ptr<const capture::Image> image;
    int hmax = 0, vmax = 0, hunit = 1, vunit = 1;
    bool henabled = false, venabled = false;
};

// Rounds to the nearest whole number, a half to the even neighbour.
long roundHalfEven(double);
// The same into a 16-bit scroll range; nothing when the value falls outside it.
bool toInt16(double, std::int16_t& out);

class PageCapture {
public:
    using MemoryProbe = std::function<std::optional<std::uint64_t>()>;

    PageCapture(platform::IUi& ui, platform::IWindow& main, Preview& preview);

    // Start-up: the parked browser gets the screen's size, and its geometry is recorded.
    void recordParking();
    // Measures the page, puts the browser at the window's corner at the page's size,
    // sizes and empties Picture1 and sets the scroll ranges. Throws CaptureError.
    void web_Enlarge();
    // Puts the browser back at its parking geometry.
    void web_Restore();
    // Enlarges, paints the whole page into Picture1 and shows it. Throws CaptureError.
    void web_Capture();
    // Throws the CaptureError that says why the newest page cannot be photographed yet.
    void checkNewestPage() const;

    KeptSnapshot keep() const;
    void putBack(const KeptSnapshot&);

    const ParkingGeometry& parking() const { return parking_; }
    // Where the memory the system can still give is read from.
    void setMemoryProbe(MemoryProbe probe) { memory_ = std::move(probe); }

private:
    void checkHoldable(double pageWidth, double pageHeight);
    void setRange(platform::IScrollBar& bar, long range, bool vertical, double pageWidth, double pageHeight);

    platform::IUi& ui_;
    platform::IWindow& main_;
    platform::IBrowser& browser_;
    platform::IPictureBox& picture1_;
    platform::IPictureBox& picture2_;
    platform::IScrollBar& hscroll_;
    platform::IScrollBar& vscroll_;
    Preview& preview_;
    ParkingGeometry parking_;
    MemoryProbe memory_;
};

}  // namespace snapshot
