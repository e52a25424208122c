// The program's logic started on the fakes, as main starts it on the real platform.
#pragma once

#include <memory>

#include "resources/Designs.h"
#include "shell/frmMain.h"
#include "tests/fakes/FakeUi.h"

namespace fakes {

struct FakeApp {
    FakePlatform p;
    resources::Designs designs = resources::standardDesigns();
    std::unique_ptr<shell::frmMain> app;

    explicit FakeApp(Screen screen = {15360, 11520, 15, 15}) {
        p.ui.screen_ = screen;
        app = std::make_unique<shell::frmMain>(p.services(), designs);
        app->load();
        app->show();
    }
    FakeWindow& main() { return *p.ui.window("frmMain"); }
    FakeWindow* view() { return p.ui.window("frmView"); }
    FakeBrowser& browser() { return main().browser("WebBrowser1"); }
    FakePictureBox& picture1() { return main().pictureBox("Picture1"); }
    FakePictureBox& picture2() { return main().pictureBox("Picture2"); }
    FakeScrollBar& hscroll() { return main().scrollBar("HScroll1"); }
    FakeScrollBar& vscroll() { return main().scrollBar("VScroll1"); }
    snapshot::SnapshotRoad& road() { return app->road(); }
    void type(const std::string& address) { main().textBox("Text1").setText(address); }
    void clickOpen() { main().label("lab_open").handlers.fireClick(); }
    void clickPhoto() { main().image("vo_photo").handlers.fireClick(); }
    void clickSave() { main().label("lab_save").handlers.fireClick(); }
};

}  // namespace fakes
