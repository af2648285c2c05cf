// StandInServer: a scripted HTTP(S) server on 127.0.0.1 with a free port, for tests of everything that talks to
// the company's server. It runs on the calling thread's main context, beside the code under test, so a test
// drives both by iterating that context (runBlocking, spinUntil).
//
// Scripting: on(method, path, answer) fixes the answer to every hit of that method and decoded path
// ("path?query" first, then the path alone); a handler computes an answer per hit. Unscripted hits get 404. An answer
// can wait (delay) or be held until the test releases it (a time-out, for a client whose limit is shorter than the
// wait), or never come (the connection dropped). Every hit is recorded: method, path, query, headers, body, the
// client's port (two sessions use two connections) and when it arrived on the monotonic clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik::testing {

struct Hit {
  std::string method;
  std::string path;   // percent-decoded by the server's HTTP layer ("%2F" reads "/")
  std::string query;  // without "?"; empty when none
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  int remotePort = 0;
  std::chrono::steady_clock::time_point arrived;

  // The first value of a header (case-insensitive name), or "" when absent.
  std::string header(std::string_view name) const;
  bool hasHeader(std::string_view name) const;
  // The body read as JSON (null when empty).
  JSONValue json() const;
  // The value of the query's first member `name` as sent ("" when absent).
  std::string queryValue(std::string_view name) const;
};

struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::milliseconds delay{0};
  bool hold = false;  // kept until release()
  bool drop = false;  // the connection is closed without an answer: the client sees a network failure

  static Answer json(const JSONValue& value, int status = 200);
  // {"error": {"message": message}} with the status.
  static Answer error(int status, std::string_view message);
  static Answer empty(int status = 200);
  // No answer at all: the connection is closed (after the delay, if any).
  static Answer dropped();
  Answer& delayed(std::chrono::milliseconds d) {
    delay = d;
    return *this;
  }
  Answer& held() {
    hold = true;
    return *this;
  }
  Answer& withHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
};

class StandInServer {
 public:
  struct TLS {
    std::string certificatePEM;
    std::string keyPEM;
  };
  using Handler = std::function<Answer(const Hit&)>;

  // Plain HTTP.
  StandInServer();
  // HTTPS with the given certificate and key.
  explicit StandInServer(const TLS& tls);
  ~StandInServer();
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  int port() const;
  // "http://127.0.0.1:<port>" (https for a TLS server), without a trailing "/".
  std::string url() const;

  // The server goes away (connections refused, open ones closed) and comes back on the same port, with its
  // scripts and record.
  void stop();
  void resume();

  void on(std::string method, std::string path, Answer answer);
  void on(std::string method, std::string path, Handler handler);
  // Answers every hit of the method whose decoded path starts with `prefix` and that no exact script answers (the
  // longest prefix wins).
  void onPrefix(std::string method, std::string prefix, Handler handler);

  // The next hit of the method is handled as scripted (a handler's changes are made), but the connection is closed
  // once the request is read, without the answer: the client cannot tell whether it was carried out.
  void loseNextAnswer(std::string method);

  // Hits of a path (without query), of any method or of one.
  std::size_t hits(std::string_view path) const;
  std::size_t hits(std::string_view method, std::string_view path) const;
  std::vector<Hit> hitsOn(std::string_view path) const;
  const std::vector<Hit>& allHits() const;

  // Answers held and not yet released (of a path, or all).
  std::size_t held(std::string_view path) const;
  std::size_t held() const;
  // Sends the held answers of a path, or all of them. Answers whose client has gone are dropped.
  void release(std::string_view path);
  void releaseAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dorvik::testing
