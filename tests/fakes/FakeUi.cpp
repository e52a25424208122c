#include "tests/fakes/FakeUi.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace fakes {

void FakeScrollBar::setValue(int v) {
    const int lo = std::min(0, max_), hi = std::max(0, max_);
    v = std::clamp(v, lo, hi);
    if (v == value_) return;
    value_ = v;
    for (auto& h : change_) h();
}

void FakeScrollBar::setMax(int m) {
    max_ = m;
    setValue(value_);  // brings the value back into the new range
}

FakePictureBox::FakePictureBox(const ControlDesign& d, int l, int t, int w, int h)
    : left_(l), top_(t), width_(w), height_(h), border_(d.borderPx), visible_(d.visible) {
    setSize(w, h);
}

void FakePictureBox::setSize(int w, int h) {
    width_ = w;
    height_ = h;
    image_ = std::make_shared<capture::Image>(scaleWidth(), scaleHeight(), back_);
}

void FakePictureBox::clearPicture() {
    ++clears;
    image_ = std::make_shared<capture::Image>(scaleWidth(), scaleHeight(), back_);
}

void FakeBrowser::holdPage(long width, long height, std::uint32_t colour) {
    BodyMetrics m;
    m.scrollWidth = m.rootScrollWidth = width;
    m.scrollHeight = m.rootScrollHeight = height;
    m.offsetWidth = m.clientWidth = width;
    m.offsetHeight = m.clientHeight = height;
    body = m;
    pageColour = colour;
}

std::shared_ptr<capture::Image> FakeBrowser::paintPage(int width, int height, std::uint32_t back) {
    if (duringPaint) duringPaint();
    if (paintThrows) throw std::bad_alloc();
    if (!pageColour || hung) return nullptr;
    ++prints;
    printedLeft = left_;
    printedTop = top_;
    printedWidth = width_;
    printedHeight = height_;
    // The page in bands of a few rows, as an engine paints a tall page in strips.
    auto image = std::make_shared<capture::Image>(width, height, back);
    constexpr int kBand = 4096;
    for (int top = 0; top < height; top += kBand) {
        std::uint32_t* rows = image->appendOwned(top, kBand);
        std::fill(rows, rows + static_cast<std::size_t>(width) * std::min(kBand, height - top), *pageColour);
    }
    return image;
}

void FakeBrowser::readForm(const std::string& form, const std::vector<std::string>& fields, FormReply reply) {
    std::vector<std::optional<std::string>> values;
    for (const auto& f : fields) {
        auto it = formFields.find(f);
        if (hasForm && form == formName && it != formFields.end())
            values.push_back(it->second);
        else
            values.push_back(std::nullopt);
    }
    reply(values);
}

FakeWindow::FakeWindow(FakeUi& ui, const WindowDesign& d)
    : name(d.name), ui_(ui), left_(d.left), top_(d.top), width_(d.width), height_(d.height), picture_{d.picture} {
    const double tpp = ui.screen_.twipsPerPixelX;
    for (const auto& c : d.controls) {
        switch (c.kind) {
            case ControlKind::Label: c_.labels[c.name] = std::make_unique<FakeLabel>(c); break;
            case ControlKind::Image: c_.images[c.name] = std::make_unique<FakeImage>(c); break;
            case ControlKind::TextBox: c_.texts[c.name] = std::make_unique<FakeTextBox>(c); break;
            case ControlKind::HScrollBar:
            case ControlKind::VScrollBar: c_.bars[c.name] = std::make_unique<FakeScrollBar>(c); break;
            case ControlKind::Browser: c_.browsers[c.name] = std::make_unique<FakeBrowser>(c); break;
            case ControlKind::Timer: {
                auto t = std::make_unique<FakeTimer>(c.intervalMs);
                ui.timers_.push_back({this, t.get(), ui.now_ + c.intervalMs});
                c_.timers[c.name] = std::move(t);
                break;
            }
            case ControlKind::PictureBox: {
                const bool inner = !c.container.empty();
                auto px = [&](int v) { return inner ? v : static_cast<int>(std::lround(v / tpp)); };
                c_.pictures[c.name] = std::make_unique<FakePictureBox>(c, px(c.left), px(c.top), px(c.width), px(c.height));
                break;
            }
        }
    }
}

FakeWindow::~FakeWindow() { ui_.forget(this); }

std::unique_ptr<IWindow> FakeUi::createWindow(const WindowDesign& d) {
    auto w = std::make_unique<FakeWindow>(*this, d);
    windows_.push_back(w.get());
    ++created_[d.name];
    return w;
}

void FakeUi::doEvents() {
    ++pumps;
    auto posted = std::move(posted_);
    posted_.clear();
    for (auto& h : posted) h();
}

FakeWindow* FakeUi::window(const std::string& name) {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if ((*it)->name == name && !(*it)->closed) return *it;
    return nullptr;
}

int FakeUi::windowsCreated(const std::string& name) const {
    auto it = created_.find(name);
    return it == created_.end() ? 0 : it->second;
}

void FakeUi::forget(FakeWindow* w) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [w](const Running& r) { return r.window == w; }),
                  timers_.end());
}

void FakeUi::advance(int ms) {
    const long until = now_ + ms;
    for (;;) {
        auto next = std::min_element(timers_.begin(), timers_.end(),
                                     [](const Running& a, const Running& b) { return a.due < b.due; });
        if (next == timers_.end() || next->due > until) break;
        now_ = next->due;
        next->due += next->timer->interval();
        next->timer->fire();
    }
    now_ = until;
}

}  // namespace fakes
