// What both of the capture command's programs find alike: themselves, their
// translations and the program with the engine, beside them in the build folder or
// where they are installed, and the width of the terminal they speak to.
#pragma once

#include <string>

namespace programs {

// This program's file; `argv0` when the system does not say.
std::string selfPath(const char* argv0);

// Translations beside the program in its build folder, or in share/locale beside the
// folder it is installed in: the program can be installed under any prefix.
std::string localeDir();

// The program with the engine, which does all but send a page to the engine kept warm:
// beside this one in the build folder, or in the installation's libexec folder.
std::string engineProgram();

// The width of the terminal standard error shows, for the live progress line.
int terminalColumns();

}  // namespace programs
