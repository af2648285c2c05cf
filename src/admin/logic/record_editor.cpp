#include "admin/logic/record_editor.h"

#include <utility>

#include "core/api/failure.h"
#include "core/base/errors.h"

namespace dorvik::admin {

namespace {
const char* const kZones = "/panel/zones";
const char* const kOutOfRange = "Координаты вне диапазона.";
const char* const kRefine = "Адрес нужно уточнить вручную.";
const char* const kLookupStopped = "Поиск остановлен.";
const char* const kCannotCheck =
    "Нет связи с сервером: не удалось проверить, сохранилась ли запись. Повторите, когда связь восстановится.";
}  // namespace

std::shared_ptr<RecordEditorController> RecordEditorController::create(PanelPage page, JSONValue record,
                                                                       DataScreen configuration, Refresh refresh,
                                                                       AdminGateway gateway,
                                                                       std::optional<ListedRecord> listed) {
  return std::shared_ptr<RecordEditorController>(new RecordEditorController(
      page, std::move(record), std::move(configuration), std::move(refresh), std::move(gateway), std::move(listed)));
}

RecordEditorController::RecordEditorController(PanelPage page, JSONValue record, DataScreen configuration,
                                               Refresh refresh, AdminGateway gateway,
                                               std::optional<ListedRecord> listed)
    : page_(page),
      record_(std::move(record)),
      listed_(std::move(listed)),
      configuration_(std::move(configuration)),
      refresh_(std::move(refresh)),
      gateway_(std::move(gateway)) {}

void RecordEditorController::prepare() {
  *value_ = isNew() ? newRecord() : record_;
  phones_ = phonesText(*value_);
  clientAddresses_.clear();
  for (const JSONValue& row : (*value_)["addresses"].array())
    clientAddresses_.push_back(std::make_shared<JSONValue>(row));
  polygon_ = polygonOf(*value_);
  notify(Change::value);
  notify(Change::addresses);
  notify(Change::polygon);
  if (page_ == PanelPage::documents && !isNew()) async::spawn(runLoadDocument(shared_from_this()));
}

async::Task<void> RecordEditorController::runLoadDocument(std::shared_ptr<RecordEditorController> self) {
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> request =
        self->gateway_.fetch(recordPath(self->configuration_.endpoint, self->record_), "GET", std::nullopt);
    JSONValue document = co_await std::move(request);
    *self->value_ = std::move(document);
    self->notify(Change::value);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) self->fail(failure);
}

bool RecordEditorController::mayWrite() const {
  return admin::mayWrite(gateway_, page_);
}

bool RecordEditorController::canDelete() const {
  return gateway_.canWriteServer && gateway_.canWriteServer() && !saving_ && mayWrite();
}

bool RecordEditorController::footerBusy() const {
  return !mayWrite() || editorBusy(page_, saving_, gateway_.preview && gateway_.preview(),
                                   gateway_.canWriteServer && gateway_.canWriteServer());
}

void RecordEditorController::chooseRole(std::size_t option) {
  if (option >= std::size(kRoleCodes)) return;
  value_->set("role", kRoleCodes[option]);
}

void RecordEditorController::addClientAddress() {
  clientAddresses_.push_back(std::make_shared<JSONValue>(newClientAddress(clientAddresses_.empty())));
  notify(Change::addresses);
}

void RecordEditorController::removeClientAddress(std::size_t index) {
  if (!canChangeAddresses() || index >= clientAddresses_.size()) return;
  clientAddresses_.erase(clientAddresses_.begin() + static_cast<std::ptrdiff_t>(index));
  notify(Change::addresses);
}

void RecordEditorController::lookup(std::size_t index) {
  if (!canChangeAddresses() || index >= clientAddresses_.size()) return;
  async::CancelToken token;
  lookupToken_ = token;
  lookupIndex_ = index;
  notify(Change::lookup);
  async::spawn(runLookup(shared_from_this(), index, token), token);
}

void RecordEditorController::stopLookup() {
  if (lookupToken_) lookupToken_->cancel();
}

async::Task<void> RecordEditorController::runLookup(std::shared_ptr<RecordEditorController> self, std::size_t index,
                                                    async::CancelToken token) {
  const JSONValue row = *self->clientAddresses_[index];
  const std::string address = row["address"].string();
  std::optional<JSONValue> answer;
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> request = self->gateway_.lookup(address);
    answer = co_await std::move(request);
  } catch (...) {
    failure = std::current_exception();
  }
  std::vector<JSONValue> rows;
  for (const auto& shared : self->clientAddresses_) rows.push_back(*shared);
  if (token.isCancelled()) {
    self->setIssue(kLookupStopped);
  } else if (failure) {
    if (std::optional<std::string> text = failureText(failure)) self->setIssue(std::move(*text));
  } else if (lookupApplies(rows, index, address, row["lat"], row["lon"])) {
    const JSONValue& found = (*answer)["found"];
    if (found["qc"].string() != "0") {
      self->setIssue(kRefine);
    } else {
      JSONValue& target = *self->clientAddresses_[index];
      target.set("lat", found["lat"]);
      target.set("lon", found["lon"]);
      self->notify(Change::coordinates);
    }
  }
  self->lookupToken_.reset();
  self->lookupIndex_.reset();
  self->notify(Change::lookup);
}

void RecordEditorController::addVertex(MapPoint point) {
  polygon_.push_back(point);
  notify(Change::polygon);
}

void RecordEditorController::undoVertex() {
  if (polygon_.empty()) return;
  polygon_.pop_back();
  notify(Change::polygon);
}

void RecordEditorController::onMapInteraction(const MapInteraction& interaction) {
  if (const auto* vertex = interaction.as<MapInteraction::AddVertex>()) addVertex(vertex->point);
}

void RecordEditorController::attach(const std::string& path) {
  try {
    attachment_ = attachmentOf(path);
  } catch (const DorvikError& error) {
    setIssue(error.message());
    fileRefusal_ = issue_;
    return;
  }
  // The refusal of a file chosen before no longer stands beside the one taken now.
  if (fileRefusal_ && issue_ == fileRefusal_) {
    issue_.reset();
    notify(Change::issue);
  }
  fileRefusal_.reset();
  notify(Change::attachment);
}

EditorInput RecordEditorController::input() const {
  EditorInput in;
  in.page = page_;
  in.record = record_;
  in.value = *value_;
  in.fields = configuration_.fields;
  in.phones = phones_;
  for (const auto& row : clientAddresses_) in.clientAddresses.push_back(*row);
  in.polygon = polygon_;
  in.attachment = attachment_;
  in.removeAttachment = removeAttachment_;
  return in;
}

void RecordEditorController::save() {
  if (saving_ || !mayWrite()) return;
  JSONValue body;
  try {
    body = saveBody(input());
  } catch (const DorvikError& error) {
    setIssue(error.message());
    return;
  }
  setSaving(true);
  async::spawn(runSave(shared_from_this(), std::move(body)));
}

async::Task<void> RecordEditorController::runSave(std::shared_ptr<RecordEditorController> self, JSONValue body) {
  const AdminGateway& gateway = self->gateway_;
  std::exception_ptr failure;
  bool sent = false;     // the write itself went out (the zone list's read comes first)
  bool creates = false;  // and it makes a new record
  bool asked = false;    // held back: the user is asked first
  const JSONValue sentBody = body;
  try {
    switch (saveStrategy(self->page_)) {
      case SaveStrategy::zoneList: {
        async::Task<JSONValue> read = gateway.fetch(kZones, "GET", std::nullopt);
        const JSONValue list = co_await std::move(read);
        const Resend resend = self->followStoredCreate(list["zones"].array(), body);
        if (resend == Resend::ask) {
          asked = true;
          break;
        }
        if (resend == Resend::send) {
          JSONValue written =
              JSONValue::object({{"zones", zonesAfterSave(list, self->record_, body, self->listed_)}});
          async::Task<JSONValue> write = gateway.fetch(kZones, "PUT", std::move(written));
          sent = true;
          creates = self->isNew();
          co_await std::move(write);
        }
        async::Task<void> reference = gateway.refreshReferenceData();
        co_await std::move(reference);
        break;
      }
      case SaveStrategy::addressMemory: {
        const std::optional<MapPoint> point = addressPoint(body);
        if (!point) throw DorvikError(kOutOfRange);
        async::Task<void> remember = gateway.rememberAddress(body["address"].string(), point->lat, point->lon);
        co_await std::move(remember);
        break;
      }
      case SaveStrategy::request: {
        const std::string& endpoint = self->configuration_.endpoint;
        Resend resend = Resend::send;
        if (self->unconfirmed_ && !self->resendAgreed_) {
          async::Task<JSONValue> read = gateway.fetch(endpoint, "GET", std::nullopt);
          const JSONValue list = co_await std::move(read);
          resend = self->followStoredCreate(list[self->configuration_.collection].array(), body);
        }
        if (resend == Resend::ask) {
          asked = true;
          break;
        }
        if (resend == Resend::stored) break;
        creates = self->isNew();
        async::Task<JSONValue> request = creates ? gateway.fetch(endpoint, "POST", std::move(body))
                                                 : gateway.fetch(recordPath(endpoint, self->record_), "PATCH",
                                                                 std::move(body));
        sent = true;
        co_await std::move(request);
        break;
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (asked) {
    self->setSaving(false);
    self->notify(Change::resend);
    co_return;
  }
  if (failure) {
    // A new record may be on the server now: the next save looks for it before anything goes out again.
    if (sent && creates && outcomeUnknown(failure)) {
      self->unconfirmed_ = sentBody;
      self->resendAgreed_ = false;
    }
    self->fail(failure, sent);
    self->setSaving(false);
    co_return;
  }
  self->unconfirmed_.reset();
  co_await finish(self);
}

RecordEditorController::Resend RecordEditorController::followStoredCreate(const JSONArray& rows,
                                                                         const JSONValue& body) {
  if (!unconfirmed_ || resendAgreed_) return Resend::send;
  // A list answered from the saved copy says nothing of what the server holds now.
  if (gateway_.offline && gateway_.offline()) throw DorvikError(kCannotCheck);
  const std::optional<std::size_t> found = storedCreate(rows, *unconfirmed_, listed_);
  if (!found) return Resend::ask;
  // The record is there: the editor now edits it, and what was changed since the lost save goes to it.
  const bool changed = body != *unconfirmed_;
  record_ = rows[*found];
  listed_ = ListedRecord{rows, *found};
  unconfirmed_.reset();
  return changed ? Resend::send : Resend::stored;
}

void RecordEditorController::resend() {
  if (!unconfirmed_ || saving_) return;
  resendAgreed_ = true;
  save();
}

void RecordEditorController::remove() {
  if (saving_ || !showsDelete() || !mayWrite()) return;
  setSaving(true);
  async::spawn(runDelete(shared_from_this()));
}

async::Task<void> RecordEditorController::runDelete(std::shared_ptr<RecordEditorController> self) {
  const AdminGateway& gateway = self->gateway_;
  std::exception_ptr failure;
  bool sent = false;  // the write itself went out (the zone list's read comes first)
  try {
    if (saveStrategy(self->page_) == SaveStrategy::zoneList) {
      async::Task<JSONValue> read = gateway.fetch(kZones, "GET", std::nullopt);
      const JSONValue list = co_await std::move(read);
      JSONValue written = JSONValue::object({{"zones", zonesAfterDelete(list, self->record_, self->listed_)}});
      async::Task<JSONValue> write = gateway.fetch(kZones, "PUT", std::move(written));
      sent = true;
      co_await std::move(write);
      async::Task<void> reference = gateway.refreshReferenceData();
      co_await std::move(reference);
    } else {
      async::Task<JSONValue> request =
          gateway.fetch(recordPath(self->configuration_.endpoint, self->record_), "DELETE", std::nullopt);
      sent = true;
      co_await std::move(request);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    self->fail(failure, sent);
    self->setSaving(false);
    co_return;
  }
  co_await finish(self);
}

async::Task<void> RecordEditorController::finish(std::shared_ptr<RecordEditorController> self) {
  if (self->refresh_) {
    try {
      async::Task<void> refresh = self->refresh_();
      co_await std::move(refresh);
    } catch (...) {
      // The list's own reload reports its failures on the screen.
    }
  }
  self->setSaving(false);
  self->notify(Change::dismissed);
}

void RecordEditorController::fail(std::exception_ptr failure, bool sent) {
  std::optional<std::string> text = sent ? writeFailureText(failure) : failureText(failure);
  if (!text) return;
  // The zones changed on the server since the list was read: the screen shows them as they are now.
  if (*text == kZonesChanged && refresh_) async::spawn(refresh_());
  // The answer was lost: the record may be stored, and the list shows it once the server is reached again.
  if (sent && outcomeUnknown(failure) && outcomeUnknown_) outcomeUnknown_();
  setIssue(std::move(*text));
}

void RecordEditorController::setIssue(std::string text) {
  issue_ = std::move(text);
  notify(Change::issue);
}

void RecordEditorController::setSaving(bool on) {
  if (saving_ == on) return;
  saving_ = on;
  notify(Change::busy);
}

}  // namespace dorvik::admin
