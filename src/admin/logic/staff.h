// The staff administration of the superadmin: the accounts (page `people`) and depots (page `depotsAdmin`) of a
// chosen company, the editor that creates an account or creates and changes a depot, and the sheet that sets an
// account's new password.
//
// StaffScreen: the company list, the chosen company and its list. Loading is driven by two keys: the workspace
// (the company list; the first company is chosen when none is) and the chosen company (its list, emptied first; a
// new company cancels the load in flight, so only its own answer is shown). A workspace change keeps the chosen
// company and does not reload its list.
//
// StaffEditor and PasswordReset: each writes through a loader of its own; a write runs on after its sheet has closed.
// Typed passwords live only in the editor's working copy and the request body: nothing of them is logged or cached
// (writes are never cached).
//
// Main thread only. Runs hold their controller weakly or shared as noted; a screen that went away drops outcomes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/keyed_task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/panel_page.h"
#include "shell/toolkit/form.h"
#include "shell/toolkit/screen_data.h"

namespace dorvik::admin {

// ---- Rules without state

// "/staff/depots" on depotsAdmin, "/staff/people" otherwise, then "?companyId=" and the encoded company.
std::string staffListPath(PanelPage page, std::string_view company);
// The rows of the page's list ("depots" or "people" of the answer).
std::vector<Record> staffRows(PanelPage page, const JSONValue& answer);

struct CompanyOption {
  std::string title;
  std::string id;
};
// "Выберите компанию" (id "") first, then the companies of the answer in the server's order.
std::vector<CompanyOption> companyOptions(const JSONValue& companiesAnswer);
// The "id" text of the first company of the answer, or "".
std::string firstCompany(const JSONValue& companiesAnswer);

// The editor's form fields of a page.
const std::vector<FieldSpec>& staffFields(PanelPage page);

struct StaffRole {
  const char* title;
  const char* value;
};
inline constexpr StaffRole kStaffRoles[] = {{"Логист", "logist"}, {"Администратор", "owner"}, {"Курьер", "courier"}};
// The option showing the object's "role", or none for a role that is none of them.
std::optional<std::size_t> staffRoleChoice(const JSONValue& value);

// What a new record starts from: role "logist", opening hours 08:00–20:00.
JSONValue staffStartObject();

inline constexpr const char* kPasswordOrDepot = "Укажите пароль от 8 знаков и хотя бы один склад.";
inline constexpr const char* kBothCoordinates = "Проверьте обе координаты склада.";

// The request body of a save, or a DorvikError (status 0) with the first failed check's message: the form's own
// checks, then the password and depots (people) or the coordinates (depotsAdmin).
JSONValue staffBody(PanelPage page, const JSONValue& value, std::string_view company,
                    const std::set<std::string>& selected);
// Where a save goes: the page's base for a new record, else the base, "/" and the record's encoded "id".
std::string staffWritePath(PanelPage page, const JSONValue& record);

// The password sheet's save: 8 to 200 characters as a person counts them, typed the same twice.
bool passwordAcceptable(std::string_view password, std::string_view repeated);
// Why the save cannot take the entries yet, shown under them: too short, too long, not repeated, or different;
// none when they are acceptable or nothing is typed.
std::optional<std::string> passwordProblem(std::string_view password, std::string_view repeated);
std::string passwordPath(const Record& person);

// ---- The list screen

class StaffScreen : public std::enable_shared_from_this<StaffScreen> {
 public:
  enum class Change { companies, company, rows, sheets, state };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<StaffScreen> create(PanelPage page, AdminGateway gateway);
  StaffScreen(const StaffScreen&) = delete;
  StaffScreen& operator=(const StaffScreen&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  PanelPage page() const { return page_; }
  const AdminGateway& gateway() const { return gateway_; }
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  const std::shared_ptr<ScreenData>& companies() const { return companies_; }

  // The company list for the current workspace (call when shown and whenever the workspace may have changed).
  void follow();
  const std::string& company() const { return company_; }
  void setCompany(std::string company);
  std::vector<CompanyOption> options() const { return companyOptions(companies_->value()); }

  std::string path() const { return staffListPath(page_, company_); }
  std::vector<Record> rows() const { return staffRows(page_, state_->value()); }
  // Reloads the chosen company's list ("Обновить", and the editor's refresh); nothing when none is chosen.
  void refresh();
  static async::Task<void> reload(std::weak_ptr<StaffScreen> screen);

  bool canAdd() const { return !company_.empty() && canWrite(); }
  bool canRefresh() const { return !company_.empty() && !state_->loading(); }
  // "Изменить" and "Задать новый".
  bool canWrite() const { return gateway_.canWriteServer && gateway_.canWriteServer(); }

  // The sheets; closing one clears what showed it.
  bool adding() const { return adding_; }
  const std::optional<Record>& editing() const { return editing_; }
  const std::optional<Record>& passwordFor() const { return passwordFor_; }
  void add();
  void edit(const Record& depot);
  void resetPassword(const Record& person);
  void closeAdding();
  void closeEditing();
  void closePassword();

 private:
  StaffScreen(PanelPage page, AdminGateway gateway);
  static async::Task<void> loadCompanies(std::weak_ptr<StaffScreen> screen);
  static async::Task<void> loadList(std::weak_ptr<StaffScreen> screen);
  void followCompany();
  void notify(Change change) { observers_.notify(change); }

  PanelPage page_;
  AdminGateway gateway_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::shared_ptr<ScreenData> companies_ = ScreenData::create();
  std::string company_;
  bool adding_ = false;
  std::optional<Record> editing_;
  std::optional<Record> passwordFor_;
  KeyedTask companiesTask_;
  KeyedTask listTask_;
  ScreenData::Connection stateConnection_;
  ScreenData::Connection companiesConnection_;
  Observers<Change> observers_;
};

// ---- The editor

class StaffEditor : public std::enable_shared_from_this<StaffEditor> {
 public:
  enum class Change { depots, selected, busy, dismissed };
  using Connection = Observers<Change>::Connection;
  using Refresh = std::function<async::Task<void>()>;

  // `record`: the depot to change, or null for a new account or depot.
  static std::shared_ptr<StaffEditor> create(PanelPage page, std::string company, JSONValue record, Refresh refresh,
                                             AdminGateway gateway);
  StaffEditor(const StaffEditor&) = delete;
  StaffEditor& operator=(const StaffEditor&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  // Fills the working copy and, for an account, loads the company's depots.
  void prepare();

  PanelPage page() const { return page_; }
  std::string heading() const { return page_ == PanelPage::people ? "Новый доступ" : "Склад"; }
  const std::vector<FieldSpec>& fields() const { return staffFields(page_); }
  // The working copy, shared with the form's rows that edit it.
  const std::shared_ptr<JSONValue>& value() const { return value_; }
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  const std::shared_ptr<ScreenData>& depots() const { return depots_; }

  std::optional<std::size_t> roleChoice() const { return staffRoleChoice(*value_); }
  void chooseRole(std::size_t option);
  std::vector<Record> depotRows() const;
  const std::set<std::string>& selected() const { return selected_; }
  void setDepot(const std::string& id, bool on);

  bool footerBusy() const;
  // Checks the form (a failure becomes the issue) and starts the write; after a successful write the list is
  // refreshed and Change::dismissed reported.
  void save();

 private:
  StaffEditor(PanelPage page, std::string company, JSONValue record, Refresh refresh, AdminGateway gateway);
  static async::Task<void> runSave(std::shared_ptr<StaffEditor> self, std::string path, std::string method,
                                   JSONValue body);
  void notify(Change change) { observers_.notify(change); }

  PanelPage page_;
  std::string company_;
  JSONValue record_;
  Refresh refresh_;
  AdminGateway gateway_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::shared_ptr<ScreenData> depots_ = ScreenData::create();
  std::shared_ptr<JSONValue> value_ = std::make_shared<JSONValue>();
  std::set<std::string> selected_;
  ScreenData::Connection stateConnection_;
  ScreenData::Connection depotsConnection_;
  Observers<Change> observers_;
};

// ---- The password sheet

class PasswordReset : public std::enable_shared_from_this<PasswordReset> {
 public:
  enum class Change { busy, cleared, dismissed };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<PasswordReset> create(Record person, AdminGateway gateway);
  PasswordReset(const PasswordReset&) = delete;
  PasswordReset& operator=(const PasswordReset&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  const Record& person() const { return person_; }
  std::string heading() const { return "Новый пароль · " + person_.value["fullName"].string(); }
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  const std::string& password() const { return password_; }
  const std::string& repeated() const { return repeated_; }
  void setPassword(std::string text);
  void setRepeated(std::string text);

  bool canSave() const;
  // Why the entries cannot be saved yet (passwordProblem), shown under them.
  std::optional<std::string> problem() const { return passwordProblem(password_, repeated_); }
  // Sends the password; on success both entries are emptied and Change::dismissed reported.
  void save();

 private:
  PasswordReset(Record person, AdminGateway gateway);
  static async::Task<void> runSave(std::shared_ptr<PasswordReset> self, JSONValue body);
  void notify(Change change) { observers_.notify(change); }

  Record person_;
  AdminGateway gateway_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::string password_;
  std::string repeated_;
  ScreenData::Connection stateConnection_;
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
