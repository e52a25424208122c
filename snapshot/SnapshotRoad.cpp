#include "snapshot/SnapshotRoad.h"

#include <cctype>
#include <exception>
#include <new>
#include <stdexcept>

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
        } catch (const std::runtime_error&) {
            // Nothing was promised to the user yet; the program goes on as it was.
            return;
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    openTimeCapture();
}

void SnapshotRoad::openTimeCapture() {
    // Runs on whatever the browser holds at this instant, usually the page before;
    // a failure ends the command silently, the last snapshot kept.
    const auto kept = capture_.keep();
    try {
        capture_.web_Capture();
        capture_.web_Restore();
        hasSnapshot_ = true;
    } catch (const CaptureError&) {
        capture_.putBack(kept);
    } catch (const std::bad_alloc&) {
        capture_.putBack(kept);
    }
}

void SnapshotRoad::photo() {
    const auto kept = capture_.keep();
    std::string failure;
    try {
        capture_.checkNewestPage();
        capture_.web_Capture();
    } catch (const CaptureError& e) {
        failure = photoFailureText(e);
    } catch (const std::bad_alloc&) {
        failure = "拍照出错 内存不足：网页的快照放不进系统现有的内存。请关闭其他程序后再试。";
    }
    if (!failure.empty()) {
        // The program goes on with the last snapshot, to pan and to save.
        capture_.web_Restore();
        capture_.putBack(kept);
        services_.dialogs.warn(failure, "系统提示");
        return;
    }
    hasSnapshot_ = true;
    main_.setHeight(kExpandedHeight);
    capture_.web_Restore();
    viewer_.close();
}

std::string SnapshotRoad::photoFailureText(const CaptureError& failure) {
    const auto* e = &failure;
    switch (e->kind()) {
        case CaptureError::Kind::NoDocument:
            return "拍照出错 还没有可拍的网页：请先打开网址，等网页显示出来后再点拍照。";
        case CaptureError::Kind::StillOpening:
            return "拍照出错 网页还在打开，还没有内容可拍：请等网页在查看窗口里显示出来后再点拍照。";
        case CaptureError::Kind::NotOpened:
            return "拍照出错 网页没能打开（" + e->detail() + "）：请检查网址和网络后重新打开。";
        case CaptureError::Kind::NotAnswering:
            return "拍照出错 网页没有响应：它的脚本可能陷入了死循环，已被停止。请重新打开网址后再拍照。";
        case CaptureError::Kind::Crashed:
            return "拍照出错 显示网页的进程意外退出了：请重新打开网址后再拍照。";
        case CaptureError::Kind::PaintFailed:
            return "拍照出错 网页没能画出来" + (e->detail().empty() ? std::string() : "（" + e->detail() + "）") +
                   "：请过一会儿再点拍照。";
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
    if (!hasSnapshot_ || !image || image->width() <= 0 || image->height() <= 0) {
        // Said before a name is asked for: there is nothing to name.
        services_.dialogs.warn("保存出错 没有可保存的快照：请先打开网址并拍照。", "系统提示");
        return;
    }
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
    if (const auto error = capture::writeBitmapFile(*image, name))
        services_.dialogs.warn("保存出错 " + error.message(), "系统提示");
}

void SnapshotRoad::dropped(const platform::DropData& data) {
    if (data.hasFiles) {
        services_.shell.open(data.files.empty() ? std::string() : data.files.front(), platform::ShowCommand::Normal);
    } else if (data.hasText && isDroppableAddress(data.text)) {
        browser_.navigate(data.text);
    }
}

bool isDroppableAddress(const std::string& text) {
    // What a browser's address bar loads from a drop: a web or file address, one line,
    // nothing a page could run.
    auto lower = [](std::string s) {
        for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (unsigned char c : text)
        if (c < 0x21 || c == 0x7F) return false;
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    const auto scheme = lower(text.substr(0, colon));
    const auto rest = text.substr(colon);
    if (scheme == "http" || scheme == "https") return rest.rfind("://", 0) == 0 && rest.size() > 3;
    if (scheme == "file") return rest.rfind(":///", 0) == 0 || rest.rfind("://localhost/", 0) == 0;
    return false;
}

}  // namespace snapshot
