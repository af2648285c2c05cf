#include "support/resources.h"

#include <gio/gio.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace dorvik::testing {

std::string gzipOfZeros(std::size_t unpacked) {
  GZlibCompressor* compressor = g_zlib_compressor_new(G_ZLIB_COMPRESSOR_FORMAT_GZIP, 9);
  const std::vector<char> zeros(1 << 20, '\0');
  std::vector<char> out(1 << 20);
  std::string packed;
  std::size_t fed = 0;
  for (bool finished = false; !finished;) {
    const std::size_t piece = std::min(zeros.size(), unpacked - fed);
    const bool last = fed + piece == unpacked;
    gsize read = 0, written = 0;
    GError* error = nullptr;
    const GConverterResult result =
        g_converter_convert(G_CONVERTER(compressor), zeros.data(), piece, out.data(), out.size(),
                            last ? G_CONVERTER_INPUT_AT_END : G_CONVERTER_NO_FLAGS, &read, &written, &error);
    if (result == G_CONVERTER_ERROR) {
      const std::string message = error->message;
      g_error_free(error);
      g_object_unref(compressor);
      throw std::runtime_error("gzip: " + message);
    }
    packed.append(out.data(), written);
    fed += read;
    finished = result == G_CONVERTER_FINISHED;
  }
  g_object_unref(compressor);
  return packed;
}

std::size_t peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace dorvik::testing
