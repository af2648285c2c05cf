// StaffView: the superadmin's pages of a company's access accounts (`people`) and depots (`depotsAdmin`) over
// StaffScreen — the toolbar's "Обновить", the company picker with "Добавить", the two loaders' notices and the
// table with its row buttons; and the two sheets it opens: the editor of a new account or of a depot
// (StaffEditorView) and the password sheet (PasswordResetView).
#pragma once

#include <gtkmm.h>

#include <map>
#include <memory>
#include <vector>

#include "admin/logic/staff.h"
#include "shell/form_widgets.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

typedef struct _AdwPreferencesGroup AdwPreferencesGroup;

namespace dorvik::admin {

class StaffView : public Gtk::Box {
 public:
  StaffView(PanelPage page, const ShellContext& context);
  ~StaffView() override;

  const std::shared_ptr<StaffScreen>& screen() const { return screen_; }
  RecordTable& table() { return table_; }
  Gtk::DropDown& companyPicker() { return picker_; }
  Sheet* editorSheet() const { return editor_; }
  Sheet* passwordSheet() const { return password_; }

 private:
  void buildTable();
  void showCompanies();
  void showCompany();
  void showState();
  void showSheets();

  ShellContext context_;
  std::shared_ptr<StaffScreen> screen_;
  Gtk::Button* refresh_ = nullptr;
  Gtk::Button* add_ = nullptr;
  Gtk::DropDown picker_;
  std::vector<std::string> pickerIds_;
  bool syncingPicker_ = false;
  // The row each shown button acts on; shared with the buttons, which may go after the view.
  std::shared_ptr<std::map<Gtk::Widget*, Record>> rowButtons_ = std::make_shared<std::map<Gtk::Widget*, Record>>();
  RecordTable table_{RecordTable::Selection::none};
  Sheet* editor_ = nullptr;
  Sheet* password_ = nullptr;
  StaffScreen::Connection connection_;
  AppModel::Connection modelConnection_;
};

class StaffEditorView : public Gtk::Box {
 public:
  StaffEditorView(std::shared_ptr<StaffEditor> editor, const ShellContext& context, std::function<void()> dismiss);
  ~StaffEditorView() override;

  const std::shared_ptr<StaffEditor>& editor() const { return editor_; }

 private:
  void showDepots();
  void showBusy();

  std::shared_ptr<StaffEditor> editor_;
  ShellContext context_;
  std::function<void()> dismiss_;
  Gtk::Box depotRows_{Gtk::Orientation::VERTICAL, 0};
  EditorFooter footer_;
  StaffEditor::Connection connection_;
  AppModel::Connection modelConnection_;
};

class PasswordResetView : public Gtk::Box {
 public:
  PasswordResetView(std::shared_ptr<PasswordReset> reset, const ShellContext& context, std::function<void()> dismiss);
  ~PasswordResetView() override;

  const std::shared_ptr<PasswordReset>& reset() const { return reset_; }

 private:
  void showBusy();

  std::shared_ptr<PasswordReset> reset_;
  ShellContext context_;
  std::function<void()> dismiss_;
  Gtk::PasswordEntry password_;
  Gtk::PasswordEntry repeated_;
  Gtk::Label problem_;  // why "Сохранить" is disabled, under the entries
  EditorFooter footer_;
  PasswordReset::Connection connection_;
  AppModel::Connection modelConnection_;
};

// The screen of the `people` or `depotsAdmin` page, as the page switch shows it.
Gtk::Widget* makeStaffView(PanelPage page, const ShellContext& context);

}  // namespace dorvik::admin
