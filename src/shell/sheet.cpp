#include "shell/sheet.h"

#include <adwaita.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {
Gtk::Window* windowOf(Gtk::Widget& widget) { return dynamic_cast<Gtk::Window*>(widget.get_root()); }

// The sheets and questions shown now (main thread only).
std::set<GtkWindow*>& shown() {
  static std::set<GtkWindow*> windows;
  return windows;
}

bool over(GtkWindow* shownWindow, GtkWindow* window) {
  for (GtkWindow* parent = gtk_window_get_transient_for(shownWindow); parent;
       parent = gtk_window_get_transient_for(parent)) {
    if (parent == window) return true;
  }
  return false;
}

// The first field of a form under `widget`, in reading order: a form row that takes the focus, or a text field.
GtkWidget* firstField(GtkWidget* widget) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
    if (!gtk_widget_get_mapped(child) || !gtk_widget_is_sensitive(child)) continue;
    const bool row = ADW_IS_PREFERENCES_ROW(child) && (ADW_IS_ENTRY_ROW(child) || gtk_widget_get_focusable(child));
    const bool text = GTK_IS_EDITABLE(child) || (GTK_IS_TEXT_VIEW(child) && gtk_text_view_get_editable(GTK_TEXT_VIEW(child)));
    if (row || text) return child;
    if (GtkWidget* inner = firstField(child)) return inner;
  }
  return nullptr;
}

// What a window puts the focus on when it opens by itself: its first control in Tab order, which over a form is a
// button of its heading (an editor's "Удалить запись"). A plain button, not a part of a picker or a form row.
bool headingButton(GtkWidget* focus) {
  if (!focus) return true;
  GtkWidget* parent = gtk_widget_get_parent(focus);
  return GTK_IS_BUTTON(focus) && !(parent && (GTK_IS_DROP_DOWN(parent) || GTK_IS_MENU_BUTTON(parent))) &&
         !gtk_widget_get_ancestor(focus, ADW_TYPE_PREFERENCES_ROW);
}

std::vector<GtkWindow*> shownOver(Gtk::Window& window) {
  std::vector<GtkWindow*> found;
  for (GtkWindow* candidate : shown())
    if (over(candidate, window.gobj())) found.push_back(candidate);
  return found;
}
}  // namespace

Sheet::Sheet(const std::string& title, int width, int height) {
  set_title(title);
  set_modal(true);
  set_hide_on_close(true);
  set_default_size(width, height);
  // Part of the main window's content: the text size of the settings applies here too.
  add_css_class("dorvik-sheet");
  auto controller = Gtk::ShortcutController::create();
  controller->set_scope(Gtk::ShortcutScope::MANAGED);
  controller->add_shortcut(
      Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
                            Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                              if (dismissible_) close();
                              return true;
                            })));
  add_controller(controller);
  signal_close_request().connect([this] { return !dismissible_ && !closing_; }, false);
  // A sheet with a form opens with the focus on its first field, once it has taken its first focus.
  signal_map().connect([this] {
    if (focusPlaced_) return;
    focusPlaced_ = true;
    Glib::signal_idle().connect_once(sigc::track_object(
        [this] {
          GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(gobj()));
          if (!headingButton(focus)) return;
          if (GtkWidget* field = firstField(GTK_WIDGET(gobj()))) gtk_widget_grab_focus(field);
        },
        *this));
  });
  shown().insert(gobj());
  signal_hide().connect([this] {
    shown().erase(gobj());
    closed_.emit();
    // Deleted from the main loop: the hide handler may still be running inside GTK.
    Glib::signal_idle().connect_once([this] { delete this; });
  });
}

Sheet* Sheet::open(Gtk::Widget& anchor, const std::string& title, int width, int height) {
  auto* sheet = new Sheet(title, width, height);
  if (Gtk::Window* parent = windowOf(anchor)) {
    sheet->set_transient_for(*parent);
    // A sheet never outlives the window it belongs to.
    parent->signal_hide().connect(sigc::mem_fun(*sheet, &Sheet::dismiss));
    if (auto app = parent->get_application()) sheet->set_application(app);
  }
  return sheet;
}

Sheet::~Sheet() { shown().erase(gobj()); }

void Sheet::setContent(Gtk::Widget& content) { set_child(content); }

void Sheet::dismiss() {
  closing_ = true;
  close();
}

void confirm(Gtk::Widget& anchor, const std::string& heading, const std::string& body, const std::string& action,
             bool destructive, std::function<void()> onConfirm, std::function<void()> onDismiss) {
  GtkWindow* parent = nullptr;
  if (Gtk::Window* window = windowOf(anchor)) parent = window->gobj();
  GtkWidget* dialog = adw_message_dialog_new(parent, heading.c_str(), body.empty() ? nullptr : body.c_str());
  AdwMessageDialog* message = ADW_MESSAGE_DIALOG(dialog);
  adw_message_dialog_add_response(message, "cancel", "Отмена");
  adw_message_dialog_add_response(message, "confirm", action.c_str());
  if (destructive) adw_message_dialog_set_response_appearance(message, "confirm", ADW_RESPONSE_DESTRUCTIVE);
  adw_message_dialog_set_default_response(message, "cancel");
  adw_message_dialog_set_close_response(message, "cancel");
  using Answers = std::pair<std::function<void()>, std::function<void()>>;
  auto* handler = new Answers(std::move(onConfirm), std::move(onDismiss));
  g_signal_connect_data(
      dialog, "response", callback([](AdwMessageDialog*, const char* response, gpointer data) {
        auto* answers = static_cast<Answers*>(data);
        const bool confirmed = g_strcmp0(response, "confirm") == 0;
        const std::function<void()>& answer = confirmed ? answers->first : answers->second;
        if (answer) answer();
      }),
      handler, [](gpointer data, GClosure*) { delete static_cast<Answers*>(data); }, GConnectFlags(0));
  shown().insert(GTK_WINDOW(dialog));
  g_signal_connect(dialog, "destroy", callback([](GtkWidget* widget, gpointer) { shown().erase(GTK_WINDOW(widget)); }),
                   nullptr);
  gtk_window_present(GTK_WINDOW(dialog));
}

void closeSheetsOver(Gtk::Window& window) {
  // The innermost first: a sheet's own questions and sheets go before it.
  std::vector<GtkWindow*> found = shownOver(window);
  auto depth = [](GtkWindow* each) {
    int parents = 0;
    for (GtkWindow* parent = gtk_window_get_transient_for(each); parent; parent = gtk_window_get_transient_for(parent))
      ++parents;
    return parents;
  };
  std::stable_sort(found.begin(), found.end(), [&](GtkWindow* a, GtkWindow* b) { return depth(a) > depth(b); });
  for (GtkWindow* each : found) {
    if (!shown().count(each)) continue;
    if (auto* sheet = dynamic_cast<Sheet*>(Glib::wrap(each, false))) {
      sheet->dismiss();
    } else {
      gtk_window_close(each);  // a question: answered with its close response, "Отмена"
    }
  }
}

int sheetsOver(Gtk::Window& window) { return static_cast<int>(shownOver(window).size()); }

AppModel::Connection closeSheetsOnWorkspaceChange(Gtk::Window& window, AppModel& model) {
  return model.observe([&window](AppModel::Property property) {
    if (property == AppModel::Property::generation) closeSheetsOver(window);
  });
}

}  // namespace dorvik
