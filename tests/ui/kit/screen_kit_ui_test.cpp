// The pieces every screen is built from, under a display: the record table's in-place updates and its selection
// mirrored by identity, the sheet's Escape and disabled dismissal, and the date picker's Moscow days.
#include <gtest/gtest.h>
#include <gtkmm.h>

#include "core/base/dorvik_date.h"
#include "shell/date_picker.h"
#include "shell/record_table.h"
#include "shell/sheet.h"
#include "support/ui_helpers.h"

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

// From the keyboard a table is one Tab stop with arrows inside it; Shift+F10 and the Menu key ask for the focused
// row's context menu, as a right click does; a screen reader reads a row as its texts.
TEST_F(ScreenKit, TableIsOneTabStopWithArrowsInsideAndAContextMenuFromTheKeyboard) {
  using dorvik::testing::focusIn;
  using dorvik::testing::isWithin;
  using dorvik::testing::sendKey;
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  auto* before = Gtk::make_managed<Gtk::Button>("Обновить");
  auto* table = Gtk::make_managed<RecordTable>(RecordTable::Selection::multiple);
  table->addColumn("Адрес", [](const Record& r) { return r.value["address"].string(); });
  table->addButtonColumn("", "Изменить", [](const Record&) {});
  auto* after = Gtk::make_managed<Gtk::Button>("Экспорт");
  box->append(*before);
  box->append(*table);
  box->append(*after);
  window_->set_child(*box);
  window_->present();
  table->setRows(orders({{"a", "Тверская, 1"}, {"b", "Арбат, 2"}, {"c", "Мира, 3"}}));
  std::vector<std::optional<Record>> menus;
  table->signalContextMenu().connect([&](double x, double y) { menus.push_back(table->rowAt(x, y)); });
  spin();
  GtkWidget* window = GTK_WIDGET(window_->gobj());
  GtkWidget* tableWidget = GTK_WIDGET(table->gobj());

  before->grab_focus();
  ASSERT_TRUE(sendKey(window, GDK_KEY_Tab));
  EXPECT_TRUE(isWithin(focusIn(window), tableWidget)) << "Tab enters the table";
  ASSERT_TRUE(sendKey(window, GDK_KEY_Down));
  ASSERT_TRUE(sendKey(window, GDK_KEY_Down));
  GtkWidget* onRow = focusIn(window);
  ASSERT_TRUE(sendKey(window, GDK_KEY_F10, GDK_SHIFT_MASK));
  ASSERT_TRUE(sendKey(window, GDK_KEY_Menu));
  ASSERT_EQ(menus.size(), 2u);
  ASSERT_TRUE(menus[0] && menus[1]);
  EXPECT_EQ(menus[0]->id(), "c") << "the menu of the row the arrows reached";
  EXPECT_EQ(menus[1]->id(), "c");
  EXPECT_EQ(table->selectedIds(), std::set<std::string>{"c"});
  GtkWidget* rowWidget = onRow;  // the focus is on the row or on a button in it
  while (gtk_widget_get_parent(rowWidget) && !GTK_IS_LIST_VIEW(gtk_widget_get_parent(rowWidget)))
    rowWidget = gtk_widget_get_parent(rowWidget);
  EXPECT_EQ(gtk_test_accessible_check_property(GTK_ACCESSIBLE(rowWidget), GTK_ACCESSIBLE_PROPERTY_LABEL, "Мира, 3"),
            nullptr)
      << "the row is read as its texts";

  ASSERT_TRUE(sendKey(window, GDK_KEY_Tab));
  EXPECT_EQ(focusIn(window), GTK_WIDGET(after->gobj())) << "Tab leaves the table in one step";
  ASSERT_TRUE(sendKey(window, GDK_KEY_Tab, GDK_SHIFT_MASK));
  EXPECT_EQ(focusIn(window), onRow) << "and comes back to the row it left";
  ASSERT_TRUE(sendKey(window, GDK_KEY_Tab, GDK_SHIFT_MASK));
  EXPECT_EQ(focusIn(window), GTK_WIDGET(before->gobj()));
  EXPECT_FALSE(sendKey(window, GDK_KEY_Menu)) << "outside the table the key is not the table's";
  EXPECT_EQ(menus.size(), 2u);
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

// The calendar's parts as the user meets them: its paging buttons in order (month back, month on, year back,
// year on), and the day label reading `day` (of the shown month, or of a neighbouring one).
std::vector<GtkWidget*> pagingButtons(Gtk::Calendar& calendar) {
  std::vector<GtkWidget*> buttons;
  dorvik::testing::findWidget(GTK_WIDGET(calendar.gobj()), [&](GtkWidget* w) {
    if (GTK_IS_BUTTON(w)) buttons.push_back(w);
    return false;
  });
  return buttons;
}
GtkWidget* dayLabel(Gtk::Calendar& calendar, const std::string& day, bool otherMonth) {
  return dorvik::testing::findWidget(GTK_WIDGET(calendar.gobj()), [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && gtk_widget_has_css_class(w, "day-number") &&
           gtk_widget_has_css_class(w, "other-month") == otherMonth && day == gtk_label_get_text(GTK_LABEL(w));
  });
}
// A click on a label of the calendar: the press as the calendar's own gestures receive it.
void clickOn(Gtk::Calendar& calendar, GtkWidget* label) {
  graphene_point_t at;
  graphene_point_t centre = GRAPHENE_POINT_INIT(gtk_widget_get_width(label) / 2.0f, gtk_widget_get_height(label) / 2.0f);
  ASSERT_TRUE(gtk_widget_compute_point(label, GTK_WIDGET(calendar.gobj()), &centre, &at));
  GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(calendar.gobj()));
  for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
    auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
    if (GTK_IS_GESTURE_CLICK(controller)) g_signal_emit_by_name(controller, "pressed", 1, double(at.x), double(at.y));
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  spin();
}

// Run with LANG=en_US.UTF-8: the calendar still speaks Russian, and so do GTK's own texts.
TEST_F(ScreenKit, DatePickerPicksOnlyWhatTheUserPicksAndSpeaksRussian) {
  auto* picker = Gtk::make_managed<MoscowDatePicker>();
  window_->set_child(*picker);
  window_->present();
  std::vector<std::string> picked;
  picker->signalPicked().connect([&](MoscowDatePicker::TimePoint t) {
    EXPECT_EQ(t, DorvikDate::parse(DorvikDate::day(t)) + std::chrono::hours(12)) << "noon in Moscow";
    picked.push_back(DorvikDate::day(t));
  });
  // 22:30 UTC on the 21st is already the 22nd in Moscow.
  picker->setDate(DorvikDate::parse("2026-09-22") + std::chrono::minutes(90));
  EXPECT_EQ(picker->get_label(), "22.09.2026");
  auto* calendar = dynamic_cast<Gtk::Calendar*>(picker->get_popover()->get_child());
  ASSERT_NE(calendar, nullptr);

  picker->popup();
  spin();
  GtkWidget* root = GTK_WIDGET(calendar->gobj());
  EXPECT_NE(dorvik::testing::findLabel(root, "Пн"), nullptr) << "Russian weekday names, the week from Monday";
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(dorvik::testing::findWidget(
                root, [](GtkWidget* w) { return gtk_widget_has_css_class(w, "day-name"); }))),
            std::string("Пн"));
  EXPECT_NE(dorvik::testing::findLabel(root, "Сентябрь"), nullptr) << "the month's Russian name";
  EXPECT_STREQ(g_dgettext("gtk40", "Show Text"), "Показать текст") << "GTK's own texts";

  // Paging never picks, whatever it does to the calendar's own day.
  const std::vector<GtkWidget*> paging = pagingButtons(*calendar);
  ASSERT_EQ(paging.size(), 4u);
  g_signal_emit_by_name(paging[1], "clicked");
  g_signal_emit_by_name(paging[3], "clicked");
  spin();
  EXPECT_TRUE(picked.empty());
  EXPECT_EQ(picker->get_label(), "22.09.2026");
  EXPECT_TRUE(picker->get_popover()->get_visible()) << "paging keeps the calendar open";
  EXPECT_EQ(calendar->get_date().get_month(), 10);
  EXPECT_EQ(calendar->get_date().get_year(), 2027);

  // Closed without a pick: the next opening shows the button's day again.
  picker->popdown();
  spin();
  picker->popup();
  spin();
  EXPECT_EQ(calendar->get_date().format("%F"), "2026-09-22");

  // A click on a day picks it, the selected one included, and closes the calendar.
  clickOn(*calendar, dayLabel(*calendar, "22", false));
  EXPECT_EQ(picked, std::vector<std::string>{"2026-09-22"});
  EXPECT_FALSE(picker->get_popover()->get_visible());
  picker->popup();
  spin();
  g_signal_emit_by_name(paging[1], "clicked");  // October 2026
  spin();
  clickOn(*calendar, dayLabel(*calendar, "5", false));
  picker->popup();
  spin();
  g_signal_emit_by_name(paging[1], "clicked");  // November 2026, from the 5th of October
  spin();
  clickOn(*calendar, dayLabel(*calendar, "30", true));  // the last days of October lead November's first week
  EXPECT_EQ(picked, (std::vector<std::string>{"2026-09-22", "2026-10-05", "2026-10-30"}));
  EXPECT_EQ(picker->get_label(), "30.10.2026");

  // Return on the calendar's days picks the day; on a paging button it pages.
  picker->popup();
  spin();
  gtk_widget_grab_focus(paging[0]);
  EXPECT_TRUE(dorvik::testing::sendKey(GTK_WIDGET(window_->gobj()), GDK_KEY_Return));
  spin(std::chrono::milliseconds(300));  // a button pressed from the keyboard shows its press for a moment
  EXPECT_EQ(calendar->get_date().get_month(), 9) << "Return on the button pages back";
  EXPECT_EQ(picked.size(), 3u);
  calendar->grab_focus();
  EXPECT_TRUE(dorvik::testing::sendKey(GTK_WIDGET(window_->gobj()), GDK_KEY_Return));
  ASSERT_EQ(picked.size(), 4u);
  EXPECT_EQ(picked.back(), "2026-09-30");
  EXPECT_FALSE(picker->get_popover()->get_visible());
}

}  // namespace
