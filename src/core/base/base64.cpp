#include "core/base/base64.h"

#include <array>

namespace dorvik {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string encodeBase64(std::string_view bytes) {
  std::string out;
  out.resize((bytes.size() + 2) / 3 * 4);
  auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0, o = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const unsigned v = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = '=';
  }
  return out;
}

std::optional<std::string> decodeBase64(std::string_view text) {
  static const std::array<signed char, 256> codes = [] {
    std::array<signed char, 256> table{};
    table.fill(-1);
    for (int k = 0; k < 64; ++k) table[static_cast<unsigned char>(kAlphabet[k])] = static_cast<signed char>(k);
    return table;
  }();
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  const std::size_t body = text.size() - padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned value = 0;
  int bits = 0;
  for (std::size_t k = 0; k < body; ++k) {
    const int code = codes[static_cast<unsigned char>(text[k])];
    if (code < 0) return std::nullopt;  // a foreign character, or padding before the end
    value = ((value << 6) | static_cast<unsigned>(code)) & 0xffffff;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((value >> bits) & 0xff));
    }
  }
  // What the padding stands for: one group of two or three characters, whose spare bits must be zero.
  if ((padding == 1 && bits != 2) || (padding == 2 && bits != 4)) return std::nullopt;
  if (bits > 0 && (value & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace dorvik
