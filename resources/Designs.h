// The designs of the program's three windows and the maker's web addresses.
#pragma once

#include <string>

#include "platform/Design.h"

namespace resources {

struct MakerSite {
    std::string host;           // the www host, lower case
    std::string homePage;       // "http://" + host
    std::string homePageShown;  // the same address as the address box first shows it
    std::string noticeAddress;  // the notice page the hidden browser fetches
};

struct Designs {
    platform::WindowDesign main;  // frmMain
    platform::WindowDesign view;  // frmView
    platform::WindowDesign web;   // frmWeb
    MakerSite site;
};

// The designs as the program ships them.
Designs standardDesigns();

// The hint the viewer shows once a document has arrived.
inline constexpr const char* kBlackScreenHint = "如果显示黑屏，请过10秒后再点拍照！";

}  // namespace resources
