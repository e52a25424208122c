// A capture of one page asked of the engine, and what came of it: structured, for the
// command and the service to word.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/Image.h"
#include "capture/ImageFiles.h"
#include "capture/PageSize.h"
#include "capture/PrintOut.h"
#include "engine/Adjustments.h"
#include "engine/Navigation.h"

namespace engine {

struct Cookie {
    std::string name, value, domain, path = "/";
    bool secure = false, httpOnly = false;
    long long expires = 0;  // seconds since 1970; 0: for this session
    bool operator==(const Cookie&) const = default;
};

// Who the page is asked for by.
struct Identity {
    std::string userAgent;  // empty: the engine's own
    std::vector<std::pair<std::string, std::string>> headers;  // sent to the page's own origin only
    std::vector<Cookie> cookies;  // an empty domain: the page's host
    std::string user, password;   // answers HTTP authentication from the page's host only
    bool operator==(const Identity&) const = default;
};

// Which addresses the page and everything it loads may reach.
struct NetworkRules {
    bool denyPrivate = false;  // public addresses only: loopback, private, link-local... refused
    std::vector<std::string> allowHosts;  // HOST or HOST:PORT, reached wherever they are
    bool operator==(const NetworkRules&) const = default;
};

// How the picture is written.
struct PictureFile {
    capture::Format format = capture::Format::Png;
    int quality = 90;    // JPEG, and a lossy WebP
    bool lossy = false;  // WebP: lossy at that quality, else lossless
    bool operator==(const PictureFile&) const = default;
};

// How tall a page that keeps growing as it is scrolled (an endless feed) may grow
// while its warm-up wakes it, in CSS pixels: a picture that a JPEG and the memory of
// most machines hold, at twice the scale too.
inline constexpr int kGrowUpTo = 50000;

// How a PDF is laid out, in points (1/72 in): its paper as turned, its margins and
// whether backgrounds are printed.
struct PrintLayout {
    double width = 595.28, height = 841.89;  // A4; width 0: the screen's; height 0: as tall as the document
    std::array<double, 4> margins{28.35, 28.35, 28.35, 28.35};  // top, right, bottom, left: 1 cm
    bool backgrounds = true;
    bool operator==(const PrintLayout&) const = default;
};

struct ShotRequest {
    std::string address;
    int width = 1280, height = 1024, scale = 1;
    int waitMs = 0, timeoutMs = 30000;
    bool warmUp = true;       // wake what the page's scripts wait to see
    bool animations = false;  // photograph animations as they run, not at rest
    Adjustments adjust;       // changes before the photo, and the part kept
    bool dark = false;        // the page's dark colour scheme, whatever the host's theme
    bool transparent = false; // no background where the page sets none; the picture keeps alpha
    Identity identity;
    NetworkRules network;
    PictureFile picture;
    PrintLayout print;        // for a PDF
    bool operator==(const ShotRequest&) const = default;
};

struct ShotResult {
    enum class Outcome {
        Ok,
        Incomplete,     // photographed at the load limit while something was still loading
        LoadFailed,     // failure: why
        TimedOut,       // the page did not answer (its process was replaced)
        TooLarge,       // width, height, limit
        PaintFailed,    // engineWords
        Changed,        // the document was replaced while it was photographed, twice
        Interrupted,
        Unadjusted,     // a change asked for could not be made: adjusted says why
    };
    Outcome outcome = Outcome::Ok;
    Failure failure;
    std::string engineWords;
    std::shared_ptr<const capture::Image> image;
    std::shared_ptr<const capture::PrintOut> printed;  // a PDF's print-out, instead of a picture
    long width = 0, height = 0;  // the picture's, or the page's when too large
    std::optional<capture::HoldLimit> limit;
    bool stillGrowing = false;  // the page kept growing when its warm-up stopped (then Incomplete)
    bool stillOpening = false;  // the page was still loading at its time limit (then Incomplete)
    // The engine painted less of the page than was measured, or the page was shorter once
    // painted, even measured again (then Incomplete): what it painted, and the page's size
    // as measured, in the picture's pixels.
    std::optional<std::array<long, 4>> paintedShort;
    int stillLoading = 0;       // images still loading, when incomplete
    std::string firstMissing;
    Adjusted adjusted;          // what the changes before the photo came to
    // What the page came to, as far as it came: where it landed (after redirects and
    // moves of its own), its title, and its main document's HTTP status (0: none came).
    std::string finalAddress, title;
    int httpStatus = 0;
    // Requests the network rules refused, and the first of them (an address, or host:port).
    int refused = 0;
    std::string firstRefused;
    // Resources left out because another origin than the page's asked for a login, and
    // the first such origin.
    int loginsSkipped = 0;
    std::string firstLoginSkipped;
};

class IShotEngine {
public:
    virtual ~IShotEngine() = default;
    virtual ShotResult photograph(const ShotRequest&) = 0;
    // Forgets what earlier pages left: cookies, storage, caches.
    virtual void forgetVisits() {}
};

}  // namespace engine
