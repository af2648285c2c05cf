// CourierFilesController: the papers attached to one courier account (contracts and the like) — the list stored on
// the server, attaching a chosen file with a comment, saving a stored file, and deleting one after confirmation.
//
// The list, the attach and the delete go through one loader, whose saving flag serialises the writes (a second
// write while one runs is refused silently). Attach, delete and download run on after the sheet closed and still
// update the loader; a file chosen or downloaded for an older workspace is dropped without a message.
//
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/keyed_task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "shell/toolkit/screen_data.h"

namespace dorvik::admin {

// The one message for a file outside 1 byte … 8 MiB, a file of unknown size, and a comment over 2000 characters.
inline constexpr const char* kCourierFileLimits = "Файл: от 1 байта до 8 МБ. Комментарий: до 2000 знаков.";
// The longest comment, in user-perceived characters.
inline constexpr std::size_t kCourierNoteLimit = 2000;

std::string courierFilesPath(std::string_view courierId);  // "/admin/couriers/<id>/files"
std::string courierFilePath(std::string_view fileId);      // "/admin/courier-files/<id>"

// The caption of a file row: whole kilobytes (truncated), " КБ · " and "createdAt" as the server sent it.
std::string courierFileCaption(const JSONValue& file);

// The upload body of the file at `path` with the comment as typed: {"name", "mimeType", "dataBase64", "note"}.
// The size the file system reports is checked before anything is read and the bytes read are checked again.
// Throws DorvikError: kCourierFileLimits for a size outside the limits (or none reported) and for a comment too
// long; "Не удалось прочитать файл «name»: reason" when the file cannot be examined or read. Anything but a
// regular file reports no size.
JSONValue courierFileBody(const std::string& path, const std::string& note);

class CourierFilesController : public std::enable_shared_from_this<CourierFilesController> {
 public:
  enum class Change { note, deleting };
  using Connection = Observers<Change>::Connection;

  // `person`: the couriers list's row that was opened.
  static std::shared_ptr<CourierFilesController> create(Record person, AdminGateway gateway);
  CourierFilesController(const CourierFilesController&) = delete;
  CourierFilesController& operator=(const CourierFilesController&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  // Starts loading the list (once); the run is cancelled when the controller goes.
  void load();

  const std::shared_ptr<ScreenData>& state() const { return state_; }
  std::string path() const { return courierFilesPath(person_.id()); }

  std::string fullName() const { return person_["fullName"].string(); }
  // "<login> · <phone>".
  std::string contact() const { return person_["login"].string() + " · " + person_["phone"].string(); }

  const std::string& note() const { return note_; }
  void setNote(std::string note);

  // The files of the last accepted answer, in the server's order.
  std::vector<Record> files() const { return JSONValue::records(state_->value()["files"].array()); }
  // "Файлы не прикреплены": loaded, no issue, no file.
  bool showsPlaceholder() const;

  bool canAttach() const;
  // The courier's files belong to the administration: a logist reads and saves them, nothing more.
  bool mayWrite() const;
  bool canDelete() const { return canAttach(); }
  bool canDownload() const { return !(gateway_.preview && gateway_.preview()); }

  // The workspace when the file chooser opened; pass it back with the chosen file.
  std::string chooserOpened() const { return gateway_.generation(); }
  // Sends the file chosen in a chooser opened in workspace `openedIn`: refused files leave their message in the
  // loader's issue and send nothing; a success clears the comment and reloads the list.
  void attach(const std::string& path, const std::string& openedIn);

  const std::optional<Record>& deleting() const { return deleting_; }
  // Asks for the file's deletion (the confirmation shows while set); none closes it.
  void setDeleting(std::optional<Record> file);
  // The confirmation's action: deletes the pending file and reloads after success; the request closes.
  void confirmDelete();

  // Downloads a stored file and offers it for saving under its name.
  void download(const Record& file);

 private:
  CourierFilesController(Record person, AdminGateway gateway);
  static async::Task<void> runAttach(std::weak_ptr<CourierFilesController> weak, std::shared_ptr<ScreenData> state,
                                     std::string path, JSONValue body, AdminGateway gateway);
  static async::Task<void> runDelete(std::shared_ptr<ScreenData> state, std::string listPath, std::string filePath,
                                     AdminGateway gateway);

  Record person_;
  AdminGateway gateway_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::string note_;
  std::optional<Record> deleting_;
  KeyedTask loading_;
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
