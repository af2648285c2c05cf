#include "core/base/digest.h"

#include <glib.h>

#include <stdexcept>

namespace dorvik {

std::string sha256Hex(std::string_view bytes) {
  // GLib takes the length as gsize: any size goes in one call.
  gchar* text =
      g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  if (!text) throw std::runtime_error("SHA-256 failed");
  std::string hex(text);
  g_free(text);
  return hex;
}

}  // namespace dorvik
