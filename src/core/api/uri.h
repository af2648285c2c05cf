// GUri in a unique_ptr, and parsing into one.
#pragma once

#include <glib.h>

#include <memory>
#include <string>

namespace dorvik {

struct UriDeleter {
  void operator()(GUri* uri) const {
    if (uri) g_uri_unref(uri);
  }
};
using UriPtr = std::unique_ptr<GUri, UriDeleter>;

// The parsed address, or null when the text is not an absolute URI under these flags.
inline UriPtr parseUri(const std::string& text, GUriFlags flags) {
  GError* error = nullptr;
  GUri* uri = g_uri_parse(text.c_str(), flags, &error);
  if (error) g_error_free(error);
  return UriPtr(uri);
}

}  // namespace dorvik
