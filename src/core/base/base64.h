// Standard Base64 both ways: the workbooks the planner component reads and writes, and the files sent to the
// server. Plain functions, safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorvik {

// Standard Base64 (RFC 4648 alphabet, with padding, without line breaks).
std::string encodeBase64(std::string_view bytes);

// Decodes standard Base64 strictly: the length is a multiple of four, every character is of the alphabet,
// padding stands only at the end (at most two), and the bits past the last byte are zero. Anything else gives
// none, never a shortened result. The empty text decodes to no bytes.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace dorvik
