#include "admin/logic/staff.h"

#include <cmath>

#include "core/api/path_encoding.h"
#include "core/base/errors.h"
#include "core/base/text.h"

namespace dorvik::admin {

namespace {

using Kind = FieldSpec::Kind;

const char* const kCompaniesPath = "/staff/companies";

bool isDepots(PanelPage page) { return page == PanelPage::depotsAdmin; }

std::string staffBase(PanelPage page) { return isDepots(page) ? "/staff/depots" : "/staff/people"; }

}  // namespace

// ---- Rules without state

std::string staffListPath(PanelPage page, std::string_view company) {
  return staffBase(page) + "?companyId=" + encodeID(company);
}

std::vector<Record> staffRows(PanelPage page, const JSONValue& answer) {
  return JSONValue::records(answer[isDepots(page) ? "depots" : "people"].array());
}

std::vector<CompanyOption> companyOptions(const JSONValue& companiesAnswer) {
  std::vector<CompanyOption> options{{"Выберите компанию", ""}};
  for (const Record& company : JSONValue::records(companiesAnswer["companies"].array()))
    options.push_back({company.value["name"].string(), company.id()});
  return options;
}

std::string firstCompany(const JSONValue& companiesAnswer) {
  const JSONArray& companies = companiesAnswer["companies"].array();
  return companies.empty() ? std::string() : companies.front()["id"].string();
}

const std::vector<FieldSpec>& staffFields(PanelPage page) {
  static const std::vector<FieldSpec> people{{"fullName", "Имя", Kind::text, true},
                                             {"login", "Логин", Kind::text, true},
                                             {"phone", "Телефон", Kind::text, true},
                                             {"password", "Пароль от 8 знаков", Kind::secret, true}};
  static const std::vector<FieldSpec> depots{{"name", "Название", Kind::text, true},
                                             {"address", "Адрес", Kind::text, false},
                                             {"lat", "Широта", Kind::number, false},
                                             {"lon", "Долгота", Kind::number, false},
                                             {"windowFrom", "Открытие, ЧЧ:ММ", Kind::text, false},
                                             {"windowTo", "Закрытие, ЧЧ:ММ", Kind::text, false}};
  return isDepots(page) ? depots : people;
}

std::optional<std::size_t> staffRoleChoice(const JSONValue& value) {
  const std::string role = value["role"].string();
  for (std::size_t i = 0; i < std::size(kStaffRoles); ++i)
    if (role == kStaffRoles[i].value) return i;
  return std::nullopt;
}

JSONValue staffStartObject() {
  return JSONValue::object({{"role", "logist"}, {"windowFrom", "08:00"}, {"windowTo", "20:00"}});
}

JSONValue staffBody(PanelPage page, const JSONValue& value, std::string_view company,
                    const std::set<std::string>& selected) {
  JSONValue body = validated(value, staffFields(page), false);
  body.set("companyId", std::string(company));
  if (!isDepots(page)) {
    if (characterCount(body["password"].stringView()) < 8 || selected.empty()) throw DorvikError(kPasswordOrDepot);
    body.set("role", value["role"]);
    JSONArray depots;
    for (const std::string& id : selected) depots.emplace_back(id);  // a set is in byte (code point) order
    body.set("depots", JSONValue(std::move(depots)));
    return body;
  }
  const JSONValue& lat = body["lat"];
  const JSONValue& lon = body["lon"];
  if (lat.isNull() != lon.isNull()) throw DorvikError(kBothCoordinates);
  if (lat.isNumber() && std::fabs(*lat.doubleValue()) > 90) throw DorvikError(kBothCoordinates);
  if (lon.isNumber() && std::fabs(*lon.doubleValue()) > 180) throw DorvikError(kBothCoordinates);
  return body;
}

std::string staffWritePath(PanelPage page, const JSONValue& record) {
  if (record.isNull()) return staffBase(page);
  return staffBase(page) + "/" + encodeID(record["id"].string());
}

bool passwordAcceptable(std::string_view password, std::string_view repeated) {
  const std::size_t count = characterCount(password);
  return count >= 8 && count <= 200 && canonicallyEqual(password, repeated);
}

std::optional<std::string> passwordProblem(std::string_view password, std::string_view repeated) {
  if (password.empty() && repeated.empty()) return std::nullopt;
  const std::size_t count = characterCount(password);
  if (count < 8) return "Пароль должен быть не короче 8 знаков.";
  if (count > 200) return "Пароль должен быть не длиннее 200 знаков.";
  if (repeated.empty()) return "Повторите пароль во втором поле.";
  if (!canonicallyEqual(password, repeated)) return "Пароли не совпадают.";
  return std::nullopt;
}

std::string passwordPath(const Record& person) { return "/staff/people/" + encodeID(person.id()) + "/password"; }

// ---- The list screen

std::shared_ptr<StaffScreen> StaffScreen::create(PanelPage page, AdminGateway gateway) {
  auto screen = std::shared_ptr<StaffScreen>(new StaffScreen(page, std::move(gateway)));
  std::weak_ptr<StaffScreen> weak = screen;
  screen->stateConnection_ = screen->state_->observe([weak](ScreenData::Property property) {
    if (auto self = weak.lock()) self->notify(property == ScreenData::Property::value ? Change::rows : Change::state);
  });
  screen->companiesConnection_ = screen->companies_->observe([weak](ScreenData::Property) {
    if (auto self = weak.lock()) self->notify(Change::companies);
  });
  return screen;
}

StaffScreen::StaffScreen(PanelPage page, AdminGateway gateway) : page_(page), gateway_(std::move(gateway)) {}

void StaffScreen::follow() {
  std::weak_ptr<StaffScreen> weak = weak_from_this();
  companiesTask_.run(gateway_.generation(), [weak] { return loadCompanies(weak); });
  followCompany();
}

void StaffScreen::setCompany(std::string company) {
  if (company == company_) return;
  company_ = std::move(company);
  notify(Change::company);
  followCompany();
}

void StaffScreen::followCompany() {
  std::weak_ptr<StaffScreen> weak = weak_from_this();
  listTask_.run(company_, [weak] { return loadList(weak); });
}

async::Task<void> StaffScreen::loadCompanies(std::weak_ptr<StaffScreen> screen) {
  std::shared_ptr<ScreenData> companies;
  ScreenSource source;
  if (auto self = screen.lock()) {
    companies = self->companies_;
    source = screenSource(self->gateway_);
  } else {
    co_return;
  }
  co_await companies->load(kCompaniesPath, source);
  if ((co_await async::currentToken()).isCancelled()) co_return;
  auto self = screen.lock();
  if (self && self->company_.empty()) self->setCompany(firstCompany(companies->value()));
}

async::Task<void> StaffScreen::loadList(std::weak_ptr<StaffScreen> screen) {
  if (auto self = screen.lock()) self->state_->setValue(JSONValue());
  co_await reload(screen);
}

void StaffScreen::refresh() { async::spawn(reload(weak_from_this())); }

async::Task<void> StaffScreen::reload(std::weak_ptr<StaffScreen> screen) {
  std::shared_ptr<ScreenData> state;
  std::string path;
  ScreenSource source;
  if (auto self = screen.lock()) {
    if (self->company_.empty()) co_return;
    state = self->state_;
    path = self->path();
    source = screenSource(self->gateway_);
  } else {
    co_return;
  }
  co_await state->load(std::move(path), std::move(source));
}

void StaffScreen::add() {
  if (!canAdd()) return;
  adding_ = true;
  notify(Change::sheets);
}

void StaffScreen::edit(const Record& depot) {
  if (!canWrite()) return;
  editing_ = depot;
  notify(Change::sheets);
}

void StaffScreen::resetPassword(const Record& person) {
  if (!canWrite()) return;
  passwordFor_ = person;
  notify(Change::sheets);
}

void StaffScreen::closeAdding() {
  adding_ = false;
  notify(Change::sheets);
}

void StaffScreen::closeEditing() {
  editing_.reset();
  notify(Change::sheets);
}

void StaffScreen::closePassword() {
  passwordFor_.reset();
  notify(Change::sheets);
}

// ---- The editor

std::shared_ptr<StaffEditor> StaffEditor::create(PanelPage page, std::string company, JSONValue record,
                                                 Refresh refresh, AdminGateway gateway) {
  auto editor = std::shared_ptr<StaffEditor>(
      new StaffEditor(page, std::move(company), std::move(record), std::move(refresh), std::move(gateway)));
  std::weak_ptr<StaffEditor> weak = editor;
  editor->stateConnection_ = editor->state_->observe([weak](ScreenData::Property property) {
    if (property != ScreenData::Property::saving) return;
    if (auto self = weak.lock()) self->notify(Change::busy);
  });
  editor->depotsConnection_ = editor->depots_->observe([weak](ScreenData::Property property) {
    if (property != ScreenData::Property::value) return;
    if (auto self = weak.lock()) self->notify(Change::depots);
  });
  return editor;
}

StaffEditor::StaffEditor(PanelPage page, std::string company, JSONValue record, Refresh refresh,
                         AdminGateway gateway)
    : page_(page),
      company_(std::move(company)),
      record_(std::move(record)),
      refresh_(std::move(refresh)),
      gateway_(std::move(gateway)) {}

void StaffEditor::prepare() {
  *value_ = record_.isNull() ? staffStartObject() : record_;
  if (page_ == PanelPage::people)
    async::spawn(depots_->load(staffListPath(PanelPage::depotsAdmin, company_), screenSource(gateway_)));
}

void StaffEditor::chooseRole(std::size_t option) {
  if (option < std::size(kStaffRoles)) value_->set("role", kStaffRoles[option].value);
}

std::vector<Record> StaffEditor::depotRows() const { return staffRows(PanelPage::depotsAdmin, depots_->value()); }

void StaffEditor::setDepot(const std::string& id, bool on) {
  const bool changed = on ? selected_.insert(id).second : selected_.erase(id) > 0;
  if (changed) notify(Change::selected);
}

bool StaffEditor::footerBusy() const {
  return state_->saving() || !(gateway_.canWriteServer && gateway_.canWriteServer());
}

void StaffEditor::save() {
  JSONValue body;
  try {
    body = staffBody(page_, *value_, company_, selected_);
  } catch (const DorvikError& error) {
    state_->setIssue(error.message());
    return;
  }
  const std::string method = record_.isNull() ? "POST" : "PATCH";
  async::spawn(runSave(shared_from_this(), staffWritePath(page_, record_), method, std::move(body)));
}

async::Task<void> StaffEditor::runSave(std::shared_ptr<StaffEditor> self, std::string path, std::string method,
                                       JSONValue body) {
  const bool written =
      co_await self->state_->write(std::move(path), std::move(method), std::move(body), screenSource(self->gateway_));
  if (!written) co_return;
  if (self->refresh_) co_await self->refresh_();
  self->notify(Change::dismissed);
}

// ---- The password sheet

std::shared_ptr<PasswordReset> PasswordReset::create(Record person, AdminGateway gateway) {
  auto reset = std::shared_ptr<PasswordReset>(new PasswordReset(std::move(person), std::move(gateway)));
  std::weak_ptr<PasswordReset> weak = reset;
  reset->stateConnection_ = reset->state_->observe([weak](ScreenData::Property property) {
    if (property != ScreenData::Property::saving) return;
    if (auto self = weak.lock()) self->notify(Change::busy);
  });
  return reset;
}

PasswordReset::PasswordReset(Record person, AdminGateway gateway)
    : person_(std::move(person)), gateway_(std::move(gateway)) {}

void PasswordReset::setPassword(std::string text) {
  password_ = std::move(text);
  notify(Change::busy);
}

void PasswordReset::setRepeated(std::string text) {
  repeated_ = std::move(text);
  notify(Change::busy);
}

bool PasswordReset::canSave() const {
  return !state_->saving() && passwordAcceptable(password_, repeated_) && gateway_.canWriteServer &&
         gateway_.canWriteServer();
}

void PasswordReset::save() {
  if (!canSave()) return;
  async::spawn(runSave(shared_from_this(), JSONValue::object({{"password", password_}})));
}

async::Task<void> PasswordReset::runSave(std::shared_ptr<PasswordReset> self, JSONValue body) {
  const bool written =
      co_await self->state_->write(passwordPath(self->person_), "POST", std::move(body), screenSource(self->gateway_));
  if (!written) co_return;
  self->password_.clear();
  self->repeated_.clear();
  self->notify(Change::cleared);
  self->notify(Change::dismissed);
}

}  // namespace dorvik::admin
