#include "shell/form_widgets.h"

#include <adwaita.h>

#include "shell/secret_field.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {
struct Binding {
  std::shared_ptr<JSONValue> value;
  FieldSpec field;
  std::shared_ptr<bool> quiet;  // set while the row shows the object's own member again
};

void destroyBinding(gpointer data, GClosure*) { delete static_cast<Binding*>(data); }
}  // namespace

void ValueFieldRows::refresh(const JSONValue& value, std::string_view key) const {
  *quiet_ = true;
  for (const Row& row : rows_) {
    if (row.field.key != key) continue;
    switch (row.field.kind) {
      case FieldSpec::Kind::toggle:
        gtk_check_button_set_active(GTK_CHECK_BUTTON(row.widget), ValueFields::flag(value, row.field));
        break;
      case FieldSpec::Kind::longText:
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(row.widget)),
                                 ValueFields::text(value, row.field).c_str(), -1);
        break;
      default:
        gtk_editable_set_text(GTK_EDITABLE(row.widget), ValueFields::text(value, row.field).c_str());
        break;
    }
  }
  *quiet_ = false;
}

std::vector<GtkWidget*> ValueFieldRows::widgets() const {
  std::vector<GtkWidget*> out;
  for (const Row& row : rows_) out.push_back(row.widget);
  return out;
}

ValueFieldRows addValueFields(AdwPreferencesGroup* group, const std::vector<FieldSpec>& fields,
                              std::shared_ptr<JSONValue> value) {
  ValueFieldRows made;
  const std::shared_ptr<bool>& quiet = made.quiet_;
  for (const FieldSpec& field : fields) {
    switch (field.kind) {
      case FieldSpec::Kind::toggle: {
        GtkWidget* toggle = gtk_check_button_new_with_label(field.title.c_str());
        gtk_check_button_set_active(GTK_CHECK_BUTTON(toggle), ValueFields::flag(*value, field));
        g_signal_connect_data(toggle, "toggled", callback([](GtkCheckButton* button, gpointer data) {
                                auto* b = static_cast<Binding*>(data);
                                if (*b->quiet) return;
                                ValueFields::setFlag(*b->value, b->field, gtk_check_button_get_active(button));
                              }),
                              new Binding{value, field, quiet}, destroyBinding, GConnectFlags(0));
        adw_preferences_group_add(group, toggle);
        made.rows_.push_back({field, toggle});
        break;
      }
      case FieldSpec::Kind::longText: {
        LongTextField longText = longTextField(field.title);
        GtkWidget* editor = GTK_WIDGET(longText.editor->gobj());
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor));
        gtk_text_buffer_set_text(buffer, ValueFields::text(*value, field).c_str(), -1);
        g_signal_connect_data(buffer, "changed", callback([](GtkTextBuffer* b, gpointer data) {
                                auto* binding = static_cast<Binding*>(data);
                                if (*binding->quiet) return;
                                GtkTextIter start, end;
                                gtk_text_buffer_get_bounds(b, &start, &end);
                                gchar* text = gtk_text_buffer_get_text(b, &start, &end, FALSE);
                                ValueFields::setText(*binding->value, binding->field, text);
                                g_free(text);
                              }),
                              new Binding{value, field, quiet}, destroyBinding, GConnectFlags(0));
        adw_preferences_group_add(group, GTK_WIDGET(longText.column->gobj()));
        made.rows_.push_back({field, editor});
        break;
      }
      case FieldSpec::Kind::text:
      case FieldSpec::Kind::number:
      case FieldSpec::Kind::secret: {
        GtkWidget* row = field.kind == FieldSpec::Kind::secret ? adw_password_entry_row_new() : adw_entry_row_new();
        if (field.kind == FieldSpec::Kind::secret) keepSecret(row);
        adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), field.title.c_str());
        // Return in the field presses the window's default button (an editor's save).
        if (ADW_IS_ENTRY_ROW(row)) adw_entry_row_set_activates_default(ADW_ENTRY_ROW(row), TRUE);
        gtk_editable_set_text(GTK_EDITABLE(row), ValueFields::text(*value, field).c_str());
        g_signal_connect_data(row, "changed", callback([](GtkEditable* editable, gpointer data) {
                                auto* b = static_cast<Binding*>(data);
                                if (*b->quiet) return;
                                ValueFields::setText(*b->value, b->field, secretText(GTK_WIDGET(editable)));
                              }),
                              new Binding{value, field, quiet}, destroyBinding, GConnectFlags(0));
        adw_preferences_group_add(group, row);
        made.rows_.push_back({field, row});
        break;
      }
    }
  }
  return made;
}

GtkWidget* noteRow(const std::string& text, bool secondary) {
  GtkWidget* row = adw_preferences_row_new();
  gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), noteLabel(text, secondary));
  gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), FALSE);
  gtk_widget_set_focusable(row, FALSE);
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), text.c_str());  // what the row is found by
  gtk_accessible_update_property(GTK_ACCESSIBLE(row), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
  return row;
}

GtkWidget* noteLabel(const std::string& text, bool secondary) {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_widget_set_margin_top(label, 10);
  gtk_widget_set_margin_bottom(label, 10);
  gtk_widget_set_margin_start(label, 12);
  gtk_widget_set_margin_end(label, 12);
  if (secondary) gtk_widget_add_css_class(label, "dim-label");
  return label;
}

GtkWidget* valueRow(const std::string& title, const std::string& text, GtkWidget** value) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title.c_str());
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_widget_add_css_class(label, "dim-label");
  gtk_label_set_selectable(GTK_LABEL(label), TRUE);
  adw_action_row_add_suffix(ADW_ACTION_ROW(row), label);
  if (value) *value = label;
  return row;
}

GtkWidget* linkRow(const std::string& title, const std::string& iconName, std::function<void()> activated) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title.c_str());
  if (!iconName.empty()) adw_action_row_add_prefix(ADW_ACTION_ROW(row), gtk_image_new_from_icon_name(iconName.c_str()));
  adw_action_row_add_suffix(ADW_ACTION_ROW(row), gtk_image_new_from_icon_name("go-next-symbolic"));
  gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), TRUE);
  auto* handler = new std::function<void()>(std::move(activated));
  g_signal_connect_data(
      row, "activated", callback([](AdwActionRow*, gpointer data) { (*static_cast<std::function<void()>*>(data))(); }),
      handler, [](gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); }, GConnectFlags(0));
  return row;
}

LongTextField longTextField(const std::string& title) {
  LongTextField made;
  made.column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
  made.column->set_margin_top(6);
  auto* caption = Gtk::make_managed<Gtk::Label>(title);
  caption->set_xalign(0);
  caption->add_css_class("caption");
  caption->add_css_class("dim-label");
  made.editor = Gtk::make_managed<Gtk::TextView>();
  made.editor->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
  made.editor->set_accepts_tab(false);
  // A long text scrolls inside its field: the field grows with the text up to a few lines, never the sheet.
  auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroll->set_min_content_height(85);
  scroll->set_max_content_height(200);
  scroll->set_propagate_natural_height(true);
  scroll->set_child(*made.editor);
  scroll->add_css_class("card");
  // The text keeps the inset of the entry rows instead of touching the card's edge.
  made.editor->set_left_margin(12);
  made.editor->set_right_margin(12);
  made.editor->set_top_margin(10);
  made.editor->set_bottom_margin(10);
  setAccessibleLabel(*made.editor, title);
  made.column->append(*caption);
  made.column->append(*scroll);
  return made;
}

EditorFooter::EditorFooter(const std::string& title, std::function<void()> save, std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8), save_(std::move(save)), dismiss_(std::move(dismiss)) {
  set_margin(20);
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  append(*space);
  append(cancel_);
  saveButton_.set_label(title);
  saveButton_.add_css_class("suggested-action");
  append(saveButton_);
  cancel_.signal_clicked().connect([this] {
    if (dismiss_) dismiss_();
  });
  saveButton_.signal_clicked().connect([this] {
    if (!busy_ && save_) save_();
  });
  // The save button is its window's default: Return in a field of the form presses it (unless it is busy).
  makeDefaultOnMap(saveButton_);
  auto controller = Gtk::ShortcutController::create();
  controller->set_scope(Gtk::ShortcutScope::GLOBAL);
  controller->add_shortcut(
      Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
                            Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                              if (dismiss_) dismiss_();
                              return true;
                            })));
  controller->add_shortcut(
      Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(GDK_KEY_Return),
                            Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                              if (busy_ || !save_) return false;
                              save_();
                              return true;
                            })));
  add_controller(controller);
}

void EditorFooter::setBusy(bool busy) {
  busy_ = busy;
  saveButton_.set_sensitive(!busy);
}

Gtk::Button* symbolButton(const std::string& title, const std::string& symbol) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon(symbol)).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), title.c_str());
  gtk_button_set_child(button->gobj(), content);
  return button;
}

}  // namespace dorvik
