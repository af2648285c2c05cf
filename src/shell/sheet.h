// Sheets and confirmations of the screens.
//
// Sheet: a modal window over the window of the widget that opens it. Escape cancels (closes) it unless dismissal
// is disabled; a window whose closing must wait for running work disables dismissal and enables it again. Sheets are
// made with Sheet::open() and delete themselves once hidden; work that outlives a sheet holds a shared state object,
// never the sheet.
//
// confirm(): the question before a destructive or replacing action (AdwMessageDialog): "Отмена" (Escape) and the
// action's button, marked destructive when asked.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>

namespace dorvik {

class Sheet : public Gtk::Window {
 public:
  // A new sheet over the window of `anchor`, `width` × `height` at first (-1: natural size).
  static Sheet* open(Gtk::Widget& anchor, const std::string& title, int width, int height);

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
  sigc::signal<void()> closed_;
};

// Asks `heading` with `body` over the window of `anchor`; `onConfirm` runs only when the action's button is pressed,
// `onDismiss` (when given) on any other end of the question: "Отмена", Escape, the dialog closed.
void confirm(Gtk::Widget& anchor, const std::string& heading, const std::string& body, const std::string& action,
             bool destructive, std::function<void()> onConfirm, std::function<void()> onDismiss = {});

}  // namespace dorvik
