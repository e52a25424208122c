#include "snapshot/SnapshotRoad.h"

#include <exception>

#include "capture/BitmapWriter.h"

namespace snapshot {

namespace {
const char* const kNoAddress = "http://";

int arrowStepOf(const platform::WindowDesign& d) {
    for (const auto& c : d.controls)
        if (c.name == "VScroll1" && c.stepValue > 0) return c.stepValue;
    return 10;
}

std::string megabytes(std::uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB"; }

std::string pageSizeText(double width, double height) {
    return "（宽 " + std::to_string(roundHalfEven(width)) + " 像素，高 " + std::to_string(roundHalfEven(height)) + " 像素）";
}
}  // namespace


SnapshotRoad::SnapshotRoad(platform::Services services, platform::IWindow& main, const resources::Designs& designs,
                           AskName askName, Drag drag)
    : services_(services),
      main_(main),
      browser_(main.browser("WebBrowser1")),
      text1_(main.textBox("Text1")),
      askName_(std::move(askName)),
      preview_(main, designs.main.controls.empty() ? 10 : arrowStepOf(designs.main)),
      capture_(services.ui, main, preview_),
      viewer_(services, designs.view, main, std::move(drag)) {
    browser_.onDownloadComplete([this] { services_.ui.doEvents(); });
    // A page in the capture browser never gets a window of its own.
    browser_.onNewWindow([](bool& cancel) { cancel = true; });

    auto dropHandler = [this](const platform::DropData& data) { drop(data); };
    main_.pictureBox("Picture1").onDrop(dropHandler);
    main_.pictureBox("Picture2").onDrop(dropHandler);
}

void SnapshotRoad::open() {
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

void SnapshotRoad::photo() {
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
    switch (e->limit()) {
        case CaptureError::Limit::Memory:
            return "拍照出错 网页太大" + pageSizeText(e->pageWidth(), e->pageHeight()) + "：快照需要 " +
                   megabytes(e->bytesNeeded()) + " 内存，系统现在只有 " + megabytes(e->bytesAvailable()) +
                   " 可用。请关闭其他程序后再试。";
        case CaptureError::Limit::Width:
            return "拍照出错 网页太大" + pageSizeText(e->pageWidth(), e->pageHeight()) +
                   "：快照最宽 32767 像素，这个网页更宽。";
        case CaptureError::Limit::ScrollRange: break;
    }
    return "拍照出错 网页太大" + pageSizeText(e->pageWidth(), e->pageHeight()) + "，超出了预览能容纳的范围。";
}

void SnapshotRoad::save() {
    const auto image = main_.pictureBox("Picture1").image();
    if (image && !capture::bitmapFits(image->width(), image->height())) {
        // Said before a name is asked for: no name would help.
        services_.dialogs.warn("保存出错 网页太大" + pageSizeText(image->width(), image->height()) +
                                   "：BMP 文件最大 4 GB，这张快照需要 " +
                                   megabytes(capture::bitmapFileBytes(image->width(), image->height())) + "。",
                               "系统提示");
        return;
    }
    const std::string name = askName_();
    if (name.empty()) return;  // cancelled: nothing is deleted or written
    if (!image || image->width() <= 0 || image->height() <= 0) {
        // Only a failed photo of an oversized page leaves no picture to save.
        services_.dialogs.warn("保存出错 没有可保存的快照：请先拍照。", "系统提示");
        return;
    }
    if (const auto error = capture::writeBitmapFile(*image, name))
        services_.dialogs.warn("保存出错 " + error.message(), "系统提示");
}

void SnapshotRoad::dropped(const platform::DropData& data) {
    if (data.hasFiles) {
        services_.shell.open(data.files.empty() ? std::string() : data.files.front(), platform::ShowCommand::Normal);
    } else if (data.hasText) {
        browser_.navigate(data.text);
    }
}

}  // namespace snapshot
