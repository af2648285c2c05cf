// TransportError: a request that never got an HTTP answer (no network, the host unknown or refusing, a time-out,
// a TLS failure, a transfer cancelled while in flight). It is neither a DorvikError (which carries the server's
// refusal or a local failure) nor a CancelledError (which is never shown): the application model tells an
// unreachable server from everything else by this type, and a transfer cancelled in flight by its code.
//
// The codes follow the usual URL-loading numbering, so logs read alike on every platform the server sees.
#pragma once

#include <string>
#include <string_view>

#include "core/base/errors.h"

typedef struct _GError GError;

namespace dorvik {

class TransportError : public std::exception {
 public:
  enum class Code : int {
    Unknown = -1,
    Cancelled = -999,
    TimedOut = -1001,
    CannotFindHost = -1003,
    CannotConnectToHost = -1004,
    NetworkConnectionLost = -1005,
    TooManyRedirects = -1007,
    NotConnectedToInternet = -1009,
    BadServerResponse = -1011,
    SecureConnectionFailed = -1200,
    ServerCertificateUntrusted = -1202,
  };

  // The Russian description of the code; `detail` (the HTTP stack's own words, for logs) is kept apart.
  explicit TransportError(Code code, std::string detail = {});

  Code code() const noexcept { return code_; }
  // The Russian text shown to the user.
  const std::string& message() const noexcept { return message_; }
  // What the HTTP stack said, untranslated; may be empty.
  const std::string& detail() const noexcept { return detail_; }
  const char* what() const noexcept override { return message_.c_str(); }

  bool isCancelled() const noexcept { return code_ == Code::Cancelled; }

  // The Russian description of a code.
  static std::string_view describe(Code code);
  // Classifies a GIO, resolver, TLS or libsoup failure.
  static TransportError fromGError(const GError* error);

 private:
  Code code_;
  std::string message_;
  std::string detail_;
};

}  // namespace dorvik
