// Sheets and confirmations of the screens.
//
// Sheet: a modal window over the window of the widget that opens it. It opens with the focus on the first field of
// its form (not on a button of its heading). Escape cancels (closes) it unless dismissal is disabled; a window whose closing must wait for running work disables dismissal and enables it again. Sheets are
// made with Sheet::open() and delete themselves once hidden; work that outlives a sheet holds a shared state object,
// never the sheet.
//
// confirm(): the question before a destructive or replacing action (AdwMessageDialog): "Отмена" (Escape) and the
// action's button, marked destructive when asked.
//
// Sheets and questions belong to the workspace they were opened in: when it changes (a sign-out, forced or not, a
// depot switch, the demo, another sign-in), every one of them over the window closes, whatever its dismissal
// setting, and a question counts as declined. The window that hosts the workspace asks for this once
// (closeSheetsOnWorkspaceChange); work a sheet started goes on through its shared state and finds the workspace gone.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>

#include "model/app_model.h"

namespace dorvik {

class Sheet : public Gtk::Window {
 public:
  // A new sheet over the window of `anchor`, `width` × `height` at first (-1: natural size).
  static Sheet* open(Gtk::Widget& anchor, const std::string& title, int width, int height);
  ~Sheet() override;

  void setContent(Gtk::Widget& content);
  // When false, Escape and the window's close button do nothing (running work decides when it closes).
  void setDismissible(bool dismissible) { dismissible_ = dismissible; }
  bool dismissible() const { return dismissible_; }
  // Closes the sheet whatever the dismissal setting.
  void dismiss();
  // Emitted once, when the sheet goes away (closed by any means).
  sigc::signal<void()>& signalClosed() { return closed_; }

 private:
  Sheet(const std::string& title, int width, int height);
  bool dismissible_ = true;
  bool closing_ = false;
  bool focusPlaced_ = false;
  sigc::signal<void()> closed_;
};

// Asks `heading` with `body` over the window of `anchor`; `onConfirm` runs only when the action's button is pressed,
// `onDismiss` (when given) on any other end of the question: "Отмена", Escape, the dialog closed.
void confirm(Gtk::Widget& anchor, const std::string& heading, const std::string& body, const std::string& action,
             bool destructive, std::function<void()> onConfirm, std::function<void()> onDismiss = {});

// Closes every sheet and question open over `window`, those opened from sheets included.
void closeSheetsOver(Gtk::Window& window);
// The number of sheets and questions open over `window`.
int sheetsOver(Gtk::Window& window);
// Closes them at every change of the model's workspace, for as long as the connection lasts.
[[nodiscard]] AppModel::Connection closeSheetsOnWorkspaceChange(Gtk::Window& window, AppModel& model);

}  // namespace dorvik
