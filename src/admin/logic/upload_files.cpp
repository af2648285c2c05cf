#include "admin/logic/upload_files.h"

#include <gio/gio.h>

#include "model/workbook_files.h"

namespace dorvik::admin {

std::string mimeForName(std::string_view name) {
  const std::string_view::size_type dot = name.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  const std::string fallback = "application/octet-stream";
  if (extension.empty() || extension.find('/') != std::string_view::npos) return fallback;
  // The type is guessed from the extension alone, never from the rest of the name ("Makefile" has no type).
  const std::string probe = "x." + std::string(extension);
  gboolean uncertain = FALSE;
  gchar* type = g_content_type_guess(probe.c_str(), nullptr, 0, &uncertain);
  gchar* mime = type ? g_content_type_get_mime_type(type) : nullptr;
  std::string out = mime && *mime ? mime : fallback;
  g_free(mime);
  g_free(type);
  return out;
}

UploadFile readUploadFile(const std::string& path, std::string_view tooLarge) {
  UploadFile file;
  file.bytes = readBoundedFile(path, kUploadLimit, tooLarge);
  gchar* name = g_filename_display_basename(path.c_str());
  file.name = name;
  g_free(name);
  file.mime = mimeForName(file.name);
  return file;
}

}  // namespace dorvik::admin
