#include "support/locked_keyring.h"

#include <gio/gio.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <string_view>
#include <utility>
#include <vector>

namespace dorvik::testing {

namespace {

constexpr std::string_view kPassword = "dorvik-test-password";

std::string selfPath() {
  g_autofree gchar* self = g_file_read_link("/proc/self/exe", nullptr);
  return self ? self : "";
}

GDBusConnection* sessionBus() {
  static GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  return bus;
}

}  // namespace

ChildRun runInOwnKeyring(const std::string& test, const std::string& flag) {
  g_autofree gchar* scratch = g_dir_make_tmp("dorvik-keyring-XXXXXX", nullptr);
  ChildRun run;
  if (!scratch) return run;
  const std::string home = scratch;
  for (const char* sub : {"/data", "/config", "/run"}) g_mkdir((home + sub).c_str(), 0700);
  std::vector<std::string> args = {"dbus-run-session", "--", std::string(DORVIK_SOURCE_DIR) + "/scripts/with-session.sh",
                                   selfPath(), "--gtest_filter=" + test};
  std::vector<gchar*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  gchar** env = g_get_environ();
  const std::pair<std::string, std::string> settings[] = {{flag, "1"},
                                                          {"DORVIK_INSIDE_SESSION", "1"},
                                                          {"HOME", home},
                                                          {"XDG_DATA_HOME", home + "/data"},
                                                          {"XDG_CONFIG_HOME", home + "/config"},
                                                          {"XDG_RUNTIME_DIR", home + "/run"}};
  for (const auto& [name, value] : settings) env = g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
  gchar* out = nullptr;
  gint status = 0;
  GError* error = nullptr;
  const gboolean ran =
      g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, nullptr, &status, &error);
  g_strfreev(env);
  run.output = out ? out : (error ? error->message : "");
  g_free(out);
  if (error) g_error_free(error);
  run.passed =
      ran && g_spawn_check_wait_status(status, nullptr) && run.output.find("[  PASSED  ] 1 test") != std::string::npos;
  g_autofree gchar* rm = g_strdup_printf("rm -rf %s", scratch);
  g_spawn_command_line_sync(rm, nullptr, nullptr, nullptr, nullptr);
  return run;
}

SecretCollection* lockLoginKeyring() {
  GVariant* owned = g_dbus_connection_call_sync(
      sessionBus(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.gnome.keyring.SystemPrompter", 0x2 | 0x4), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  EXPECT_NE(owned, nullptr);
  if (owned) g_variant_unref(owned);
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
  EXPECT_NE(service, nullptr);
  SecretCollection* login =
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  EXPECT_NE(login, nullptr);
  GList objects{login, nullptr, nullptr};
  EXPECT_EQ(secret_service_lock_sync(service, &objects, nullptr, nullptr, &error), 1);
  EXPECT_TRUE(secret_collection_get_locked(login));
  g_object_unref(service);
  return login;
}

void unlockWithPassword(SecretCollection* collection) {
  GError* error = nullptr;
  GVariant* session = g_dbus_connection_call_sync(sessionBus(), "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                  "org.freedesktop.Secret.Service", "OpenSession",
                                                  g_variant_new("(sv)", "plain", g_variant_new_string("")),
                                                  G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  ASSERT_NE(session, nullptr) << error->message;
  const gchar* sessionPath = nullptr;
  g_variant_get(session, "(v&o)", nullptr, &sessionPath);
  GVariant* secret =
      g_variant_new("(o@ay@ays)", sessionPath, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                    g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, kPassword.data(), kPassword.size(), 1), "text/plain");
  GVariant* unlocked = g_dbus_connection_call_sync(
      sessionBus(), "org.freedesktop.secrets", "/org/freedesktop/secrets",
      "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
      g_variant_new("(o@(oayays))", g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection)), secret), nullptr,
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  g_variant_unref(session);
  ASSERT_NE(unlocked, nullptr) << error->message;
  g_variant_unref(unlocked);
}

}  // namespace dorvik::testing
