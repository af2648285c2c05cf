#include "core/settings/user_defaults.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <charconv>
#include <vector>

namespace dorvik {

namespace {
constexpr const char* kGroup = "defaults";
}

std::string UserDefaults::defaultPath() {
  gchar* path = g_build_filename(g_get_user_config_dir(), "dorvik", "settings.ini", nullptr);
  std::string out = path;
  g_free(path);
  return out;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_file(file, path_.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gsize count = 0;
    gchar** keys = g_key_file_get_keys(file, kGroup, &count, nullptr);
    for (gsize i = 0; keys && i < count; ++i) {
      gchar* value = g_key_file_get_string(file, kGroup, keys[i], nullptr);
      if (value) values_[keys[i]] = value;
      g_free(value);
    }
    g_strfreev(keys);
  }
  g_key_file_free(file);
}

std::string UserDefaults::string(const std::string& key, const std::string& fallback) const {
  auto it = values_.find(key);
  return it == values_.end() ? fallback : it->second;
}

double UserDefaults::number(const std::string& key, double fallback) const {
  auto it = values_.find(key);
  if (it == values_.end()) return fallback;
  double value = 0;
  const std::string& text = it->second;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

bool UserDefaults::boolean(const std::string& key, bool fallback) const {
  auto it = values_.find(key);
  if (it == values_.end()) return fallback;
  if (it->second == "true") return true;
  if (it->second == "false") return false;
  return fallback;
}

bool UserDefaults::setString(const std::string& key, const std::string& value) { return store(key, value); }

bool UserDefaults::setNumber(const std::string& key, double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return store(key, ec == std::errc() ? std::string(buffer, end) : "0");
}

bool UserDefaults::setBoolean(const std::string& key, bool value) { return store(key, value ? "true" : "false"); }

bool UserDefaults::store(const std::string& key, const std::string& text) {
  auto it = values_.find(key);
  const bool changed = it == values_.end() || it->second != text;
  values_[key] = text;
  // Rewrite the whole group from what this run knows; the file keeps other groups untouched.
  GKeyFile* file = g_key_file_new();
  g_key_file_load_from_file(file, path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
  for (const auto& [k, v] : values_) g_key_file_set_string(file, kGroup, k.c_str(), v.c_str());
  gchar* folder = g_path_get_dirname(path_.c_str());
  g_mkdir_with_parents(folder, 0700);
  g_free(folder);
  const bool saved = g_key_file_save_to_file(file, path_.c_str(), nullptr);
  g_key_file_free(file);
  if (changed) {
    std::vector<std::pair<std::uint64_t, Observer>> current(observers_.begin(), observers_.end());
    for (auto& [id, observer] : current)
      if (observers_.count(id)) observer(key);
  }
  return saved;
}

std::uint64_t UserDefaults::observe(Observer observer) {
  std::uint64_t id = nextId_++;
  observers_[id] = std::move(observer);
  return id;
}

void UserDefaults::unobserve(std::uint64_t id) { observers_.erase(id); }

}  // namespace dorvik
