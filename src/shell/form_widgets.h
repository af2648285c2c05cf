// The widgets of the form toolkit: input rows over an edited object, the editor sheets' footer, and the button
// with a symbol and a title that screens put beside them.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"
#include "shell/toolkit/form.h"

typedef struct _AdwPreferencesGroup AdwPreferencesGroup;

namespace dorvik {

// The input rows made by addValueFields, good while their group exists: a member that the editor changed itself
// (not through its row) is shown again with refresh().
class ValueFieldRows {
 public:
  // Shows the member `key` as `value` now holds it, without writing the shown text back.
  void refresh(const JSONValue& value, std::string_view key) const;
  // The input widgets, in the order of the fields.
  std::vector<GtkWidget*> widgets() const;

 private:
  friend ValueFieldRows addValueFields(AdwPreferencesGroup*, const std::vector<FieldSpec>&, std::shared_ptr<JSONValue>);
  struct Row {
    FieldSpec field;
    GtkWidget* widget = nullptr;
  };
  std::vector<Row> rows_;
  std::shared_ptr<bool> quiet_ = std::make_shared<bool>(false);
};

// Adds one input row per field to `group`, bound to the shared edited object: text, number and long-text rows
// write the typed text, toggles a Boolean; every other member of the object is kept.
ValueFieldRows addValueFields(AdwPreferencesGroup* group, const std::vector<FieldSpec>& fields,
                              std::shared_ptr<JSONValue> value);

// Rows of a grouped form (AdwPreferencesGroup). A group shows its rows in a list and puts every other widget
// below the list, so what has its place among the rows is a row itself.
// A text among the rows: wrapped, secondary by default, read by screen readers, not a stop for the keyboard.
GtkWidget* noteRow(const std::string& text, bool secondary = true);
// A text below a group's rows (between its buttons).
GtkWidget* noteLabel(const std::string& text, bool secondary = true);
// A labelled value: the title, and at the end of the row the value (selectable); `value` gets the value's label.
GtkWidget* valueRow(const std::string& title, const std::string& text, GtkWidget** value = nullptr);
// A row that leads elsewhere when activated (a click, Return): the title after an optional icon.
GtkWidget* linkRow(const std::string& title, const std::string& iconName, std::function<void()> activated);

// A long-text field: its title as a caption over a multi-line editor at least 85 px high, named by the title for
// screen readers. Tab moves the focus on instead of typing a tab character.
struct LongTextField {
  Gtk::Box* column = nullptr;  // managed: the caller places it
  Gtk::TextView* editor = nullptr;
};
LongTextField longTextField(const std::string& title);

// The bottom bar of an editor sheet: "Отмена" (Escape) and the save button (Return), the latter disabled while
// busy.
class EditorFooter : public Gtk::Box {
 public:
  EditorFooter(const std::string& title, std::function<void()> save, std::function<void()> dismiss);
  void setBusy(bool busy);

 private:
  std::function<void()> save_, dismiss_;
  Gtk::Button cancel_{"Отмена"};
  Gtk::Button saveButton_;
  bool busy_ = false;
};

// A managed button showing the symbol's icon before its title.
Gtk::Button* symbolButton(const std::string& title, const std::string& symbol);

}  // namespace dorvik
