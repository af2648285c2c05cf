// HttpSession: one libsoup session of the API client, used on the main context.
//
// Ephemeral by construction: no cookie jar, no cache, no stored credentials. Redirects are followed only within
// the origin (scheme, host and port) of the request that was sent, so headers such as the bearer token never
// reach another server; a redirect elsewhere is not followed and its own answer is returned.
//
// A write (every method but GET and HEAD) leaves at most once per send: the HTTP library never sends it again by
// itself when the connection closes before the answer, since the server may have carried it out.
//
// Failures without an HTTP answer throw TransportError; a token already cancelled before sending throws
// CancelledError; a token cancelled during the transfer ends it with TransportError code Cancelled. An answer
// whose body, as unpacked by the content decoder, passes the session's limit is cut off and refused with
// DorvikError "Ответ сервера слишком велик (больше 64 МБ). …" (status 0).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/async/task.h"

typedef struct _SoupSession SoupSession;

namespace dorvik {

struct HttpTimeouts {
  // Longest wait for the connection or for more data (the socket's inactivity time-out).
  std::chrono::seconds idle{60};
  // Longest time one transfer may take from sending to the last byte of the answer, redirects included.
  std::chrono::milliseconds total{std::chrono::seconds(90)};
};

struct HttpRequest {
  std::string url;  // absolute
  std::string method;
  std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
  std::optional<std::string> body;                           // none: the request has no body at all
};

struct HttpAnswer {
  int status = 0;
  std::string body;
};

class HttpSession {
 public:
  // trustedCertificatePEM: empty in the product. Tests of the TLS path give the PEM text of the one self-made
  // certificate their local server presents; that certificate, and no other, is then accepted although no
  // authority signed it. Verification stays on for everything else.
  // answerLimit: the most bytes an answer body may unpack to.
  static constexpr std::size_t kAnswerLimit = std::size_t(64) << 20;
  HttpSession(HttpTimeouts timeouts, const std::string& trustedCertificatePEM, std::size_t answerLimit = kAnswerLimit);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  const HttpTimeouts& timeouts() const { return timeouts_; }

  // Sends the request and reads the whole answer. The session must outlive the returned task.
  async::Task<HttpAnswer> send(HttpRequest request);

 private:
  struct Impl;
  HttpTimeouts timeouts_;
  std::size_t answerLimit_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dorvik
