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

// A stored setting: its key and the value it reads as while never written or unreadable.
template <class T>
struct Setting {
  const char* key;
  T fallback;
};

// Every setting the program stores, each with its one default.
namespace Settings {
// The colour scheme: "light", "dark", anything else follows the system.
inline constexpr Setting<const char*> appearance{"appearance", "system"};
// A key of the accent palette.
inline constexpr Setting<const char*> accent{"accent", "orange"};
// The base text size in points.
inline constexpr Setting<double> textSize{"textSize", 13};
// The map's extra animations (the system's reduce-motion setting still wins).
inline constexpr Setting<bool> extraMotion{"extraMotion", true};
// The server's base URL, read when the API client is created.
inline constexpr Setting<const char*> serverURL{"serverURL", kDefaultServerURL};
}  // namespace Settings

class UserDefaults {
 public:
  using Observer = std::function<void(const std::string& key)>;

  // The settings file of the user (or the given file, for tests).
  explicit UserDefaults(std::string path = defaultPath());
  static std::string defaultPath();

  std::string string(const std::string& key, const std::string& fallback) const;
  double number(const std::string& key, double fallback) const;
  bool boolean(const std::string& key, bool fallback) const;
  std::string get(const Setting<const char*>& setting) const { return string(setting.key, setting.fallback); }
  double get(const Setting<double>& setting) const { return number(setting.key, setting.fallback); }
  bool get(const Setting<bool>& setting) const { return boolean(setting.key, setting.fallback); }

  // Writes return false when the file could not be saved (the value still applies for this run).
  bool setString(const std::string& key, const std::string& value);
  bool setNumber(const std::string& key, double value);
  bool setBoolean(const std::string& key, bool value);
  bool set(const Setting<const char*>& setting, const std::string& value) { return setString(setting.key, value); }
  bool set(const Setting<double>& setting, double value) { return setNumber(setting.key, value); }
  bool set(const Setting<bool>& setting, bool value) { return setBoolean(setting.key, value); }

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
