// The signed-in workspace: sidebar of panel pages with its footer, the selected page's screen, status strip.
#pragma once

#include <gtkmm.h>

#include <map>

#include "shell/shell_context.h"

namespace dorvik {

class WorkspaceView : public Gtk::Box {
 public:
  WorkspaceView(ShellContext context, Gtk::Window& window);
  ~WorkspaceView() override;

 private:
  // The page list over the footer: the mark, the user and connection, settings and sign-out.
  Gtk::Widget* makeSidebar();
  Gtk::Widget* makeFooter();
  // The status strip: spinner, status text, pending address corrections, data source.
  Gtk::Widget* makeStatusStrip();
  void modelChanged(AppModel::Property property);
  void buildSidebar();
  // Selects the row of the page shown (and only that one).
  void selectPageRow();
  void showPage();
  void updateFooter();
  void updateStrip();
  // Scrolls the sidebar so that the selected row is in view, once the rows have their places.
  void revealSelectedRow();

  ShellContext context_;
  Gtk::Window& window_;
  Gtk::ScrolledWindow scroller_;
  Gtk::ListBox list_;
  std::map<Gtk::ListBoxRow*, PanelPage> rowPages_;
  std::map<Gtk::ListBoxRow*, Gtk::Label*> rowHeadings_;  // the first row of each section: its heading
  std::string sidebarRole_ = "\x01";
  bool selecting_ = false;
  Gtk::Box content_{Gtk::Orientation::VERTICAL};
  Gtk::Widget* screen_ = nullptr;
  Gtk::Label name_, connection_;
  Gtk::Spinner spinner_;
  Gtk::Label status_, pending_, source_;
  AppModel::Connection observer_;
};

}  // namespace dorvik
