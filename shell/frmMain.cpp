#include "shell/frmMain.h"

#include <algorithm>
#include <cctype>

#include "shell/ApiImage.h"

namespace shell {

namespace {

const char* const kButtons[] = {"vo_open", "vo_photo", "vo_save"};

}  // namespace

frmMain::frmMain(platform::Services services, resources::Designs designs)
    : services_(services), designs_(std::move(designs)), window_(services.ui.createWindow(designs_.main)) {
    auto& w = *window_;
    road_ = std::make_unique<snapshot::SnapshotRoad>(
        services_, w, designs_,
        [this] { return ShowSaveDialog(services_.dialogs, "另存为", "JPG文件(.JPG)", "JPG"); },
        [](platform::IWindow& target) { DragWindow(target); });

    wireButton("vo_open", "lab_open", &snapshot::SnapshotRoad::openCommand);
    wireButton("vo_photo", "lab_photo", &snapshot::SnapshotRoad::photoCommand);
    wireButton("vo_save", "lab_save", &snapshot::SnapshotRoad::saveCommand);
    w.textBox("Text1").onEnter([this] { road_->openCommand(); });

    // The bare surface resets every face and the link's underline.
    w.onMouseMove([this] {
        allFacesNormal();
        window_->label("lab_key").setUnderline(false);
    });
    auto& key = w.label("lab_key");
    key.onMouseMove([this](int) { window_->label("lab_key").setUnderline(true); });
    key.onClick([this] { openLink(); });
    w.label("Label3").onClick([this] { services_.shell.open(designs_.site.homePage, platform::ShowCommand::Maximized); });

    // The title strip, and the labels lying on it, move the window.
    auto drag = [this](int) { DragWindow(*window_); };
    w.image("title_Dong").onMouseDown(drag);
    w.label("Label2").onMouseDown(drag);
    w.label("Label4").onMouseDown(drag);

    // The close spot, and the window system's close command, end the program.
    w.image("vo_exit").onClick([this] { services_.ui.endProgram(); });
    w.onCloseRequest([this] { services_.ui.endProgram(); });
}

frmMain::~frmMain() = default;

void frmMain::wireButton(const std::string& image, const std::string& label,
                         void (snapshot::SnapshotRoad::*command)()) {
    auto& face = window_->image(image);
    auto hover = [this, image](int) { window_->image(image).setPicture(window_->image("button2").picture()); };
    auto press = [this, image](int) { window_->image(image).setPicture(window_->image("button3").picture()); };
    auto run = [this, command] { ((*road_).*command)(); };
    for (platform::IPointerTarget* target : {static_cast<platform::IPointerTarget*>(&face),
                                             static_cast<platform::IPointerTarget*>(&window_->label(label))}) {
        target->onMouseMove(hover);
        target->onMouseDown(press);
        target->onClick(run);
    }
}

void frmMain::allFacesNormal() {
    const auto normal = window_->image("button1").picture();
    for (const char* b : kButtons) window_->image(b).setPicture(normal);
}

void frmMain::load() {
    window_->setHeight(snapshot::kCollapsedHeight);
    road_->startUp();
    allFacesNormal();
    web_ = std::make_unique<feed::frmWeb>(services_.ui, designs_.web);
    feed_ = std::make_unique<feed::NoticeFeed>(*window_, web_->WebGet());
    web_->WebGet().navigate(designs_.site.noticeAddress);
}

void frmMain::openLink() {
    // The link comes from a page on the network: only web addresses go to the desktop.
    const std::string link = window_->textBox("Text6").text();
    if (services_.shell.isWebLink(link)) services_.shell.open(link, platform::ShowCommand::Maximized);
}

}  // namespace shell
