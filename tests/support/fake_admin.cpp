#include "support/fake_admin.h"

#include <glib.h>

#include <algorithm>

#include "core/async/task.h"

namespace dorvik::testing {

namespace {

const char* const kMonitoring[] = {"routes", "orders", "trackers"};

std::string queryValue(const std::string& query, const std::string& name) {
  const std::string key = name + "=";
  std::size_t at = 0;
  while (at <= query.size()) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    if (query.compare(at, key.size(), key) == 0) return query.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return "";
}

JSONArray::iterator findById(JSONArray& rows, const std::string& id) {
  return std::find_if(rows.begin(), rows.end(), [&](const JSONValue& row) { return row["id"].string() == id; });
}

}  // namespace

AdminDesk::AdminDesk(StandInServer& server) : server_(server) {
  for (const char* name : {"couriers", "clients", "documents", "companies", "zones", "addresses"})
    lists_[name] = JSONValue(JSONArray{});

  server_.on("POST", "/auth/login", [](const Hit& hit) {
    const std::string role = hit.json()["login"].string() == "admin" ? "admin" : "logist";
    return Answer::json(JSONValue::object(
        {{"accessToken", "token-" + role}, {"refreshToken", "refresh-" + role}, {"user", user(role)}}));
  });
  server_.on("GET", "/keys/map", Answer::json(JSONValue::object({{"configured", false}})));
  server_.on("GET", "/depots", Answer::json(JSONValue::object({{"depots", JSONArray{}}})));
  server_.on("POST", "/panel/clients/learn", Answer::json(JSONValue::object({{"ok", true}})));

  serveCollection({"/admin/couriers", "couriers"});
  serveCollection({"/panel/clients", "clients"});
  serveCollection({"/admin/documents", "documents"});
  serveCollection({"/staff/companies", "companies"});
  serveFiles();

  server_.on("GET", "/panel/zones", [this](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    return Answer::json(JSONValue::object({{"zones", lists_["zones"]}}));
  });
  server_.on("PUT", "/panel/zones", [this](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    const JSONValue zones = hit.json()["zones"];
    if (!zones.isArray()) return Answer::error(400, "Нужен список зон.");
    lists_["zones"] = zones;
    return Answer::json(JSONValue::object({{"zones", zones}}));
  });

  server_.on("GET", "/panel/addresses", [this](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    return Answer::json(JSONValue::object({{"addresses", lists_["addresses"]}}));
  });
  // The model's address synchronisation uploads its corrections; any signed-in user may.
  server_.on("POST", "/panel/addresses", [this](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    JSONArray& rows = lists_["addresses"].mutableArray();
    const JSONValue body = hit.json();
    for (const JSONValue& entry : body["addresses"].array()) {
      auto same =
          std::find_if(rows.begin(), rows.end(), [&](const JSONValue& row) { return row["key"] == entry["key"]; });
      if (same != rows.end()) {
        *same = entry;
      } else {
        rows.push_back(entry);
      }
    }
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  for (const char* name : kMonitoring) {
    const std::string list = name;
    server_.on("GET", "/monitoring/" + list, [this, list](const Hit& hit) {
      if (auto refused = gate(hit, false)) return *refused;
      auto found = dayLists_.find(list + "|" + queryValue(hit.query, "date"));
      JSONValue rows = found == dayLists_.end() ? JSONValue(JSONArray{}) : found->second;
      return Answer::json(JSONValue::object({{list, rows}}));
    });
  }
}

JSONValue AdminDesk::user(const std::string& role) {
  return JSONValue::object({{"id", "u-" + role},
                            {"fullName", role == "admin" ? "Анна Администратор" : "Ирина Логист"},
                            {"role", role},
                            {"depotId", "d1"}});
}

std::shared_ptr<APIClient> AdminDesk::signIn(const std::string& role) {
  APIClient::Options options;
  options.persist = false;
  auto client = async::runBlocking(APIClient::create(server_.url(), options));
  async::runBlocking(client->login(role, "пароль-" + role));
  return client;
}

JSONValue& AdminDesk::list(const std::string& name) { return lists_[name]; }

void AdminDesk::setDayList(const std::string& name, const std::string& day, JSONValue rows) {
  dayLists_[name + "|" + day] = std::move(rows);
}

void AdminDesk::setDocument(const std::string& id, JSONValue document) { documents_[id] = std::move(document); }

void AdminDesk::failNext(const std::string& method, const std::string& path, int status, const std::string& message) {
  failures_[method + " " + path].push_back(Answer::error(status, message));
}

std::optional<Answer> AdminDesk::gate(const Hit& hit, bool write) {
  auto queued = failures_.find(hit.method + " " + hit.path);
  if (queued != failures_.end() && !queued->second.empty()) {
    Answer failure = queued->second.front();
    queued->second.pop_front();
    return failure;
  }
  const std::string bearer = hit.header("Authorization");
  if (bearer != "Bearer token-admin" && bearer != "Bearer token-logist")
    return Answer::error(401, "Войдите в учётную запись.");
  // The administration lists take changes only from an administrator; clients and zones are a logist's work too.
  const bool administration = hit.path.rfind("/admin/", 0) == 0 || hit.path.rfind("/staff/", 0) == 0;
  if (write && administration && bearer != "Bearer token-admin") return Answer::error(403, kForbidden);
  return std::nullopt;
}

void AdminDesk::serveCollection(const Collection& collection) {
  const std::string endpoint = collection.endpoint;
  const std::string member = collection.member;
  server_.on("GET", endpoint, [this, member](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    return Answer::json(JSONValue::object({{member, lists_[member]}}));
  });
  server_.on("POST", endpoint, [this, member](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    JSONValue record = hit.json();
    if (!record.isObject()) return Answer::error(400, "Нужен объект.");
    std::string id = record["id"].string();
    if (id.empty()) id = member.substr(0, 3) + "-" + std::to_string(next_++);
    JSONArray& rows = lists_[member].mutableArray();
    if (findById(rows, id) != rows.end()) return Answer::error(409, "Такая запись уже есть.");
    record.set("id", id);
    if (member == "documents") {
      // The list shows whether a file is stored and its name; the document itself keeps the file.
      record.set("hasFile", record["file"].isObject());
      record.set("fileName", record["file"]["name"].string());
      documents_[id] = record;
      record.erase("file");
    }
    rows.push_back(record);
    return Answer::json(JSONValue::object({{"id", id}}));
  });
  const std::string prefix = endpoint + "/";
  server_.onPrefix("PATCH", prefix, [this, member, prefix](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    const std::string id = hit.path.substr(prefix.size());
    JSONArray& rows = lists_[member].mutableArray();
    auto found = findById(rows, id);
    if (found == rows.end()) return Answer::error(404, "Запись не найдена.");
    const JSONValue changes = hit.json();
    for (const auto& [key, value] : changes.object()) found->set(key, value);
    if (member == "documents") {
      JSONValue& document = documents_[id];
      if (!document.isObject()) document = *found;
      for (const auto& [key, value] : changes.object()) document.set(key, value);
      if (changes.contains("file")) {
        found->set("hasFile", changes["file"].isObject());
        found->set("fileName", changes["file"]["name"].string());
        document.set("hasFile", changes["file"].isObject());
        document.set("fileName", changes["file"]["name"].string());
      }
      found->erase("file");
    }
    return Answer::json(JSONValue::object({{"id", id}}));
  });
  server_.onPrefix("DELETE", prefix, [this, member, prefix](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    const std::string id = hit.path.substr(prefix.size());
    JSONArray& rows = lists_[member].mutableArray();
    auto found = findById(rows, id);
    if (found == rows.end()) return Answer::error(404, "Запись не найдена.");
    rows.erase(found);
    documents_.erase(id);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
  server_.onPrefix("GET", prefix, [this, member, prefix](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    if (auto below = subResource(hit)) return *below;
    const std::string id = hit.path.substr(prefix.size());
    if (auto document = documents_.find(id); document != documents_.end()) return Answer::json(document->second);
    JSONArray& rows = lists_[member].mutableArray();
    auto found = findById(rows, id);
    if (found == rows.end()) return Answer::error(404, "Запись не найдена.");
    return Answer::json(*found);
  });
}

}  // namespace dorvik::testing
