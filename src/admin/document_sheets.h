// The two sheets of the documents and couriers pages: a document's details with its acknowledgements, and the
// files attached to a courier. Thin views over DocumentDetailsController and CourierFilesController.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "admin/logic/courier_files.h"
#include "admin/logic/document_details.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

namespace dorvik::admin {

class DocumentDetailsView : public Gtk::Box {
 public:
  DocumentDetailsView(std::shared_ptr<DocumentDetailsController> controller, std::function<void()> dismiss);
  const std::shared_ptr<DocumentDetailsController>& controller() const { return controller_; }

 private:
  void showContent();
  void showAcknowledgments();

  std::shared_ptr<DocumentDetailsController> controller_;
  Gtk::Label body_;
  Gtk::Button attachment_;
  Gtk::Label count_;
  RecordTable couriers_{RecordTable::Selection::none};
  ScreenData::Connection contentConnection_;
  ScreenData::Connection acksConnection_;
};

class CourierFilesView : public Gtk::Box {
 public:
  CourierFilesView(std::shared_ptr<CourierFilesController> controller, const ShellContext& context,
                   std::function<void()> dismiss);
  ~CourierFilesView() override;
  const std::shared_ptr<CourierFilesController>& controller() const { return controller_; }

 private:
  void showFiles();
  void showState();
  void chooseFile();
  void askDelete();

  std::shared_ptr<CourierFilesController> controller_;
  ShellContext context_;
  Gtk::Entry note_;
  Gtk::Button attach_;
  Gtk::ListBox list_;
  Gtk::Overlay overlay_;
  GtkWidget* placeholder_ = nullptr;
  std::vector<Gtk::Button*> rowButtons_;  // "Сохранить…" and "Удалить" of each row, in pairs
  Glib::RefPtr<Gtk::FileChooserNative> chooser_;
  ScreenData::Connection stateConnection_;
  CourierFilesController::Connection controllerConnection_;
  AppModel::Connection modelConnection_;
};

// Opens the sheet over the window of `anchor`; the sheet's controller is made here with the gateway.
Sheet* openDocumentDetails(Gtk::Widget& anchor, const Record& document, AdminGateway gateway);
Sheet* openCourierFiles(Gtk::Widget& anchor, const Record& person, AdminGateway gateway, const ShellContext& context);

}  // namespace dorvik::admin
