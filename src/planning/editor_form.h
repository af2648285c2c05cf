// The shape the planner's editor sheets share: the heading, the grouped form (scrolling when taller than the
// sheet), the red issue line right under it (in view however far the form is scrolled), and the footer ("Отмена"
// on Escape, the save button on Return).
// The form is the sheet's content and goes with it.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <optional>
#include <string>

#include "shell/form_widgets.h"
#include "shell/sheet.h"

typedef struct _AdwPreferencesGroup AdwPreferencesGroup;

namespace dorvik::planning {

class EditorForm : public Gtk::Box {
 public:
  EditorForm(Sheet& sheet, const std::string& heading);

  Sheet& sheet() { return sheet_; }
  AdwPreferencesGroup* group() const { return group_; }
  // Appends a row to the form.
  void addRow(Gtk::Widget& row);
  // Adds the issue line and the footer; the form then is complete.
  void finish(const std::string& saveTitle, std::function<void()> save);

  void showIssue(const std::optional<std::string>& issue);
  void setBusy(bool busy);
  // Closes the sheet, unless it has gone already.
  void dismiss();
  // The sheet has gone (closed by any means).
  bool closed() const { return closed_; }

 private:
  Sheet& sheet_;
  Gtk::ScrolledWindow scroller_;
  AdwPreferencesGroup* group_ = nullptr;
  Gtk::Label issue_;
  EditorFooter* footer_ = nullptr;
  bool closed_ = false;
};

}  // namespace dorvik::planning
