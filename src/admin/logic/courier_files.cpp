#include "admin/logic/courier_files.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "admin/logic/upload_files.h"
#include "core/api/path_encoding.h"
#include "core/base/base64.h"
#include "core/base/errors.h"
#include "core/base/text.h"

namespace dorvik::admin {

namespace {

// The size the file system reports for the file; none for anything but a regular file, whose size means nothing.
// Throws the Russian reason when the file cannot be examined.
std::optional<std::int64_t> reportedSize(const std::string& path) {
  GStatBuf info;
  if (g_stat(path.c_str(), &info) != 0) {
    const int code = errno;
    gchar* name = g_filename_display_basename(path.c_str());
    DorvikError failure(std::string("Не удалось прочитать файл «") + name + "»: " + g_strerror(code));
    g_free(name);
    throw failure;
  }
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(info.st_size);
}

}  // namespace

std::string courierFilesPath(std::string_view courierId) { return "/admin/couriers/" + encodeID(courierId) + "/files"; }

std::string courierFilePath(std::string_view fileId) { return "/admin/courier-files/" + encodeID(fileId); }

std::string courierFileCaption(const JSONValue& file) {
  return std::to_string(file["bytes"].intValue() / 1024) + " КБ · " + file["createdAt"].string();
}

JSONValue courierFileBody(const std::string& path, const std::string& note) {
  const std::optional<std::int64_t> size = reportedSize(path);
  if (!size || *size < 1 || *size > kUploadLimit) throw DorvikError(kCourierFileLimits);
  if (characterCount(note) > kCourierNoteLimit) throw DorvikError(kCourierFileLimits);
  // The read stops past the limit and checks what it got: a file that grew since is refused too.
  UploadFile file = readUploadFile(path, kCourierFileLimits);
  if (file.bytes.empty()) throw DorvikError(kCourierFileLimits);
  return JSONValue::object({{"name", std::move(file.name)},
                            {"mimeType", std::move(file.mime)},
                            {"dataBase64", encodeBase64(file.bytes)},
                            {"note", note}});
}

std::shared_ptr<CourierFilesController> CourierFilesController::create(Record person, AdminGateway gateway) {
  return std::shared_ptr<CourierFilesController>(new CourierFilesController(std::move(person), std::move(gateway)));
}

CourierFilesController::CourierFilesController(Record person, AdminGateway gateway)
    : person_(std::move(person)), gateway_(std::move(gateway)) {}

void CourierFilesController::load() {
  loading_.run("load", [this] { return state_->load(path(), screenSource(gateway_)); });
}

void CourierFilesController::setNote(std::string note) {
  if (note == note_) return;
  note_ = std::move(note);
  observers_.notify(Change::note);
}

bool CourierFilesController::showsPlaceholder() const {
  return !state_->loading() && !state_->issue() && state_->value()["files"].array().empty();
}

bool CourierFilesController::canAttach() const {
  return gateway_.canWriteServer && gateway_.canWriteServer() && !state_->saving() && mayWrite();
}

bool CourierFilesController::mayWrite() const {
  return admin::mayWrite(gateway_, PanelPage::vehicles);
}

void CourierFilesController::attach(const std::string& path, const std::string& openedIn) {
  if (gateway_.generation() != openedIn) return;
  JSONValue body;
  try {
    body = courierFileBody(path, note_);
  } catch (const DorvikError& error) {
    state_->setIssue(error.message());
    return;
  }
  async::spawn(runAttach(weak_from_this(), state_, this->path(), std::move(body), gateway_));
}

async::Task<void> CourierFilesController::runAttach(std::weak_ptr<CourierFilesController> weak,
                                                    std::shared_ptr<ScreenData> state, std::string path, JSONValue body,
                                                    AdminGateway gateway) {
  const bool sent = co_await state->write(path, "POST", std::move(body), screenSource(gateway));
  if (!sent) co_return;
  if (auto self = weak.lock()) self->setNote("");
  co_await state->load(path, screenSource(gateway));
}

void CourierFilesController::setDeleting(std::optional<Record> file) {
  deleting_ = std::move(file);
  observers_.notify(Change::deleting);
}

void CourierFilesController::confirmDelete() {
  if (deleting_) async::spawn(runDelete(state_, path(), courierFilePath(deleting_->id()), gateway_));
  setDeleting(std::nullopt);
}

async::Task<void> CourierFilesController::runDelete(std::shared_ptr<ScreenData> state, std::string listPath,
                                                    std::string filePath, AdminGateway gateway) {
  const bool deleted = co_await state->write(filePath, "DELETE", JSONValue(), screenSource(gateway));
  if (deleted) co_await state->load(listPath, screenSource(gateway));
}

void CourierFilesController::download(const Record& file) {
  std::string name = file["name"].string();
  async::spawn(offerDownload(
      gateway_, courierFilePath(file.id()), [name] { return name; }, state_));
}

}  // namespace dorvik::admin
