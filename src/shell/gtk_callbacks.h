// A captureless lambda as a GLib signal callback.
#pragma once

#include <glib-object.h>

namespace dorvik {

template <class F>
GCallback callback(F function) {
  return reinterpret_cast<GCallback>(+function);
}

}  // namespace dorvik
