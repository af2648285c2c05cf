#include "core/engine/script_context.h"

#include <jsc/jsc.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "core/base/errors.h"
#include "core/base/files.h"

namespace dorvik {

namespace {
constexpr const char* kFallbackError = "Ошибка расчёта";

std::string takeText(char* text) {
  std::string result = text ? text : "";
  g_free(text);
  return result;
}
std::string readComponent(const std::filesystem::path& file, const std::string& name) {
  std::optional<std::string> read;
  try {
    read = files::readWhole(file.string());
  } catch (const files::FileError& e) {
    throw std::system_error(e.code(), std::generic_category(), "Не удалось прочитать компонент " + name);
  }
  if (!read) throw std::system_error(ENOENT, std::generic_category(), "Не удалось прочитать компонент " + name);
  std::string text = std::move(*read);
  if (!g_utf8_validate_len(text.data(), static_cast<gsize>(text.size()), nullptr)) {
    throw std::runtime_error("Компонент " + name + " не является текстом в кодировке UTF-8.");
  }
  return text;
}

// A large JSON request as the script engine keeps it cheapest. The engine stores a text of ASCII characters one
// byte each and any other text two bytes each: a workbook's Base64 of tens of megabytes would double because the
// file's name beside it is Cyrillic. Every character past ASCII (valid JSON has them inside strings only) is
// written as its \u escape instead, which JSON reads as the same character. Small requests are left as they are.
std::string asciiRequest(std::string request) {
  constexpr std::size_t kLarge = 1u << 20;
  if (request.size() < kLarge) return request;
  const auto wide = [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; };
  std::size_t at = 0;
  while (at < request.size() && !wide(request[at])) ++at;
  if (at == request.size()) return request;
  std::string out;
  out.reserve(request.size() + 64);
  out.append(request, 0, at);
  static constexpr char kHex[] = "0123456789abcdef";
  while (at < request.size()) {
    std::size_t end = at;
    while (end < request.size() && wide(request[end])) ++end;
    glong count = 0;
    gunichar2* units = g_utf8_to_utf16(request.data() + at, static_cast<glong>(end - at), nullptr, &count, nullptr);
    if (!units) return request;  // not UTF-8: left to the engine's own reading
    for (glong k = 0; k < count; ++k) {
      const unsigned u = units[k];
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 0xf];
    }
    g_free(units);
    at = end;
    while (end < request.size() && !wide(request[end])) ++end;
    out.append(request, at, end - at);
    at = end;
  }
  return out;
}

std::string fileURL(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  char* uri = g_filename_to_uri((ec ? file : absolute).c_str(), nullptr, nullptr);
  std::string result = uri ? uri : "file://" + file.string();
  g_free(uri);
  return result;
}
}  // namespace

void ScriptContext::sizeHeapForTheProgram() { jsc_options_set_size("forceRAMSize", std::size_t(700) << 20); }

ScriptContext::ScriptContext() {
  vm_ = jsc_virtual_machine_new();
  if (vm_) context_ = jsc_context_new_with_virtual_machine(vm_);
  if (!context_) {
    if (vm_) g_object_unref(vm_);
    throw DorvikError("Не удалось запустить расчёт маршрутов.");
  }
}

ScriptContext::~ScriptContext() {
  threads_.reset();
  if (context_) g_object_unref(context_);
  if (vm_) g_object_unref(vm_);
}

std::string ScriptContext::exceptionText(void* exception) {
  auto* e = static_cast<JSCException*>(exception);
  if (!e) return {};
  // A thrown Error carries its text in the message ("x"; its string form reads "Error: x"); a thrown string
  // has no message and reads the same through the string form.
  if (const char* message = jsc_exception_get_message(e); message && *message) return message;
  return takeText(jsc_exception_to_string(e));
}

void ScriptContext::evaluateComponent(std::string_view source, const std::string& sourceURL, const std::string& name) {
  jsc_context_clear_exception(context_);
  JSCValue* result = jsc_context_evaluate_with_source_uri(context_, source.data(), static_cast<gssize>(source.size()),
                                                          sourceURL.c_str(), 1);
  if (result) g_object_unref(result);
  if (JSCException* e = jsc_context_get_exception(context_)) {
    std::string text = exceptionText(e);
    jsc_context_clear_exception(context_);
    throw DorvikError(name + ": " + (text.empty() ? kFallbackError : text));
  }
}

void ScriptContext::evaluateFile(const std::filesystem::path& file, const std::string& name) {
  evaluateComponent(readComponent(file, name), fileURL(file), name);
}

std::string ScriptContext::callNativeRun(const std::string& request) {
  return std::string(callNativeRunTaking(request).view());
}

std::vector<OwnedText> ScriptContext::callNativeRunParts(std::string request) {
  jsc_context_clear_exception(context_);
  JSCValue* native = jsc_context_get_value(context_, "Native");
  JSCValue* result = nullptr;
  if (native && jsc_value_is_object(native)) {
    request = asciiRequest(std::move(request));
    JSCValue* argument = jsc_value_new_string(context_, request.c_str());
    std::string().swap(request);  // the script has its own copy now
    // A large answer may come in parts (Native.more gives the next ones): the whole text is then never made there.
    result = jsc_value_object_invoke_method(native, "run", JSC_TYPE_VALUE, argument, G_TYPE_BOOLEAN, TRUE,
                                            G_TYPE_NONE);
    g_object_unref(argument);
  }
  std::vector<OwnedText> parts;
  const bool more = native && jsc_value_is_object(native) && jsc_value_object_has_property(native, "more");
  for (;;) {
    if (JSCException* e = jsc_context_get_exception(context_)) {
      std::string text = exceptionText(e);
      jsc_context_clear_exception(context_);
      if (result) g_object_unref(result);
      if (native) g_object_unref(native);
      throw DorvikError(text.empty() ? kFallbackError : text);
    }
    if (!result) {
      if (native) g_object_unref(native);
      throw DorvikError("Расчёт не вернул результат.");
    }
    // A value without a text form (a symbol) fails its conversion: that is no result, not an empty text.
    char* converted = jsc_value_to_string(result);
    g_object_unref(result);
    result = nullptr;
    if (!converted) {
      jsc_context_clear_exception(context_);
      if (native) g_object_unref(native);
      throw DorvikError("Расчёт не вернул результат.");
    }
    const bool last = !more || (!parts.empty() && *converted == '\0');
    if (*converted != '\0' || parts.empty()) parts.emplace_back(converted);
    else g_free(converted);
    if (last) break;
    result = jsc_value_object_invoke_method(native, "more", G_TYPE_NONE);
  }
  if (native) g_object_unref(native);
  return parts;
}

OwnedText ScriptContext::callNativeRunTaking(std::string request) {
  std::vector<OwnedText> parts = callNativeRunParts(std::move(request));
  if (parts.size() == 1) return std::move(parts.front());
  std::size_t size = 0;
  for (const OwnedText& part : parts) size += part.size();
  auto* joined = static_cast<char*>(g_malloc(size + 1));
  std::size_t at = 0;
  for (OwnedText& part : parts) {
    std::memcpy(joined + at, part.data(), part.size());
    at += part.size();
    part = OwnedText();  // each part let go once copied
  }
  joined[size] = '\0';
  return OwnedText(joined);
}

std::string ScriptContext::callNativeRunPadded(std::string request, std::size_t padding) {
  std::vector<OwnedText> parts = callNativeRunParts(std::move(request));
  std::size_t size = 0;
  for (const OwnedText& part : parts) size += part.size();
  std::string joined;
  joined.reserve(size + padding);
  for (OwnedText& part : parts) {
    joined.append(part.view());
    part = OwnedText();  // each part let go once copied
  }
  return joined;
}

void ScriptContext::offerSolveThreads(SolveThreads::Options options) {
  threads_.reset();
  threads_ = std::make_unique<SolveThreads>(context_, std::move(options));
}

std::string ScriptContext::evaluate(std::string_view source, const std::string& sourceURL) {
  jsc_context_clear_exception(context_);
  JSCValue* result = jsc_context_evaluate_with_source_uri(context_, source.data(), static_cast<gssize>(source.size()),
                                                          sourceURL.c_str(), 1);
  if (JSCException* e = jsc_context_get_exception(context_)) {
    std::string text = exceptionText(e);
    jsc_context_clear_exception(context_);
    if (result) g_object_unref(result);
    throw DorvikError(text.empty() ? kFallbackError : text);
  }
  std::string text = result ? takeText(jsc_value_to_string(result)) : std::string();
  if (result) g_object_unref(result);
  return text;
}

}  // namespace dorvik
