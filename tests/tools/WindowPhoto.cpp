// Not a test: scripts/real-pages photographs a page through the window program with
// it, as a user does: the address typed into the address box and opened, then the
// photo taken and saved as a bitmap. Prints the picture's size; says any warning the
// program gave and exits 1 then.
#include <cstdio>

#include "tests/support/GuiHarness.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vemo-window-photo ADDRESS OUT.bmp\n");
        return 2;
    }
    support::GuiHarness app;
    if (!app.open(argv[1], 60000)) {
        std::fprintf(stderr, "the page did not open within 60 s\n");
        return 3;
    }
    const auto bitmap = app.photoAndSave(argv[2]);
    for (const auto& [text, title] : app.dialogs.warnings) std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    if (!bitmap) {
        std::fprintf(stderr, "no picture was saved\n");
        return 1;
    }
    std::printf("%d x %d\n", bitmap->width, bitmap->height);
    return app.dialogs.warnings.empty() ? 0 : 1;
}
