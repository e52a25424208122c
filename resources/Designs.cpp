// Control tables of the three windows. Twips throughout, but for Picture1,
// which lives inside the viewport Picture2 and is measured in its pixels.
#include "resources/Designs.h"

#ifndef VEMO_HOST
#define VEMO_HOST "www.vemo.example"
#endif
#ifndef VEMO_HOST_SHOWN
#define VEMO_HOST_SHOWN "www.Vemo.example"
#endif

namespace resources {

using platform::Colour;
using platform::ControlDesign;
using platform::ControlKind;
using platform::FontDesign;
using platform::Pointer;
using platform::SchemeColour;
using platform::WindowDesign;

namespace {

const Colour kYellow = Colour::of(255, 255, 0);
const Colour kWhite = Colour::of(255, 255, 255);
const Colour kBlue = Colour::of(0, 0, 255);
const Colour kWindowText = Colour::system(SchemeColour::WindowText);
const FontDesign kBold9{9.0, true};
const FontDesign kRegular10{10.5, false};

ControlDesign control(std::string name, ControlKind kind, int l, int t, int w, int h) {
    ControlDesign c;
    c.name = std::move(name);
    c.kind = kind;
    c.left = l;
    c.top = t;
    c.width = w;
    c.height = h;
    return c;
}

ControlDesign label(std::string name, int l, int t, int w, int h, std::string caption, Colour fore) {
    auto c = control(std::move(name), ControlKind::Label, l, t, w, h);
    c.text = std::move(caption);
    c.fore = fore;
    return c;
}

ControlDesign timer(std::string name, int interval) {
    auto c = control(std::move(name), ControlKind::Timer, 0, 0, 0, 0);
    c.intervalMs = interval;
    return c;
}

ControlDesign image(std::string name, int l, int t, int w, int h, std::string picture = {}) {
    auto c = control(std::move(name), ControlKind::Image, l, t, w, h);
    c.picture = std::move(picture);
    return c;
}

ControlDesign boldLabel(std::string name, int l, int t, int w, int h, std::string caption, Colour fore) {
    auto c = label(std::move(name), l, t, w, h, std::move(caption), fore);
    c.font = kBold9;
    return c;
}

// The transparent title-bar area that drags a borderless window.
ControlDesign titleArea() {
    auto c = image("title_Dong", 0, 0, 10695, 345);
    c.pointer = Pointer::Move;
    return c;
}

WindowDesign window(std::string name, int l, int t, int w, int h) {
    WindowDesign d;
    d.name = std::move(name);
    d.left = l;
    d.top = t;
    d.width = w;
    d.height = h;
    return d;
}

WindowDesign mainDesign(const MakerSite& site) {
    WindowDesign w = window("frmMain", 4875, 2070, 11160, 8430);
    w.caption = "Vemo迷你网页快照";
    w.back = Colour::of(255, 255, 192);
    w.picture = "background.jpg";
    w.icon = "vemo.ico";

    auto& c = w.controls;
    c.push_back(timer("tim_gg1", 2000));
    c.push_back(timer("tim_gg2", 4000));
    c.push_back(timer("tim_gg3", 6000));

    auto text6 = control("Text6", ControlKind::TextBox, 13320, 3000, 255, 330);
    text6.visible = false;
    text6.text = site.homePage;
    c.push_back(text6);

    auto text1 = control("Text1", ControlKind::TextBox, 720, 450, 3375, 315);
    text1.text = site.homePageShown;
    text1.font = kRegular10;
    c.push_back(text1);

    auto hscroll = control("HScroll1", ControlKind::HScrollBar, 0, 8160, 11175, 255);
    hscroll.enabled = false;
    hscroll.stepValue = 10;
    c.push_back(hscroll);

    auto vscroll = control("VScroll1", ControlKind::VScrollBar, 10920, 840, 255, 7335);
    vscroll.enabled = false;
    vscroll.stepValue = 10;
    c.push_back(vscroll);

    auto picture2 = control("Picture2", ControlKind::PictureBox, 0, 840, 10935, 7335);
    picture2.borderPx = 2;
    picture2.back = Colour::system(SchemeColour::WindowBackground);
    picture2.fore = kWindowText;
    picture2.acceptsDrops = true;
    c.push_back(picture2);

    auto picture1 = control("Picture1", ControlKind::PictureBox, 0, 0, 382, 237);
    picture1.container = "Picture2";
    picture1.borderPx = 2;
    picture1.visible = false;
    picture1.back = Colour::system(SchemeColour::MenuText);
    picture1.fore = kWindowText;
    picture1.acceptsDrops = true;
    c.push_back(picture1);

    // The capture browser lies out of sight: it never takes the keyboard, and it
    // loads the whole page at once, since nobody scrolls it to load the rest.
    auto browser = control("WebBrowser1", ControlKind::Browser, 960, -20000, 3255, 20000);
    browser.eagerLoading = true;
    browser.outOfSight = true;
    c.push_back(browser);

    c.push_back(image("Image1", 7200, 440, 285, 285, "image1.gif"));
    c.push_back(label("Label4", 4800, 90, 2610, 180, "Vemo不傻-专做生活中的贴身助手", kYellow));
    auto key = label("lab_key", 7560, 480, 3450, 180, "", kBlue);
    key.pointer = Pointer::Help;
    c.push_back(key);
    c.push_back(boldLabel("Label2", 1800, 90, 105, 180, "", kYellow));
    c.push_back(label("lab_save", 6330, 510, 630, 180, "(3)保存", kWindowText));
    c.push_back(image("vo_save", 6240, 450, 855, 255));
    c.push_back(label("lab_photo", 5370, 510, 630, 180, "(2)拍照", kWindowText));
    c.push_back(image("vo_photo", 5280, 450, 855, 255));
    c.push_back(image("button3", 12240, 2520, 855, 300, "button3.jpg"));
    c.push_back(label("lab_open", 4380, 510, 615, 180, "(1)打开", kWindowText));
    c.push_back(image("vo_open", 4320, 450, 855, 255));
    c.push_back(image("button2", 12240, 2040, 855, 300, "button2.jpg"));
    c.push_back(image("button1", 12240, 1440, 855, 300, "button1.jpg"));
    c.push_back(image("vo_exit", 10680, 0, 495, 375));
    c.push_back(titleArea());
    c.push_back(boldLabel("Label3", 240, 90, 4260, 180, "Vemo网页快照v1.0   " + site.host + " Vemo软件", kWhite));
    auto label1 = label("Label1", 120, 480, 630, 210, "网址：", kWindowText);
    label1.font = kRegular10;
    c.push_back(label1);
    return w;
}

WindowDesign viewDesign() {
    WindowDesign w = window("frmView", 4875, 2940, 11160, 7770);
    w.back = Colour::of(255, 224, 192);

    auto& c = w.controls;
    c.push_back(control("voWeb", ControlKind::Browser, -1, 360, 11160, 7455));
    c.push_back(boldLabel("Label3", 120, 90, 1770, 180, "网页预览--网页加载", kWhite));
    c.push_back(titleArea());
    c.push_back(image("vo_exit", 10680, 0, 495, 375));
    return w;
}

WindowDesign webDesign() {
    WindowDesign w = window("frmWeb", 60, 345, 2175, 1500);
    w.framed = true;
    auto notice = control("WebGet", ControlKind::Browser, 0, 0, 495, 495);
    notice.outOfSight = true;
    w.controls.push_back(notice);
    return w;
}

}  // namespace

Designs standardDesigns() {
    Designs d;
    d.site.host = VEMO_HOST;
    d.site.homePage = "http://" + d.site.host;
    d.site.homePageShown = std::string("http://") + VEMO_HOST_SHOWN;
    d.site.noticeAddress = "http://" + d.site.host + "/update.asp";
    d.main = mainDesign(d.site);
    d.view = viewDesign();
    d.web = webDesign();
    return d;
}

}  // namespace resources
