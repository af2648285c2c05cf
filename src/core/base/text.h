// Text rules shared by the model and the screens: trimming typed text and counting characters as a person does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dorvik {

// The text without white space and line breaks at either end: ASCII white space, the Unicode space and line
// separators, and NEL (U+0085), which pasted text may carry. Text that is not valid UTF-8 loses ASCII white space
// only.
std::string trimmed(std::string_view text);

// User-perceived characters (grapheme clusters): "й" counts once whether composed or written as "и" + breve.
// Text that is not valid UTF-8 counts its bytes.
std::size_t characterCount(std::string_view text);

// The form in which searches compare texts: letter case folded, in canonical composition, so that a query matches
// whatever the case and however "й" or "ё" are written. Text that is not valid UTF-8 is compared as it is.
std::string foldedText(std::string_view text);

}  // namespace dorvik
