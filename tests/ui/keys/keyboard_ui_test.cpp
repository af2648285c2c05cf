// The keyboard and the popovers, run under LANG=en_US.UTF-8. Over the demo workspace: the sidebar is one Tab stop
// whose rows open their page only on Return; a page's table is one Tab stop with arrows inside, between its
// toolbar and what follows; Shift+F10 and the Menu key open the focused row's context menu; Ctrl+F goes to the
// page's search field; the map is one Tab stop before its zoom buttons and passes the window's keys on. The date
// picker picks only what the user picks, and speaks Russian. The map's keys are typed on the display for real.
#include <gtest/gtest.h>
#include <gtkmm.h>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "core/engine/planner_engine.h"
#include "map/map_surface.h"
#include "map/map_web_view.h"
#include "shell/date_picker.h"
#include "shell/window_undo.h"
#include "support/async_helpers.h"
#include "support/map_stand_in.h"
#include "support/window_fixture.h"
#include "widgets/gtk_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

class KeyboardWindow : public WindowFixture<> {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    async::runBlocking(model->loadPreview());
    openMainWindow();
  }
  GtkWidget* sidebarRow(PanelPage page) {
    const std::string raw(rawValue(page));
    return findWidget(root(), [&](GtkWidget* w) { return GTK_IS_LIST_BOX_ROW(w) && raw == gtk_widget_get_name(w); });
  }
  // Opens a page as a click on its sidebar row does, and lets it load.
  void open(PanelPage page) {
    GtkWidget* row = sidebarRow(page);
    ASSERT_NE(row, nullptr) << rawValue(page);
    g_signal_emit_by_name(row, "activate");
    spinUntil([&] { return model->page() == page; });
    spin(std::chrono::milliseconds(300));
  }
  bool tab(GdkModifierType modifiers = GdkModifierType(0)) { return sendKey(root(), GDK_KEY_Tab, modifiers); }
  GtkWidget* focus() { return focusIn(root()); }
};

using DatePickerWindow = WindowFixture<Gtk::Window>;

GtkWidget* columnView(GtkWidget* root) {
  return findWidget(root, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w) && gtk_widget_get_mapped(w); });
}
// The row of a table that holds `widget` (a row, or a control in one).
GtkWidget* tableRow(GtkWidget* widget) {
  while (widget && gtk_widget_get_parent(widget) && !GTK_IS_LIST_VIEW(gtk_widget_get_parent(widget)))
    widget = gtk_widget_get_parent(widget);
  return widget;
}
GtkWidget* shownPopoverMenu(GtkWidget* root) {
  return findWidget(root, [](GtkWidget* w) { return GTK_IS_POPOVER_MENU(w) && gtk_widget_get_visible(w); });
}

// The calendar's parts as the user meets them: its paging buttons in order (month back, month on, year back,
// year on), and the day label reading `day` (of the shown month, or of a neighbouring one).
std::vector<GtkWidget*> pagingButtons(Gtk::Calendar& calendar) {
  std::vector<GtkWidget*> buttons;
  findWidget(GTK_WIDGET(calendar.gobj()), [&](GtkWidget* w) {
    if (GTK_IS_BUTTON(w)) buttons.push_back(w);
    return false;
  });
  return buttons;
}
GtkWidget* dayLabel(Gtk::Calendar& calendar, const std::string& day, bool otherMonth) {
  return findWidget(GTK_WIDGET(calendar.gobj()), [&](GtkWidget* w) {
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
TEST_F(DatePickerWindow, PicksOnlyWhatTheUserPicksAndSpeaksRussian) {
  auto* picker = Gtk::make_managed<MoscowDatePicker>();
  host(*picker, 600, 400);
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
  GtkWidget* days = GTK_WIDGET(calendar->gobj());
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(findWidget(
                days, [](GtkWidget* w) { return gtk_widget_has_css_class(w, "day-name"); }))),
            std::string("Пн"))
      << "Russian weekday names, the week from Monday";
  EXPECT_NE(findLabel(days, "Сентябрь"), nullptr) << "the month's Russian name";
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
  EXPECT_TRUE(sendKey(root(), GDK_KEY_Return));
  // A button pressed from the keyboard shows its press for a moment before it is clicked.
  spinUntil([&] { return !gtk_widget_has_css_class(paging[0], "keyboard-activating"); });
  EXPECT_EQ(calendar->get_date().get_month(), 9) << "Return on the button pages back";
  EXPECT_EQ(picked.size(), 3u);
  calendar->grab_focus();
  EXPECT_TRUE(sendKey(root(), GDK_KEY_Return));
  ASSERT_EQ(picked.size(), 4u);
  EXPECT_EQ(picked.back(), "2026-09-30");
  EXPECT_FALSE(picker->get_popover()->get_visible());
}

}  // namespace

TEST_F(KeyboardWindow, TheSidebarIsOneTabStopAndOnlyReturnOpensAPage) {
  open(PanelPage::history);
  GtkWidget* history = sidebarRow(PanelPage::history);
  GtkWidget* sidebar = gtk_widget_get_parent(history);

  // Tab round the whole window: the sidebar is passed in one stop, entered at the page shown, and no page opens
  // on the way.
  gtk_widget_grab_focus(history);
  int stops = 0;
  for (; stops < 80; ++stops) {
    ASSERT_TRUE(tab());
    if (isWithin(focus(), sidebar)) break;
  }
  EXPECT_EQ(focus(), history) << "the focus comes round to the page shown";
  EXPECT_GT(stops, 3) << "the page's controls are on the way";
  EXPECT_EQ(model->page(), PanelPage::history);
  ASSERT_TRUE(tab(GDK_SHIFT_MASK));
  EXPECT_FALSE(isWithin(focus(), sidebar)) << "Shift+Tab leaves the sidebar in one step";
  ASSERT_TRUE(tab());
  EXPECT_EQ(focus(), history);

  // Arrows move the focus only; Return opens the focused row's page.
  ASSERT_TRUE(sendKey(root(), GDK_KEY_Down));
  ASSERT_TRUE(sendKey(root(), GDK_KEY_Down));
  GtkWidget* focused = focus();
  EXPECT_NE(focused, history);
  EXPECT_TRUE(isWithin(focused, sidebar));
  EXPECT_EQ(model->page(), PanelPage::history);
  EXPECT_EQ(GTK_WIDGET(gtk_list_box_get_selected_row(GTK_LIST_BOX(sidebar))), history) << "the page shown stays marked";
  ASSERT_TRUE(sendKey(root(), GDK_KEY_Return));
  ASSERT_TRUE(model->page());
  EXPECT_EQ(std::string(rawValue(*model->page())), gtk_widget_get_name(focused));
  EXPECT_EQ(GTK_WIDGET(gtk_list_box_get_selected_row(GTK_LIST_BOX(sidebar))), focused);
}

TEST_F(KeyboardWindow, ATableIsOneTabStopBetweenItsToolbarAndWhatFollowsWithItsContextMenuOnTheKeys) {
  open(PanelPage::orders);
  GtkWidget* table = columnView(root());
  ASSERT_NE(table, nullptr);
  GtkWidget* search = findWidget(root(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w); });
  ASSERT_NE(search, nullptr);

  // From the toolbar's search field Tab reaches the table's rows; arrows move between them.
  gtk_widget_grab_focus(search);
  int stops = 0;
  while (!isWithin(focus(), table) && stops++ < 20) ASSERT_TRUE(tab());
  ASSERT_TRUE(isWithin(focus(), table)) << "the rows can be reached";
  ASSERT_TRUE(sendKey(root(), GDK_KEY_Down));
  GtkWidget* row = tableRow(focus());
  GtkWidget* second = gtk_widget_get_next_sibling(gtk_widget_get_first_child(gtk_widget_get_parent(row)));
  EXPECT_EQ(row, second) << "Down moves to the second row";
  EXPECT_EQ(gtk_test_accessible_has_property(GTK_ACCESSIBLE(row), GTK_ACCESSIBLE_PROPERTY_LABEL), TRUE)
      << "a screen reader reads the row";

  // Shift+F10 and the Menu key open the row's context menu, as a right click does.
  ASSERT_TRUE(sendKey(root(), GDK_KEY_F10, GDK_SHIFT_MASK));
  GtkWidget* menu = shownPopoverMenu(root());
  ASSERT_NE(menu, nullptr);
  gtk_popover_popdown(GTK_POPOVER(menu));
  spin();
  EXPECT_EQ(shownPopoverMenu(root()), nullptr);
  EXPECT_EQ(tableRow(focus()), row) << "the closed menu gives the focus back to its row";
  ASSERT_TRUE(sendKey(root(), GDK_KEY_Menu));
  menu = shownPopoverMenu(root());
  ASSERT_NE(menu, nullptr);
  gtk_popover_popdown(GTK_POPOVER(menu));
  spin();

  // Tab leaves the table in one step, and Shift+Tab comes back to the row it left, then to the toolbar.
  ASSERT_TRUE(tab());
  EXPECT_FALSE(isWithin(focus(), table));
  ASSERT_TRUE(tab(GDK_SHIFT_MASK));
  EXPECT_EQ(tableRow(focus()), row);
  ASSERT_TRUE(tab(GDK_SHIFT_MASK));
  EXPECT_FALSE(isWithin(focus(), table)) << "the toolbar is a Shift+Tab away";
}

TEST_F(KeyboardWindow, CtrlFGoesToThePagesSearchField) {
  open(PanelPage::history);
  gtk_widget_grab_focus(sidebarRow(PanelPage::history));
  ASSERT_TRUE(sendKey(root(), GDK_KEY_f, GDK_CONTROL_MASK));
  EXPECT_TRUE(GTK_IS_SEARCH_ENTRY(gtk_widget_get_ancestor(focus(), GTK_TYPE_SEARCH_ENTRY)) ||
              GTK_IS_SEARCH_ENTRY(focus()));
  open(PanelPage::orders);
  gtk_widget_grab_focus(sidebarRow(PanelPage::orders));
  ASSERT_TRUE(sendKey(root(), GDK_KEY_f, GDK_CONTROL_MASK));
  EXPECT_NE(gtk_widget_get_ancestor(focus(), GTK_TYPE_SEARCH_ENTRY), nullptr);
  open(PanelPage::help);
  EXPECT_FALSE(sendKey(root(), GDK_KEY_f, GDK_CONTROL_MASK)) << "a page without a search field";
}

// The map with its page ready (the test's stand-in of the map library), from the keyboard: real key presses on the
// display, which the web view would hand to its page.
class KeyboardMap : public KeyboardWindow {
 protected:
  static void SetUpTestSuite() {
    // Containers run the tests as root, where WebKit's sandbox cannot start. The program never does this.
    if (geteuid() == 0) g_setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", TRUE);
    KeyboardWindow::SetUpTestSuite();
    addMapPageScript(kMapLibraryStandIn);
  }
  // The demo's data under a workspace with a map key.
  void SetUp() override {
    KeyboardWindow::SetUp();
    model->setPreview(false);
    model->setMapConfiguration(JSONValue::object({{"key", "test-key"}}));
  }
  // The shown map once its page is ready, or null.
  TwoGISSurface* readyMap() {
    TwoGISSurface* map = nullptr;
    spinUntil([&] { return (map = widgetOf<TwoGISSurface>(root())) && map->get_mapped() && map->look().controls; },
              std::chrono::seconds(40));
    return map && map->look().controls ? map : nullptr;
  }
};

TEST_F(KeyboardMap, TabLeavesTheMapBothWaysPastItsButtonsAndTheWindowsKeysWorkOnIt) {
  open(PanelPage::planning);
  ASSERT_TRUE(clickButton(root(), "Карта"));
  TwoGISSurface* map = readyMap();
  ASSERT_NE(map, nullptr);
  GtkWidget* surface = GTK_WIDGET(map->gobj());
  GtkWidget* page = map->webView()->widget();
  ASSERT_TRUE(gtk_widget_grab_focus(page));

  // Tab goes on to the window's next control, Shift+Tab comes back to the map, then through its zoom buttons to
  // the control before it.
  ASSERT_TRUE(typeKey(root(), GDK_KEY_Tab));
  ASSERT_NE(focus(), nullptr);
  EXPECT_FALSE(isWithin(focus(), surface)) << G_OBJECT_TYPE_NAME(focus());
  ASSERT_TRUE(typeKey(root(), GDK_KEY_Tab, GDK_SHIFT_MASK));
  EXPECT_EQ(focus(), page) << "the map is one stop";
  std::vector<std::string> passed;
  for (int i = 0; i < 5 && isWithin(focus(), surface); ++i) {
    ASSERT_TRUE(typeKey(root(), GDK_KEY_Tab, GDK_SHIFT_MASK));
    if (isWithin(focus(), surface)) passed.push_back(shownText(focus()));
  }
  EXPECT_EQ(passed, (std::vector<std::string>{"Все точки", "Дальше", "Ближе"}));
  EXPECT_FALSE(isWithin(focus(), surface)) << "the control before the map";

  // The window's undo key reaches the window while the page holds the focus.
  int undone = 0;
  windowUndoStack(*map)->registerUndo("Перемещение точки", [&] { ++undone; });
  ASSERT_TRUE(gtk_widget_grab_focus(page));
  ASSERT_TRUE(typeKey(root(), GDK_KEY_z, GDK_CONTROL_MASK));
  EXPECT_TRUE(spinUntil([&] { return undone == 1; }, std::chrono::seconds(2)));
  EXPECT_EQ(focus(), page);
}

namespace {
// The top of a widget inside a popover, in the coordinates of the window the popover opens over.
double topInWindow(GtkWidget* widget, GtkWidget* popover, GtkWidget* window) {
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(widget, popover, &bounds)) return -1;
  double popoverX = 0, popoverY = 0, windowX = 0, windowY = 0;
  gtk_native_get_surface_transform(GTK_NATIVE(popover), &popoverX, &popoverY);
  gtk_native_get_surface_transform(GTK_NATIVE(window), &windowX, &windowY);
  GdkPopup* popup = GDK_POPUP(gtk_native_get_surface(GTK_NATIVE(popover)));
  return gdk_popup_get_position_y(popup) + popoverY + bounds.origin.y - windowY;
}
}  // namespace

// A row's menu from the keyboard, typed for real, on «Документы», where editing a document has no other keyboard
// path (Return opens its details): Shift+F10 opens the menu below the focused row with the keyboard in it; Escape
// closes it and the row has the focus again; Down and Return choose its second item, and the editor opens with the
// focus on its first field (build/screens/admin-row-menu-keyboard.png, the menu open on that item).
TEST_F(KeyboardWindow, ARowMenuChosenFromTheKeyboardOpensTheEditorOnItsFirstField) {
  open(PanelPage::documents);
  GtkWidget* table = columnView(root());
  ASSERT_NE(table, nullptr);
  gtk_widget_grab_focus(findWidget(root(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w); }));
  for (int stops = 0; !isWithin(focus(), table) && stops < 20; ++stops) ASSERT_TRUE(typeKey(root(), GDK_KEY_Tab));
  GtkWidget* row = tableRow(focus());
  ASSERT_NE(row, nullptr);
  graphene_rect_t rowBounds;
  ASSERT_TRUE(gtk_widget_compute_bounds(row, root(), &rowBounds));

  ASSERT_TRUE(typeKey(root(), GDK_KEY_F10, GDK_SHIFT_MASK));
  GtkWidget* menu = shownPopoverMenu(root());
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(isWithin(focus(), menu)) << "the menu has the keyboard";
  EXPECT_EQ(shownText(focus()), "Открыть");
  EXPECT_GE(topInWindow(focus(), menu, root()), rowBounds.origin.y + rowBounds.size.height - 1)
      << "the menu opens below the row, not over its cells";
  ASSERT_TRUE(typeKey(root(), GDK_KEY_Escape));
  EXPECT_FALSE(gtk_widget_get_visible(menu));
  EXPECT_EQ(tableRow(focus()), row);

  ASSERT_TRUE(typeKey(root(), GDK_KEY_Menu));
  ASSERT_TRUE(gtk_widget_get_visible(menu));
  ASSERT_TRUE(typeKey(root(), GDK_KEY_Down));
  EXPECT_EQ(shownText(focus()), "Изменить");
  saveScreenPNG(root(), "admin-row-menu-keyboard");
  ASSERT_TRUE(typeKey(root(), GDK_KEY_Return));
  GtkWidget* editor = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (editor = findWindow("Изменить · Документы")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return gtk_root_get_focus(GTK_ROOT(editor)) != nullptr; }));
  spin();
  GtkWidget* field = gtk_root_get_focus(GTK_ROOT(editor));
  EXPECT_TRUE(isWithin(field, entryRow(editor, "Название"))) << G_OBJECT_TYPE_NAME(field);
  savePNG(editor, "admin-editor-first-field");
}
