#include "support/fake_staff.h"

#include <glib.h>

#include <algorithm>

#include "core/async/task.h"
#include "core/base/text.h"

namespace dorvik::testing {

namespace {

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

  for (const std::string member : {"companies", "people", "depots"})
    server_.on("GET", "/staff/" + member, [this, member](const Hit& hit) {
      if (auto refused = gate(hit)) return *refused;
      if (member == "companies") return Answer::json(JSONValue::object({{member, companies_}}));
      return Answer::json(JSONValue::object({{member, listOf(member == "people" ? people_ : depots_, hit)}}));
    });

  server_.on("POST", "/staff/people", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const JSONValue body = hit.json();
    for (const char* key : {"fullName", "login", "phone", "companyId", "role", "password"})
      if (!hasText(body, key)) return Answer::error(400, std::string("Не заполнено поле ") + key + ".");
    const std::string id = "p-" + std::to_string(next_++);
    JSONValue person = JSONValue::object({{"id", id}});
    for (const char* key : {"fullName", "login", "phone", "companyId", "role", "depots"}) person.set(key, body[key]);
    people_.push(person);
    passwords_[id] = body["password"].string();
    return Answer::json(JSONValue::object({{"id", id}}));
  });
  server_.onPrefix("POST", "/staff/people/", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const std::string id = hit.path.substr(std::string("/staff/people/").size());
    if (!id.ends_with("/password") || !findById(people_, id.substr(0, id.size() - std::string("/password").size())))
      return Answer::error(404, "Сотрудник не найден.");
    const JSONValue body = hit.json();
    const std::size_t length = characterCount(body["password"].string());
    if (length < 8 || length > 200) return Answer::error(400, "Пароль: от 8 до 200 знаков.");
    passwords_[id.substr(0, id.find('/'))] = body["password"].string();
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

std::shared_ptr<APIClient> StaffDesk::signIn(const std::string& login, const std::string& password) {
  APIClient::Options options;
  options.persist = false;
  auto client = async::runBlocking(APIClient::create(server_.url(), options));
  async::runBlocking(client->login(login, password.empty() ? "пароль-" + login : password));
  return client;
}

std::optional<std::string> StaffDesk::password(const std::string& personId) const {
  auto found = passwords_.find(personId);
  if (found == passwords_.end()) return std::nullopt;
  return found->second;
}

std::optional<Answer> StaffDesk::gate(const Hit& hit) {
  const std::string bearer = hit.header("Authorization");
  if (bearer.rfind("Bearer token-", 0) != 0) return Answer::error(401, "Войдите в учётную запись.");
  if (bearer != "Bearer token-superadmin") return Answer::error(403, kForbidden);
  return std::nullopt;
}

JSONValue StaffDesk::listOf(const JSONValue& rows, const Hit& hit) const {
  char* unescaped = g_uri_unescape_string(hit.queryValue("companyId").c_str(), nullptr);
  const std::string company = unescaped ? unescaped : "";
  g_free(unescaped);
  JSONArray out;
  for (const JSONValue& row : rows.array())
    if (row["companyId"].string() == company) out.push_back(row);
  return JSONValue(std::move(out));
}

}  // namespace dorvik::testing
