#include "core/base/owned_text.h"

#include <glib.h>

namespace dorvik {

void OwnedText::release(char* text) noexcept { g_free(text); }

}  // namespace dorvik
