// The pieces every screen is built from, under a display: the record table's in-place updates and its selection
// mirrored by identity, the fixed columns following the text size, the sheet's Escape and disabled dismissal, and
// the secret fields that keep what is typed from assistive technologies.
#include <adwaita.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <cstring>
#include <string_view>

#include "shell/form_widgets.h"
#include "shell/record_table.h"
#include "shell/secret_field.h"
#include "shell/sheet.h"
#include "support/ui_helpers.h"
#include "widgets/gtk_helpers.h"

using namespace dorvik;
using dorvik::testing::spin;

namespace {

std::vector<Record> orders(std::initializer_list<std::pair<const char*, const char*>> rows) {
  std::vector<Record> list;
  for (auto [id, address] : rows) list.emplace_back(JSONValue::object({{"id", id}, {"address", address}}), id);
  return list;
}

class ScreenKit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dorvik::testing::initDisplay(); }
  void SetUp() override {
    window_ = new Gtk::Window();
    window_->set_default_size(600, 400);
  }
  void TearDown() override {
    delete window_;
    spin();
  }
  Gtk::Window* window_ = nullptr;
};

TEST_F(ScreenKit, TableKeepsRowWidgetsAndSelectionAcrossUpdatesAndReportsOnlyTheUsersChoice) {
  auto* table = Gtk::make_managed<RecordTable>(RecordTable::Selection::multiple);
  table->addColumn("Адрес", [](const Record& r) { return r.value["address"].string(); });
  window_->set_child(*table);
  window_->present();
  std::vector<std::set<std::string>> reported;
  table->signalSelectionChanged().connect([&](const std::set<std::string>& ids) { reported.push_back(ids); });

  table->setRows(orders({{"a", "Тверская, 1"}, {"b", "Арбат, 2"}, {"c", "Мира, 3"}}));
  spin();
  auto model = table->view().get_model();
  table->setSelectedIds({"b", "c"});
  EXPECT_TRUE(model->is_selected(1));
  EXPECT_TRUE(model->is_selected(2));
  EXPECT_TRUE(reported.empty()) << "a selection shown from the model is not reported back";

  // A changed first row and a removed last one: "b" stays selected, nothing is reported.
  table->setRows(orders({{"a", "Тверская, 10"}, {"b", "Арбат, 2"}}));
  spin();
  EXPECT_NE(dorvik::testing::findLabel(GTK_WIDGET(table->gobj()), "Тверская, 10"), nullptr) << "refreshed in place";
  EXPECT_EQ(dorvik::testing::findLabel(GTK_WIDGET(table->gobj()), "Тверская, 1"), nullptr);
  EXPECT_TRUE(model->is_selected(1));
  EXPECT_FALSE(model->is_selected(0));
  EXPECT_TRUE(reported.empty());
  // "c" comes back: still selected by identity.
  table->setRows(orders({{"a", "Тверская, 10"}, {"b", "Арбат, 2"}, {"c", "Мира, 3"}}));
  EXPECT_TRUE(model->is_selected(2));

  // The user's click selects one row: reported as identities.
  model->select_item(0, true);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], (std::set<std::string>{"a"}));
  EXPECT_EQ(table->selectedIds(), (std::set<std::string>{"a"}));

  // A new list with no row at its old place: the cells show the new rows, the selection follows "a" to its place.
  table->setRows(orders({{"x", "Лесная, 4"}, {"y", "Садовая, 5"}, {"a", "Тверская, 10"}}));
  spin();
  EXPECT_NE(dorvik::testing::findLabel(GTK_WIDGET(table->gobj()), "Лесная, 4"), nullptr);
  EXPECT_EQ(dorvik::testing::findLabel(GTK_WIDGET(table->gobj()), "Арбат, 2"), nullptr);
  EXPECT_FALSE(model->is_selected(0));
  EXPECT_TRUE(model->is_selected(2));
  EXPECT_EQ(reported.size(), 1u);
}

TEST_F(ScreenKit, SingleSelectionTableStartsWithNothingSelected) {
  auto* table = Gtk::make_managed<RecordTable>(RecordTable::Selection::single);
  table->addColumn("Адрес", [](const Record& r) { return r.value["address"].string(); });
  window_->set_child(*table);
  window_->present();
  table->setRows(orders({{"a", "Тверская, 1"}, {"b", "Арбат, 2"}}));
  spin();
  EXPECT_FALSE(table->view().get_model()->is_selected(0));
  EXPECT_TRUE(table->selectedIds().empty());
  table->setSelectedIds({"a", "b"});
  EXPECT_EQ(table->selectedIds().size(), 1u) << "one row at most";
}

// Password and key fields: assistive technologies read the field's text and receive each insertion (GTK connects
// to the text input's "insert-text" after its own handler); neither carries what was typed until the user shows
// the text. The program reads it through secretText.
TEST_F(ScreenKit, SecretFieldsKeepTheTypedTextFromAssistiveTechnologies) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  auto* entry = Gtk::make_managed<Gtk::PasswordEntry>();
  entry->set_show_peek_icon(true);
  setAccessibleLabel(*entry, "Пароль");
  keepSecret(*entry);
  box->append(*entry);
  GtkWidget* group = adw_preferences_group_new();
  auto edited = std::make_shared<JSONValue>(JSONValue::object({}));
  addValueFields(ADW_PREFERENCES_GROUP(group), {{"token", "Новый ключ", FieldSpec::Kind::secret, false}}, edited);
  gtk_box_append(box->gobj(), group);
  window_->set_child(*box);
  window_->present();
  spin();
  GtkWidget* row = dorvik::testing::entryRow(group, "Новый ключ");
  ASSERT_NE(row, nullptr);

  for (GtkWidget* field : {GTK_WIDGET(entry->gobj()), row}) {
    GtkText* input = GTK_TEXT(gtk_editable_get_delegate(GTK_EDITABLE(field)));
    std::string announced;
    const gulong listener = g_signal_connect_after(
        input, "insert-text",
        G_CALLBACK(+[](GtkEditable*, const char* text, int length, int*, std::string* heard) {
          heard->append(text, length < 0 ? std::strlen(text) : static_cast<std::size_t>(length));
        }),
        &announced);
    gtk_editable_set_text(GTK_EDITABLE(field), "ключ-42");
    int at = 7;
    gtk_editable_insert_text(GTK_EDITABLE(field), "!", 1, &at);
    EXPECT_EQ(secretText(field), "ключ-42!");
    EXPECT_EQ(announced, "") << "no insertion reaches a listener after the input's own";
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(field)), "●●●●●●●●") << "what assistive technologies read";
    EXPECT_EQ(at, 8) << "the position after the inserted text, where the caret goes";
    gtk_text_set_visibility(input, TRUE);
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(field)), "ключ-42!") << "shown on request, read as shown";
    gtk_text_set_visibility(input, FALSE);
    g_signal_handler_disconnect(input, listener);
  }
  EXPECT_EQ((*edited)["token"].string(), "ключ-42!") << "the form keeps what was typed";
  EXPECT_THAT(dorvik::testing::namelessControls(GTK_WIDGET(window_->gobj())), ::testing::IsEmpty())
      << "the show-text buttons have names";
}

// A fixed column is as wide as asked at the desktop's text size and widens with a larger text (the text size of the
// settings), back again when the text is standard once more.
TEST_F(ScreenKit, FixedColumnsFollowTheTextSize) {
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data("window.larger-text { font-size: 130%; }");
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  auto* table = Gtk::make_managed<RecordTable>();
  table->addColumn("Адрес", [](const Record& r) { return r.value["address"].string(); }, {.expand = true});
  table->addColumn("Смены", [](const Record& r) { return r.id(); }, {.width = 80, .numeric = true});
  window_->set_child(*table);
  window_->present();
  table->setRows(orders({{"a", "Тверская, 1"}}));
  spin();
  auto column = std::dynamic_pointer_cast<Gtk::ColumnViewColumn>(table->view().get_columns()->get_object(1));
  ASSERT_TRUE(column);
  window_->add_css_class("larger-text");
  spin();
  EXPECT_GE(column->get_fixed_width(), 100);
  EXPECT_LE(column->get_fixed_width(), 110);
  // A column added now starts at the larger width too.
  table->addColumn("Ставка", [](const Record& r) { return r.id(); }, {.width = 80});
  auto added = std::dynamic_pointer_cast<Gtk::ColumnViewColumn>(table->view().get_columns()->get_object(2));
  EXPECT_EQ(added->get_fixed_width(), column->get_fixed_width());
  window_->remove_css_class("larger-text");
  spin();
  EXPECT_EQ(column->get_fixed_width(), 80);
  EXPECT_EQ(added->get_fixed_width(), 80);
  Gtk::StyleContext::remove_provider_for_display(Gdk::Display::get_default(), provider);
}

// Without a graphics device a new window is drawn with cairo: OpenGL would run on Mesa's software driver, which
// compiles its shaders again for every window, a wait of a quarter to half a second at each one opened.
TEST_F(ScreenKit, WithoutAGraphicsDeviceWindowsAreDrawnWithCairo) {
  if (g_file_test("/dev/dri", G_FILE_TEST_IS_DIR)) GTEST_SKIP() << "this computer has a graphics device";
  const char* chosen = g_getenv("GSK_RENDERER");
  if (chosen && std::string_view(chosen) != "cairo") GTEST_SKIP() << "the renderer was chosen: " << chosen;
  window_->present();
  spin();
  GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window_->gobj()));
  ASSERT_NE(renderer, nullptr);
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(renderer), "GskCairoRenderer");
}

// A screen swapped out (as the sign-in screen is once signed in) takes its default button with it: the window must
// not go on pointing at the freed button, which it would next touch when the default changes.
TEST_F(ScreenKit, AScreenTakenOutTakesItsDefaultButtonWithIt) {
  auto* root = Gtk::make_managed<Gtk::Box>();
  window_->set_child(*root);
  auto* screen = Gtk::make_managed<Gtk::Box>();
  auto* button = Gtk::make_managed<Gtk::Button>("Войти");
  makeDefaultOnMap(*button);
  screen->append(*button);
  root->append(*screen);
  window_->present();
  spin();
  EXPECT_EQ(window_->get_default_widget(), button);
  root->remove(*screen);
  EXPECT_EQ(window_->get_default_widget(), nullptr);
}

TEST_F(ScreenKit, SheetClosesOnEscapeOnlyWhileDismissible) {
  auto* anchor = Gtk::make_managed<Gtk::Label>("Родитель");
  window_->set_child(*anchor);
  window_->present();
  spin();
  Sheet* sheet = Sheet::open(*anchor, "Лист", 400, 300);
  bool closed = false;
  sheet->signalClosed().connect([&] { closed = true; });
  sheet->setContent(*Gtk::make_managed<Gtk::Label>("Содержимое"));
  sheet->present();
  spin();
  EXPECT_EQ(sheet->get_transient_for(), window_);
  EXPECT_TRUE(sheet->get_modal());

  auto escape = [&] {
    sheet->close();
    spin();
  };
  sheet->setDismissible(false);
  escape();
  EXPECT_FALSE(closed) << "running work keeps the sheet";
  sheet->setDismissible(true);
  escape();
  EXPECT_TRUE(closed);
}

}  // namespace

// Names in menus (couriers' vehicle refs) show as they are written: an underscore is no mnemonic mark.
TEST_F(ScreenKit, MenuItemsShowUnderscoresAsWritten) {
  auto menu = Gio::Menu::create();
  menu->append_item(plainMenuItem("ГАЗ_01 _Север_"));
  auto* popover = Gtk::make_managed<Gtk::PopoverMenu>(menu);
  auto* window = new Gtk::Window();
  auto* anchor = Gtk::make_managed<Gtk::Box>();
  window->set_child(*anchor);
  popover->set_parent(*anchor);
  window->present();
  popover->popup();
  spin();
  EXPECT_NE(dorvik::testing::findLabel(GTK_WIDGET(popover->gobj()), "ГАЗ_01 _Север_"), nullptr);
  popover->popdown();
  popover->unparent();
  delete window;
  spin();
}
