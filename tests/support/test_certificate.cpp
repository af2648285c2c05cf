#include "support/test_certificate.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <stdexcept>
#include <string>

namespace dorvik::testing {

namespace {
std::string readAll(const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) throw std::runtime_error("cannot read " + path);
  std::string out(contents, length);
  g_free(contents);
  return out;
}
}  // namespace

StandInServer::TLS makeTestCertificate() {
  GError* error = nullptr;
  gchar* dir = g_dir_make_tmp("dorvik-cert-XXXXXX", &error);
  if (!dir) {
    std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("no temporary folder: " + message);
  }
  const std::string folder = dir;
  g_free(dir);
  const std::string key = folder + "/key.pem";
  const std::string cert = folder + "/cert.pem";
  const gchar* argv[] = {"openssl",
                         "req",
                         "-x509",
                         "-newkey",
                         "ec",
                         "-pkeyopt",
                         "ec_paramgen_curve:prime256v1",
                         "-nodes",
                         "-keyout",
                         key.c_str(),
                         "-out",
                         cert.c_str(),
                         "-days",
                         "2",
                         "-subj",
                         "/CN=127.0.0.1",
                         "-addext",
                         "subjectAltName=IP:127.0.0.1",
                         nullptr};
  gint status = 0;
  gchar* err = nullptr;
  const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                    nullptr, &err, &status, &error);
  std::string diagnostics = err ? err : "";
  g_free(err);
  if (!ran || !g_spawn_check_wait_status(status, nullptr)) {
    if (error) g_error_free(error);
    throw std::runtime_error("openssl failed: " + diagnostics);
  }
  StandInServer::TLS tls{readAll(cert), readAll(key)};
  g_remove(key.c_str());
  g_remove(cert.c_str());
  g_rmdir(folder.c_str());
  return tls;
}

}  // namespace dorvik::testing
