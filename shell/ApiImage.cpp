#include "shell/ApiImage.h"

namespace shell {

void DragWindow(platform::IWindow& window) { window.beginMoveDrag(); }

platform::SaveFileRequest saveDialogRequest(const std::string& title, const std::string& description,
                                            const std::string& extension) {
    using namespace std::string_literals;
    platform::SaveFileRequest r;
    r.filter = description + "\0"s + "*." + extension + "\0"s + "\0"s;
    const std::string initial = "*.jpg";
    r.fileBuffer = std::string(kNameBufferLength - 1 - initial.size(), ' ') + initial + "\0"s;
    r.maxFile = r.fileBuffer.size();
    r.title = title + "\0"s;
    r.flags = kOfnExplorer | kOfnFileMustExist | kOfnPathMustExist | kOfnHideReadOnly | kOfnOverwritePrompt;
    return r;
}

std::string ShowSaveDialog(platform::IDialogs& dialogs, const std::string& title, const std::string& description,
                           const std::string& extension) {
    const auto chosen = dialogs.saveFileName(saveDialogRequest(title, description, extension));
    if (!chosen) return {};
    return chosen->substr(0, chosen->find('\0'));
}

}  // namespace shell
