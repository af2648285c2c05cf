// AdminDesk: the server side of the data screens and the record editor on a StandInServer — the reference lists
// (couriers, clients, documents, companies, zones, addresses) with their writes, the day's monitoring lists, the
// documents' acknowledgements and stored files, the couriers' attached files, the roles of the signed-in users
// (only an administrator may write under "/admin/" and "/staff/"; a logist changes clients and zones too), and
// failures on demand. Every write is kept in the server's hit log as usual.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/api/api_client.h"
#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class AdminDesk {
 public:
  explicit AdminDesk(StandInServer& server);

  // A client signed in on the server with the role ("admin" or "logist"); the user object it was given.
  std::shared_ptr<APIClient> signIn(const std::string& role);
  static JSONValue user(const std::string& role);

  // The lists as the server holds them now (each an array of objects).
  JSONValue& list(const std::string& name);
  // The day's monitoring list ("routes", "orders", "trackers") for a day "yyyy-MM-dd".
  void setDayList(const std::string& name, const std::string& day, JSONValue rows);
  // The full document GET /admin/documents/<id> answers (the list holds a short form).
  void setDocument(const std::string& id, JSONValue document);

  // The acknowledgements answer of a document (GET /admin/documents/<id>/acks); {"acked": 0, "total": 0,
  // "couriers": []} unless set.
  void setAcks(const std::string& documentId, JSONValue acks);
  // The files attached to a courier as stored: "id", "name", "mimeType", "note", "bytes", "createdAt" and the
  // content in "data" (raw bytes as a string).
  JSONArray& courierFiles(const std::string& courierId);

  // The next request of that method and path (without query) is refused with the status and message.
  void failNext(const std::string& method, const std::string& path, int status, const std::string& message);

  // The message of a refused write.
  static constexpr const char* kForbidden = "Недостаточно прав для этого действия.";

 private:
  struct Collection {
    std::string endpoint;
    std::string member;
  };
  void serveCollection(const Collection& collection);
  void serveFiles();
  // The answer of a GET below a collection's record ("<id>/acks", "<id>/files"), when it is one.
  std::optional<Answer> subResource(const Hit& hit);
  std::optional<Answer> gate(const Hit& hit, bool write);

  StandInServer& server_;
  std::map<std::string, JSONValue> lists_;
  std::map<std::string, JSONValue> dayLists_;  // "name|day"
  std::map<std::string, JSONValue> documents_;
  std::map<std::string, std::deque<Answer>> failures_;  // "METHOD path"
  std::map<std::string, JSONValue> acks_;
  std::map<std::string, JSONArray> courierFiles_;
  int next_ = 1;
};

}  // namespace dorvik::testing
