// Shared routines: moving a borderless window, and the save dialog.
#pragma once

#include <string>

#include "platform/Ui.h"

namespace shell {

// Dialog flags as the save dialog is asked for them.
inline constexpr unsigned kOfnOverwritePrompt = 0x2;
inline constexpr unsigned kOfnHideReadOnly = 0x4;
inline constexpr unsigned kOfnPathMustExist = 0x800;
inline constexpr unsigned kOfnFileMustExist = 0x1000;
inline constexpr unsigned kOfnExplorer = 0x80000;
inline constexpr std::size_t kNameBufferLength = 252;

// Hands the press under way to the window system, which moves the window until
// the mouse button is let go.
void DragWindow(platform::IWindow& window);

// The request the save dialog is shown with.
platform::SaveFileRequest saveDialogRequest(const std::string& title, const std::string& description,
                                            const std::string& extension);

// Shows the save dialog; the chosen path, or empty when the user cancels.
std::string ShowSaveDialog(platform::IDialogs& dialogs, const std::string& title, const std::string& description,
                           const std::string& extension);

}  // namespace shell
