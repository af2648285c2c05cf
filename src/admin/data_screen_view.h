// DataScreenView: the generic data screen of a panel page over DataScreenController — toolbar, header (count,
// offline badge, day picker, search), the failure banner, the table with its context menu, and the sheets it opens
// (the record editor, the readable record sheet, and the detail sheets of the pages that have their own).
#pragma once

#include <gtkmm.h>

#include <memory>

#include "admin/logic/data_screen.h"
#include "shell/date_picker.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

typedef struct _AdwButtonContent AdwButtonContent;

namespace dorvik::admin {

class DataScreenView : public Gtk::Box {
 public:
  DataScreenView(PanelPage page, const ShellContext& context);
  // The same screen over another gateway than the context's model (benchmarks).
  DataScreenView(PanelPage page, const ShellContext& context, AdminGateway gateway);
  ~DataScreenView() override;

  const std::shared_ptr<DataScreenController>& controller() const { return controller_; }
  RecordTable& table() { return table_; }
  // The sheets shown now (none when closed).
  Sheet* editorSheet() const { return editor_; }
  Sheet* detailSheet() const { return detailSheet_; }

 private:
  Gtk::Widget& buildToolbar();
  Gtk::Widget& buildHeader();
  Gtk::Widget& buildBanner();
  Gtk::Widget& buildTable();
  Gtk::Button& toolbarButton(const std::string& title, const std::string& symbol);
  void showRows();
  void showState();
  void showSheets();
  void openMenu(double x, double y);

  ShellContext context_;
  std::shared_ptr<DataScreenController> controller_;

  Gtk::Button* refresh_ = nullptr;
  Gtk::Button* export_ = nullptr;
  Gtk::Button* selectionAction_ = nullptr;
  Gtk::Button* add_ = nullptr;
  Gtk::Label count_;
  Gtk::Box offlineBadge_{Gtk::Orientation::HORIZONTAL, 4};
  MoscowDatePicker date_;
  Gtk::SearchEntry search_;
  Gtk::Box banner_{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Label bannerText_;
  RecordTable table_{RecordTable::Selection::multiple};
  Gtk::Overlay overlay_;
  Gtk::Box loadingView_{Gtk::Orientation::VERTICAL, 10};
  GtkWidget* emptyView_ = nullptr;
  Gtk::PopoverMenu menu_;
  std::set<std::string> menuTargets_;
  Glib::RefPtr<Gio::SimpleAction> editAction_;

  Sheet* editor_ = nullptr;
  Sheet* detailSheet_ = nullptr;
  bool editorForNew_ = false;

  DataScreenController::Connection controllerConnection_;
  AppModel::Connection modelConnection_;
};

// The screen of a data page, as the page switch shows it.
Gtk::Widget* makeDataScreen(PanelPage page, const ShellContext& context);

}  // namespace dorvik::admin
