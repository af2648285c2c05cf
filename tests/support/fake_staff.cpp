#include "support/fake_staff.h"

#include <glib.h>

#include <algorithm>

#include "core/async/task.h"
#include "core/base/text.h"

namespace dorvik::testing {

namespace {

// The decoded value of a query parameter ("" when absent or badly escaped).
std::string queryValue(const std::string& query, const std::string& name) {
  const std::string key = name + "=";
  std::size_t at = 0;
  while (at <= query.size()) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    if (query.compare(at, key.size(), key) == 0) {
      const std::string raw = query.substr(at + key.size(), end - at - key.size());
      char* decoded = g_uri_unescape_string(raw.c_str(), nullptr);
      std::string out = decoded ? decoded : "";
      g_free(decoded);
      return out;
    }
    at = end + 1;
  }
  return "";
}

JSONValue* findById(JSONValue& rows, const std::string& id) {
  for (JSONValue& row : rows.mutableArray())
    if (row["id"].string() == id) return &row;
  return nullptr;
}

bool hasText(const JSONValue& body, const char* key) { return !trimmed(body[key].string()).empty(); }

}  // namespace

StaffDesk::StaffDesk(StandInServer& server) : server_(server) {
  server_.on("POST", "/auth/login", [this](const Hit& hit) {
    const JSONValue body = hit.json();
    const std::string login = body["login"].string();
    JSONValue profile;
    std::string token;
    if (login == "superadmin" || login == "admin" || login == "logist") {
      profile = user(login);
      token = login;
    } else {
      for (const JSONValue& person : people_.array()) {
        auto stored = passwords_.find(person["id"].string());
        if (person["login"].string() == login && stored != passwords_.end() &&
            stored->second == body["password"].string()) {
          profile = person;
          token = "person-" + person["id"].string();
        }
      }
    }
    if (profile.isNull()) return Answer::error(401, "Неверный логин или пароль.");
    return Answer::json(JSONValue::object(
        {{"accessToken", "token-" + token}, {"refreshToken", "refresh-" + token}, {"user", profile}}));
  });
  server_.on("GET", "/keys/map", Answer::json(JSONValue::object({{"configured", false}})));
  server_.on("GET", "/depots", Answer::json(JSONValue::object({{"depots", JSONArray{}}})));

  server_.on("GET", "/staff/companies", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    return Answer::json(JSONValue::object({{"companies", companies_}}));
  });
  server_.on("GET", "/staff/people", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    return Answer::json(JSONValue::object({{"people", listOf(people_, hit)}}));
  });
  server_.on("GET", "/staff/depots", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    return Answer::json(JSONValue::object({{"depots", listOf(depots_, hit)}}));
  });

  server_.on("POST", "/staff/people", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const JSONValue body = hit.json();
    for (const char* key : {"fullName", "login", "phone", "companyId", "role"})
      if (!hasText(body, key)) return Answer::error(400, std::string("Не заполнено поле ") + key + ".");
    if (!findById(companies_, body["companyId"].string())) return Answer::error(404, "Компания не найдена.");
    if (characterCount(body["password"].string()) < 8) return Answer::error(400, "Пароль короче 8 знаков.");
    if (!body["depots"].isArray() || body["depots"].array().empty())
      return Answer::error(400, "Нужен хотя бы один склад.");
    for (const JSONValue& person : people_.array())
      if (person["login"] == body["login"]) return Answer::error(409, "Такой логин уже есть.");
    const std::string id = "p-" + std::to_string(next_++);
    JSONValue person = JSONValue::object({{"id", id}});
    for (const char* key : {"fullName", "login", "phone", "companyId", "role", "depots"}) person.set(key, body[key]);
    people_.push(person);
    passwords_[id] = body["password"].string();
    return Answer::json(JSONValue::object({{"id", id}}));
  });
  server_.onPrefix("POST", "/staff/people/", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const std::string prefix = "/staff/people/";
    const std::string suffix = "/password";
    if (hit.path.size() <= prefix.size() + suffix.size() ||
        hit.path.compare(hit.path.size() - suffix.size(), suffix.size(), suffix) != 0)
      return Answer::error(404, "Нет такого действия.");
    const std::string id = hit.path.substr(prefix.size(), hit.path.size() - prefix.size() - suffix.size());
    if (!findById(people_, id)) return Answer::error(404, "Сотрудник не найден.");
    const JSONValue body = hit.json();
    const std::size_t length = characterCount(body["password"].string());
    if (length < 8 || length > 200) return Answer::error(400, "Пароль: от 8 до 200 знаков.");
    passwords_[id] = body["password"].string();
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  server_.on("POST", "/staff/depots", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    JSONValue body = hit.json();
    if (!body.isObject() || !hasText(body, "name")) return Answer::error(400, "Не заполнено название склада.");
    if (!findById(companies_, body["companyId"].string())) return Answer::error(404, "Компания не найдена.");
    const std::string id = "d-" + std::to_string(next_++);
    body.set("id", id);
    depots_.push(body);
    return Answer::json(JSONValue::object({{"id", id}}));
  });
  server_.onPrefix("PATCH", "/staff/depots/", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    JSONValue* depot = findById(depots_, hit.path.substr(std::string("/staff/depots/").size()));
    if (!depot) return Answer::error(404, "Склад не найден.");
    const JSONValue body = hit.json();
    if (!body.isObject()) return Answer::error(400, "Нужен объект.");
    for (const auto& [key, value] : body.object()) depot->set(key, value);
    return Answer::json(JSONValue::object({{"id", (*depot)["id"]}}));
  });
}

JSONValue StaffDesk::user(const std::string& role) {
  const char* name = role == "superadmin" ? "Сергей Суперадмин" : role == "admin" ? "Анна Администратор" : "Ирина Логист";
  return JSONValue::object({{"id", "u-" + role}, {"fullName", name}, {"role", role}, {"depotId", "d1"}});
}

std::shared_ptr<APIClient> StaffDesk::signIn(const std::string& role) {
  APIClient::Options options;
  options.persist = false;
  auto client = async::runBlocking(APIClient::create(server_.url(), options));
  async::runBlocking(client->login(role, "пароль-" + role));
  return client;
}

std::optional<std::string> StaffDesk::password(const std::string& personId) const {
  auto found = passwords_.find(personId);
  if (found == passwords_.end()) return std::nullopt;
  return found->second;
}

void StaffDesk::failNext(const std::string& method, const std::string& path, int status, const std::string& message) {
  failures_[method + " " + path].push_back(Answer::error(status, message));
}

std::optional<Answer> StaffDesk::gate(const Hit& hit) {
  auto queued = failures_.find(hit.method + " " + hit.path);
  if (queued != failures_.end() && !queued->second.empty()) {
    Answer failure = queued->second.front();
    queued->second.pop_front();
    return failure;
  }
  const std::string bearer = hit.header("Authorization");
  if (bearer.rfind("Bearer token-", 0) != 0) return Answer::error(401, "Войдите в учётную запись.");
  if (bearer != "Bearer token-superadmin") return Answer::error(403, kForbidden);
  return std::nullopt;
}

JSONValue StaffDesk::listOf(const JSONValue& rows, const Hit& hit) const {
  const std::string company = queryValue(hit.query, "companyId");
  JSONArray out;
  for (const JSONValue& row : rows.array())
    if (row["companyId"].string() == company) out.push_back(row);
  return JSONValue(std::move(out));
}

}  // namespace dorvik::testing
