#include "feed/frmWeb.h"

namespace feed {

frmWeb::frmWeb(platform::IUi& ui, const platform::WindowDesign& design) : window_(ui.createWindow(design)) {}

NoticeFeed::NoticeFeed(platform::IWindow& main, platform::IBrowser& notice) : main_(main), notice_(notice) {
    main_.timer("tim_gg1").onTimer([this] { tick("gg1", "ggurl1"); });
    main_.timer("tim_gg2").onTimer([this] { tick("gg2", "ggurl2"); });
    main_.timer("tim_gg3").onTimer([this] { tick("gg3", "ggurl3"); });
}

void NoticeFeed::tick(const std::string& textField, const std::string& linkField) {
    // The live document is read anew at every tick; nothing is kept between ticks.
    notice_.readForm("formsg", {textField, linkField}, [this](const std::vector<std::optional<std::string>>& values) {
        if (values.size() < 2 || !values[0]) return;
        main_.label("lab_key").setCaption(*values[0]);
        if (!values[1]) return;
        main_.textBox("Text6").setText(*values[1]);
    });
}

}  // namespace feed
