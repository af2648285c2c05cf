// RecordTable: the table of a screen — a Gtk::ColumnView over a list of records that is updated in place.
//
//  - setRows() keeps the rows whose identities stay at both ends of the list (refreshing in place those whose record
//    changed) and replaces the rest in one splice of the list model, so a table of thousands of rows follows a
//    small change, or a change of every row's values, cheaply. The list model makes a row's object only when the
//    view asks for it (the rows on screen), so a list of tens of thousands of rows costs no object per row; in the
//    splice the row objects at the replaced positions take the new records, so a whole new list of rows rebinds
//    the cells on screen instead of making them again.
//  - Columns are declared once: a text column computes its cell text from the row; a widget column makes its
//    widget once per cell and binds it to the row each time the cell shows another row; a button column reports
//    the row whose button was pressed.
//  - Selection (none, single or multiple) is mirrored by row identity: setSelectedIds() shows a selection without
//    reporting it back, signalSelectionChanged() reports only what the user did, and a rebuild by setRows() keeps
//    the selected identities instead of clearing them.
//  - signalActivate() reports a double click or Return on a row; signalContextMenu() a right click, or Shift+F10 or
//    the Menu key on the focused row, with a point in that row; rowAt() finds the row under that point, and
//    popupRowMenu() opens the row's menu there: at the click, or below the focused row when asked from the keyboard,
//    with the keyboard in the menu (see popupMenu).
//  - From the keyboard the table is one Tab stop: arrows move between the rows, Tab goes on to the next control.
//    A screen reader reads a row as its cells' texts.
//  - A row's identity is Record::id() unless the table is given another (setIdentity, before the first rows).
#pragma once

#include <gtkmm.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/json/json_value.h"
#include "shell/toolkit/display.h"

namespace dorvik {

struct TableColumnOptions {
  int width = -1;        // fixed width in pixels at the standard text size (wider with larger text); -1 sizes to
                         // content
  int minWidth = -1;     // narrowest width of the cells in pixels; -1 none
  bool expand = false;   // takes the remaining width
  int lines = 1;         // text lines before ellipsizing
  bool numeric = false;  // tabular digits, aligned to the end
  bool digits = false;   // tabular digits, the text where any text starts
  // A column that shares the page's width (columnWidths): it opens at `ideal` pixels, narrows to `minWidth` and
  // widens by up to `maxWidth` (0: not at all, -1: without end). When one column of a table shares, all do: each
  // other column keeps its fixed `width`.
  int ideal = -1;
  int maxWidth = 0;
};

class RecordTable : public Gtk::ScrolledWindow {
 public:
  enum class Selection { none, single, multiple };

  using ColumnOptions = TableColumnOptions;
  using Text = std::function<std::string(const Record&)>;
  using Make = std::function<Gtk::Widget*()>;
  using Bind = std::function<void(Gtk::Widget&, const Record&)>;
  using Identity = std::function<std::string(const Record&)>;

  explicit RecordTable(Selection selection = Selection::none);
  ~RecordTable() override;

  void addColumn(const std::string& title, Text text, ColumnOptions options = {});
  void addWidgetColumn(const std::string& title, Make make, Bind bind, ColumnOptions options = {});
  // A column of borderless buttons reading `label`; a press reports the row its button shows.
  void addButtonColumn(const std::string& title, const std::string& label, std::function<void(const Record&)> pressed,
                       ColumnOptions options = {});
  // Removes every column (a table whose column set depends on a choice rebuilds them).
  void clearColumns();

  void setIdentity(Identity identity) { identity_ = std::move(identity); }
  // The cells' tooltips stand down while something shown over the rows needs the place (a row's context menu),
  // and one already shown goes.
  void setTooltipsShown(bool shown);
  void setRows(std::vector<Record> rows);
  const std::vector<Record>& rows() const;

  std::set<std::string> selectedIds() const { return selected_; }
  void setSelectedIds(std::set<std::string> ids);
  sigc::signal<void(const std::set<std::string>&)>& signalSelectionChanged() { return selectionChanged_; }
  sigc::signal<void(const Record&)>& signalActivate() { return activate_; }
  // A context menu is asked for at a point of this widget's coordinates (on a row, unless the focus is on none).
  sigc::signal<void(double, double)>& signalContextMenu() { return contextMenu_; }

  // Opens `menu` (a popover whose parent is this table or a widget around it) for the context menu just asked for
  // at (x, y), as signalContextMenu() gave them.
  void popupRowMenu(Gtk::Popover& menu, double x, double y);

  // The row shown at a point of this widget's coordinates, or none.
  std::optional<Record> rowAt(double x, double y);

  Gtk::ColumnView& view() { return view_; }
  // Shows or hides the row of column titles (a list of cards in one column needs none).
  void setTitlesVisible(bool visible);

 protected:
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  class Row;
  class Rows;
  // Sets the widths of the columns for the text size and the page width in force.
  void applyWidths();
  void addFactoryColumn(const std::string& title, Make make, Bind bind, const ColumnOptions& options);
  void applySelection();
  // Selects the rows of the selected identities among `count` rows from `position` (rows just put in).
  void selectAmong(std::size_t position, std::size_t count);
  void readSelection();
  // Names for screen readers: the row around a cell (the texts of its cells), the row of titles.
  void nameRow(Gtk::Widget& cell);
  void nameTitles();
  // Shift+F10 or the Menu key: the context menu of the focused row.
  bool contextMenuFromKeyboard();

  Gtk::ColumnView view_;
  Glib::RefPtr<Rows> model_;
  Glib::RefPtr<Gtk::SelectionModel> selection_;
  Selection mode_;
  Identity identity_;
  std::vector<std::string> ids_;
  std::unordered_map<std::string, guint> positions_;
  std::set<std::string> selected_;
  std::unordered_map<Gtk::Widget*, sigc::connection> cells_;  // bound cells and their row's refresh
  bool applying_ = false;
  bool tooltipsShown_ = true;
  std::optional<Gdk::Rectangle> keyboardRow_;  // the focused row, when its menu was asked from the keyboard
  std::vector<std::pair<Glib::RefPtr<Gtk::ColumnViewColumn>, int>> fixedWidths_;   // each with its standard width
  std::vector<std::pair<Glib::RefPtr<Gtk::ColumnViewColumn>, ColumnSpan>> spans_;  // every column, when they share
  bool sharing_ = false;
  int sharedWidth_ = 0;      // the page width the shared widths were set for
  double widthScale_ = 1.0;  // the text size the widths were set for, against the desktop's
  sigc::signal<void(const std::set<std::string>&)> selectionChanged_;
  sigc::signal<void(const Record&)> activate_;
  sigc::signal<void(double, double)> contextMenu_;
};

}  // namespace dorvik
