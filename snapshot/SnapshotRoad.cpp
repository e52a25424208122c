#include "snapshot/SnapshotRoad.h"

#include <exception>

#include "snapshot/SnapshotFile.h"

namespace snapshot {

namespace {
const char* const kNoAddress = "http://";
}

SnapshotRoad::SnapshotRoad(platform::Services services, platform::IWindow& main, const resources::Designs& designs,
                           AskName askName, Drag drag)
    : services_(services),
      main_(main),
      browser_(main.browser("WebBrowser1")),
      text1_(main.textBox("Text1")),
      askName_(std::move(askName)),
      capture_(services.ui, main),
      preview_(main),
      viewer_(services, designs.view, main, std::move(drag)) {
    browser_.onDownloadComplete([this] { services_.ui.doEvents(); });
    // A page in the capture browser never gets a window of its own.
    browser_.onNewWindow([](bool& cancel) { cancel = true; });

    auto dropHandler = [this](const platform::DropData& data) { drop(data); };
    main_.pictureBox("Picture1").onDrop(dropHandler);
    main_.pictureBox("Picture2").onDrop(dropHandler);
}

void SnapshotRoad::openCommand() {
    const std::string address = text1_.text();
    if (address == kNoAddress) {
        services_.dialogs.warn("请输入网址！", "Vemo提示");
        text1_.setFocus();
    } else {
        try {
            browser_.navigate(address);
            main_.setHeight(kCollapsedHeight);
            viewer_.show().voWeb().navigate(text1_.text());
        } catch (const std::exception&) {
            // Nothing was promised to the user yet; the program goes on as it was.
            return;
        }
    }
    openTimeCapture();
}

void SnapshotRoad::openTimeCapture() {
    // Runs on whatever the browser holds at this instant, usually the page before;
    // any failure ends the command silently, keeping what was done.
    try {
        capture_.web_Capture();
        capture_.web_Restore();
    } catch (const std::exception&) {
    }
}

void SnapshotRoad::photoCommand() {
    try {
        capture_.web_Capture();
    } catch (const std::exception& e) {
        // Also out of memory for the picture, say: the program goes on without it.
        capture_.web_Restore();
        services_.dialogs.warn(photoFailureText(e), "系统提示");
        return;
    }
    main_.setHeight(kExpandedHeight);
    capture_.web_Restore();
    viewer_.close();
}

std::string SnapshotRoad::photoFailureText(const std::exception& failure) {
    const auto* e = dynamic_cast<const CaptureError*>(&failure);
    if (!e) return std::string("拍照出错 ") + failure.what();
    switch (e->kind()) {
        case CaptureError::Kind::NoDocument:
            return "拍照出错 还没有可拍的网页：请先打开网址，等网页显示出来后再点拍照。";
        case CaptureError::Kind::PaintFailed:
            return "拍照出错 网页没能画出来：请过一会儿再点拍照。";
        case CaptureError::Kind::TooLarge:
            break;
    }
    return "拍照出错 网页太大（宽 " + std::to_string(roundHalfEven(e->pageWidth())) + " 像素，高 " +
           std::to_string(roundHalfEven(e->pageHeight())) + " 像素），超出了快照能容纳的范围（每边最多 32767 像素）。";
}

void SnapshotRoad::saveCommand() {
    const std::string name = askName_();
    if (name.empty()) return;  // cancelled: nothing is deleted or written
    const auto image = main_.pictureBox("Picture1").image();
    if (image.width <= 0 || image.height <= 0) {
        // Only a failed photo of an oversized page leaves no picture to save.
        services_.dialogs.warn("保存出错 没有可保存的快照：请先拍照。", "系统提示");
        return;
    }
    if (const auto error = writeBitmapFile(image, name))
        services_.dialogs.warn("保存出错 " + error.message(), "系统提示");
}

void SnapshotRoad::drop(const platform::DropData& data) {
    if (data.hasFiles) {
        services_.shell.open(data.files.empty() ? std::string() : data.files.front(), platform::ShowCommand::Normal);
    } else if (data.hasText) {
        browser_.navigate(data.text);
    }
}

}  // namespace snapshot
