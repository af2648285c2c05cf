// The user's settings: a key file at $XDG_CONFIG_HOME/dorvik/settings.ini, group "defaults". A key never written
// reads as the default its reader gives; every write is saved at once and observers are told.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace dorvik {

// The default server (HTTPS, path "/api"), used while the user default "serverURL" is absent, and its host name,
// shown in the status strip while online.
inline constexpr const char* kDefaultServerURL = "https://api.dorvik.ru/api";
inline constexpr const char* kDefaultServerHost = "api.dorvik.ru";

class UserDefaults {
 public:
  using Observer = std::function<void(const std::string& key)>;

  // The settings file of the user (or the given file, for tests).
  explicit UserDefaults(std::string path = defaultPath());
  static std::string defaultPath();

  std::string string(const std::string& key, const std::string& fallback) const;
  double number(const std::string& key, double fallback) const;
  bool boolean(const std::string& key, bool fallback) const;

  // Writes return false when the file could not be saved (the value still applies for this run).
  bool setString(const std::string& key, const std::string& value);
  bool setNumber(const std::string& key, double value);
  bool setBoolean(const std::string& key, bool value);

  std::uint64_t observe(Observer observer);
  void unobserve(std::uint64_t id);

  const std::string& path() const { return path_; }

 private:
  bool store(const std::string& key, const std::string& text);

  std::string path_;
  std::map<std::string, std::string> values_;
  std::map<std::uint64_t, Observer> observers_;
  std::uint64_t nextId_ = 1;
};

}  // namespace dorvik
