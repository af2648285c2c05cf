// GLib objects held in unique_ptr: GObjects, errors and byte buffers.
#pragma once

#include <glib-object.h>

#include <memory>

namespace dorvik {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* error) const {
    if (error) g_error_free(error);
  }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GBytesUnref {
  void operator()(GBytes* bytes) const {
    if (bytes) g_bytes_unref(bytes);
  }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

}  // namespace dorvik
