// AdminDesk's stored files: the documents' acknowledgements and attachments, and the couriers' attached files.
#include <glib.h>

#include <algorithm>

#include "support/fake_admin.h"

namespace dorvik::testing {

namespace {

const std::string kDocuments = "/admin/documents/";
const std::string kCouriers = "/admin/couriers/";
const std::string kCourierFiles = "/admin/courier-files/";

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The record id between a prefix and a suffix of a decoded path ("" when the path is not of that form).
std::string between(const std::string& path, const std::string& prefix, const std::string& suffix) {
  if (path.rfind(prefix, 0) != 0 || !endsWith(path, suffix) || path.size() <= prefix.size() + suffix.size()) return "";
  return path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
}

Answer bytes(std::string content, std::string type) {
  Answer answer;
  answer.body = std::move(content);
  answer.contentType = std::move(type);
  return answer;
}

// Standard Base64 to bytes; none for text outside the alphabet.
std::optional<std::string> decoded(const std::string& text) {
  const bool alphabet = std::all_of(text.begin(), text.end(),
                                    [](char c) { return g_ascii_isalnum(c) || c == '+' || c == '/' || c == '='; });
  if (!alphabet || text.size() % 4 != 0) return std::nullopt;
  gsize length = 0;
  guchar* data = g_base64_decode(text.c_str(), &length);
  std::string out(reinterpret_cast<const char*>(data), length);
  g_free(data);
  return out;
}

JSONValue listed(const JSONValue& stored) {
  JSONValue shown = stored;
  shown.erase("data");
  return shown;
}

}  // namespace

void AdminDesk::setAcks(const std::string& documentId, JSONValue acks) { acks_[documentId] = std::move(acks); }

JSONArray& AdminDesk::courierFiles(const std::string& courierId) { return courierFiles_[courierId]; }

std::optional<Answer> AdminDesk::subResource(const Hit& hit) {
  if (std::string id = between(hit.path, kDocuments, "/acks"); !id.empty()) {
    auto found = acks_.find(id);
    if (found != acks_.end()) return Answer::json(found->second);
    return Answer::json(JSONValue::object({{"acked", 0}, {"total", 0}, {"couriers", JSONArray{}}}));
  }
  if (std::string id = between(hit.path, kCouriers, "/files"); !id.empty()) {
    JSONArray shown;
    for (const JSONValue& file : courierFiles_[id]) shown.push_back(listed(file));
    return Answer::json(JSONValue::object({{"files", JSONValue(std::move(shown))}}));
  }
  return std::nullopt;
}

void AdminDesk::serveFiles() {
  // A document's attachment, for any signed-in user.
  server_.onPrefix("GET", "/documents/", [this](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    const std::string id = between(hit.path, "/documents/", "/file");
    auto document = documents_.find(id);
    if (id.empty() || document == documents_.end() || !document->second["file"].isObject())
      return Answer::error(404, "Файл не найден.");
    const JSONValue& file = document->second["file"];
    return bytes(decoded(file["dataBase64"].string()).value_or(""), file["mime"].string());
  });

  server_.onPrefix("POST", kCouriers, [this](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    const std::string courier = between(hit.path, kCouriers, "/files");
    if (courier.empty()) return Answer::error(404, "Нет такого адреса.");
    const JSONValue body = hit.json();
    for (const char* key : {"name", "mimeType", "dataBase64", "note"})
      if (!body[key].isString()) return Answer::error(400, "Нужны name, mimeType, dataBase64 и note.");
    std::optional<std::string> data = decoded(body["dataBase64"].string());
    if (!data || data->empty()) return Answer::error(400, "Файл не читается.");
    const std::string id = "cf-" + std::to_string(next_++);
    courierFiles_[courier].push_back(JSONValue::object({{"id", id},
                                                        {"name", body["name"]},
                                                        {"mimeType", body["mimeType"]},
                                                        {"note", body["note"]},
                                                        {"bytes", static_cast<double>(data->size())},
                                                        {"createdAt", "2026-03-05 10:00"},
                                                        {"data", std::move(*data)}}));
    return Answer::json(JSONValue::object({{"id", id}}));
  });

  auto findFile = [this](const std::string& id) -> std::pair<JSONArray*, JSONArray::iterator> {
    for (auto& [courier, files] : courierFiles_) {
      auto found = std::find_if(files.begin(), files.end(), [&](const JSONValue& f) { return f["id"].string() == id; });
      if (found != files.end()) return {&files, found};
    }
    return {nullptr, {}};
  };
  server_.onPrefix("GET", kCourierFiles, [this, findFile](const Hit& hit) {
    if (auto refused = gate(hit, false)) return *refused;
    auto [files, found] = findFile(hit.path.substr(kCourierFiles.size()));
    if (!files) return Answer::error(404, "Файл не найден.");
    return bytes((*found)["data"].string(), (*found)["mimeType"].string());
  });
  server_.onPrefix("DELETE", kCourierFiles, [this, findFile](const Hit& hit) {
    if (auto refused = gate(hit, true)) return *refused;
    auto [files, found] = findFile(hit.path.substr(kCourierFiles.size()));
    if (!files) return Answer::error(404, "Файл не найден.");
    files->erase(found);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
}

}  // namespace dorvik::testing
