// The real save dialog and message box, and drops delivered through GTK's own
// selection data to the preview.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/gtk/GtkControls.h"
#include "shell/ApiImage.h"
#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::TempDir;

namespace {

// Runs `act` on the first dialog of type T that shows up, once.
template <class T>
void whenShown(std::function<void(T&)> act) {
    auto* pending = new std::function<void(T&)>(std::move(act));
    g_timeout_add(50, [](gpointer data) -> gboolean {
        auto* act = static_cast<std::function<void(T&)>*>(data);
        for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
            if (auto* dialog = dynamic_cast<T*>(w); dialog && dialog->get_visible()) {
                (*act)(*dialog);
                delete act;
                return G_SOURCE_REMOVE;
            }
        }
        return G_SOURCE_CONTINUE;
    }, pending);
}

bool filterMatches(const Glib::RefPtr<Gtk::FileFilter>& filter, const std::string& name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name.c_str();
    return gtk_file_filter_filter(filter->gobj(), &info);
}

TEST(DialogGui, SaveDialogOffersJpegFilesInAnyCaseAndReturnsTheChosenPath) {
    platform::gtk::GtkUi ui;
    platform::gtk::GtkDialogs dialogs;
    TempDir dir;
    std::string title, name;
    std::vector<std::string> filters;
    bool lower = false, upper = false, other = true, confirms = false, stillOpen = false;
    whenShown<Gtk::FileChooserDialog>([&](Gtk::FileChooserDialog& d) {
        title = d.get_title();
        name = d.get_current_name();
        confirms = d.get_do_overwrite_confirmation();
        for (const auto& f : d.list_filters()) filters.push_back(f->get_name());
        lower = filterMatches(d.get_filter(), "page.jpg");
        upper = filterMatches(d.get_filter(), "PAGE.JPG");
        other = filterMatches(d.get_filter(), "page.png");
        // Accepting the initial pattern itself keeps the dialog open: no file "*.jpg".
        d.response(Gtk::RESPONSE_ACCEPT);
        stillOpen = d.get_visible();
        // The name box takes a whole path, as a user may type one.
        d.set_current_name(dir.path("快照.jpg"));
        Glib::signal_timeout().connect_once([&d] { d.response(Gtk::RESPONSE_ACCEPT); }, 200);
    });
    const auto chosen = shell::ShowSaveDialog(dialogs, "另存为", "JPG文件(.JPG)", "JPG");
    EXPECT_EQ(chosen, dir.path("快照.jpg"));
    EXPECT_EQ(title, "另存为");
    EXPECT_EQ(name, "*.jpg");
    EXPECT_EQ(filters, std::vector<std::string>{"JPG文件(.JPG)"});
    EXPECT_TRUE(lower);
    EXPECT_TRUE(upper);
    EXPECT_FALSE(other);
    EXPECT_TRUE(confirms);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(std::filesystem::exists(dir.path("*.jpg")));

    whenShown<Gtk::FileChooserDialog>([](Gtk::FileChooserDialog& d) { d.response(Gtk::RESPONSE_CANCEL); });
    EXPECT_EQ(shell::ShowSaveDialog(dialogs, "另存为", "JPG文件(.JPG)", "JPG"), "");
}

TEST(DialogGui, WarningIsAModalBoxWithOneButton) {
    platform::gtk::GtkUi ui;
    platform::gtk::GtkDialogs dialogs;
    std::string title, text;
    Gtk::MessageType type = Gtk::MESSAGE_OTHER;
    bool modal = false;
    whenShown<Gtk::MessageDialog>([&](Gtk::MessageDialog& d) {
        title = d.get_title();
        text = d.property_text().get_value();
        type = d.property_message_type().get_value();
        modal = d.get_modal();
        d.response(Gtk::RESPONSE_OK);
    });
    dialogs.warn("保存出错 No space left on device", "系统提示");
    EXPECT_EQ(title, "系统提示");
    EXPECT_EQ(text, "保存出错 No space left on device");
    EXPECT_EQ(type, Gtk::MESSAGE_WARNING);
    EXPECT_TRUE(modal);
}

// Offers `uris` (as a file list) or `text` on the clipboard and hands GTK's own
// selection data for it to the inner area of a picture box, as a drop does.
void dropOn(platform::IPictureBox& box, const std::vector<std::string>& uris, const std::string& text) {
    auto& widget = dynamic_cast<platform::gtk::GtkPictureBox&>(box);
    Gtk::Widget* inner = widget.get_children().front();
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    GtkSelectionData* data = nullptr;
    if (!uris.empty()) {
        static std::vector<std::string> offered;
        offered = uris;
        const GtkTargetEntry target{const_cast<char*>("text/uri-list"), 0, 0};
        gtk_clipboard_set_with_data(
            clipboard, &target, 1,
            [](GtkClipboard*, GtkSelectionData* sel, guint, gpointer) {
                std::vector<gchar*> list;
                for (auto& u : offered) list.push_back(const_cast<gchar*>(u.c_str()));
                list.push_back(nullptr);
                gtk_selection_data_set_uris(sel, list.data());
            },
            nullptr, nullptr);
        data = gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern("text/uri-list", FALSE));
    } else {
        gtk_clipboard_set_text(clipboard, text.c_str(), -1);
        data = gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern("UTF8_STRING", FALSE));
    }
    ASSERT_NE(data, nullptr);
    g_signal_emit_by_name(inner->gobj(), "drag-data-received", nullptr, 5, 5, data, 0u, GDK_CURRENT_TIME);
    gtk_selection_data_free(data);
}

TEST(DropGui, DroppedFilesOpenTheFirstAndDroppedTextIsNavigated) {
    TempDir pages;
    GuiHarness app;
    dropOn(app.main().pictureBox("Picture2"), {"file:///tmp/first%20one.png", "file:///tmp/second.png"}, "");
    dropOn(app.main().pictureBox("Picture1"), {"file:///tmp/third.png"}, "");
    using Opened = std::vector<std::pair<std::string, platform::ShowCommand>>;
    EXPECT_EQ(app.shell.opened, (Opened{{"/tmp/first one.png", platform::ShowCommand::Normal},
                                        {"/tmp/third.png", platform::ShowCommand::Normal}}));

    const std::string page = support::writePage(pages, "dropped.html", "<html><body>dropped</body></html>");
    const int before = app.captureBrowserPages;
    dropOn(app.main().pictureBox("Picture2"), {}, page);
    ASSERT_TRUE(app.waitFor([&] { return app.captureBrowserPages > before; }, 10000));
    EXPECT_EQ(app.main().textBox("Text1").text(), "http://www.Vemo.example");  // the address box is not touched
    EXPECT_EQ(app.road().viewer().current(), nullptr);
    EXPECT_FALSE(app.main().pictureBox("Picture1").visible());
}

}  // namespace
