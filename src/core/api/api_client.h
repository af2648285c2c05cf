// APIClient: the only object that speaks HTTP to the server, and the holder of the session (access and refresh
// tokens) on it.
//
// It lives on the main context; every operation is a Task run there, so its state needs no lock, but state may
// change across every network wait: several requests can be in flight at once. Keep the client in a shared_ptr
// (create() gives one); each running operation holds it alive until it ends.
//
// Failures:
//  - DorvikError: the server refused (its error.message, or "Сервер ответил <code>.", with the HTTP status), or a
//    local check failed (status 0);
//  - TransportError (core/api/transport_error.h): no HTTP answer at all;
//  - JSONDecodeError: a successful answer that is not JSON;
//  - CancelledError: the calling task was cancelled, or a sign-in or sign-out happened while the operation waited
//    (the answer of an older sign-in generation is never delivered and stores nothing).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/api/http_session.h"
#include "core/async/shared_task.h"
#include "core/async/task.h"
#include "core/json/json_value.h"
#include "core/store/secure_store.h"

namespace dorvik {

class APIClient : public std::enable_shared_from_this<APIClient> {
 public:
  // Where the refresh token is kept: read, written, removed, and withdrawn when it cannot be removed (see
  // SecureStore). The default goes to SecureStore; tests replace it to see what a failing store does to sign-out.
  struct TokenStore {
    std::function<async::Task<std::optional<std::string>>(std::string account)> read;
    std::function<async::Task<void>(std::optional<std::string> bytes, std::string account)> write;
    std::function<async::Task<SecureStore::Removal>(std::string account)> remove;
    std::function<async::Task<void>(std::string account, std::string value)> withdraw;
    static TokenStore secureStore();
  };

  // Why a sign-out stops when a keyring stays locked: the saved session cannot be removed, and a sign-out that
  // left it behind would sign the user back in at the next start.
  static constexpr const char* kKeyringLocked =
      "Связка ключей заблокирована. Разблокируйте её, чтобы выйти из учётной записи.";

  struct Options {
    // Whether the refresh token is kept in the secret store (and read from it at creation).
    bool persist = true;
    // Session settings: the main session carries every request but the address cleaning, which has its own.
    // The socket inactivity limit is the shorter of the session's (25 s; 20 s) and the request's own
    // (60 s; 20 s); a whole transfer may last at most 90 s (22 s for the address cleaning).
    HttpTimeouts mainTimeouts{std::chrono::seconds(25), std::chrono::seconds(90)};
    HttpTimeouts geocodingTimeouts{std::chrono::seconds(20), std::chrono::seconds(22)};
    // Tests only: the PEM text of a self-made certificate to accept (see HttpSession). Empty in the product.
    std::string trustedCertificatePEM;
    // Tests only: where refresh tokens go; none means SecureStore.
    std::optional<TokenStore> tokenStore;
  };

  // The request time-outs of the two kinds of traffic, combined with the sessions' as Options says.
  static constexpr std::chrono::seconds kRequestTimeout{60};
  static constexpr std::chrono::seconds kGeocodingRequestTimeout{20};
  // The one path that travels on the geocoding session.
  static constexpr const char* kGeocodingPath = "/geo/clean";

  // Builds a client for a server. Refuses anything but HTTPS (plain HTTP only to "127.0.0.1" and "localhost")
  // with "Используйте HTTPS для подключения к серверу."; with persist, reads the saved refresh token (a store
  // failure is thrown).
  static async::Task<std::shared_ptr<APIClient>> create(std::string baseURL, Options options);
  static async::Task<std::shared_ptr<APIClient>> create(std::string baseURL) {
    return create(std::move(baseURL), Options{});
  }

  ~APIClient();
  APIClient(const APIClient&) = delete;
  APIClient& operator=(const APIClient&) = delete;

  // The base URL exactly as given.
  const std::string& baseURL() const { return baseURL_; }
  // The secret store account of this server's refresh token.
  std::string refreshAccount() const { return "refresh:" + baseURL_; }
  // True when a refresh token is held (saved or obtained): a session can be restored.
  bool hasSavedSession() const { return refreshToken_.has_value(); }
  // The sign-in generation, raised by every sign-in and sign-out.
  std::int64_t generation() const { return generation_; }

  // Sends path (beginning with "/", joined to the base URL) with the headers, the bearer token and an optional
  // idempotency key; renews the tokens once after a 401 and repeats once. An empty answer gives null.
  async::Task<JSONValue> request(std::string path, std::string method = "GET",
                                 std::optional<JSONValue> body = std::nullopt,
                                 std::optional<std::string> idempotencyKey = std::nullopt);
  // GET of raw bytes (a stored file), with the same renewal rule.
  async::Task<std::string> download(std::string path);

  // Signs in with a login or phone number (already trimmed) and a password; returns the "user" object. Only
  // the panel's roles get a session.
  async::Task<JSONValue> login(std::string identity, std::string password);
  // Renews the saved session; returns the "user" object of the answer.
  async::Task<JSONValue> restore();
  // Signs out on this computer: the saved refresh token is removed first (a locked keyring is asked to unlock),
  // then both tokens are forgotten under a new sign-in generation. Answers the refresh token the server is still
  // to be told of (none when none was held). When the saved token cannot be removed nothing changes: the client
  // stays signed in and throws DorvikError kKeyringLocked, or the store's own message.
  async::Task<std::optional<std::string>> signOutHere();
  // Tells the server that the session of this refresh token ended (POST "/auth/logout"). Every failure is
  // ignored: the server forgets the session by itself in time.
  async::Task<void> tellServerSignedOut(std::string refreshToken);
  // Both: signs out here, then tells the server.
  async::Task<void> logout();

  // Called when the server refuses the refresh token as revoked or reused (401 or 403 to a renewal): the session is
  // over, and the client has already forgotten both tokens under a new sign-in generation, so every request still
  // waiting on this session ends by cancellation and none reports a missing sign-in meanwhile. The handler runs at
  // once, before the saved token is removed (or, in a keyring that stays locked, withdrawn); only `restore()`
  // fails with "Сессия больше не действует. Войдите снова." (status 401). The application then asks the user to
  // sign in again.
  void onSessionEnded(std::function<void()> handler) { sessionEnded_ = std::move(handler); }

 private:
  APIClient(std::string baseURL, Options options);

  async::Task<std::string> rawData(std::string path, std::string method, std::optional<JSONValue> body,
                                   std::optional<std::string> bearer, std::optional<std::string> idempotencyKey);
  async::Task<JSONValue> accept(JSONValue answer, std::int64_t expected);
  async::Task<JSONValue> renew();
  static async::Task<JSONValue> renewal(std::shared_ptr<APIClient> self, std::string refreshToken,
                                        std::int64_t expected, std::uint64_t serial);
  static async::Task<void> forgetRefused(std::shared_ptr<APIClient> self, std::string token);
  async::Task<std::string> send(std::string path, std::string method, std::optional<JSONValue> body,
                                std::optional<std::string> bearer, std::optional<std::string> idempotencyKey,
                                std::int64_t noted);
  async::Task<void> renewNoted(std::int64_t noted);
  async::Task<std::string> withRenewal(std::string path, std::string method, std::optional<JSONValue> body,
                                       std::optional<std::string> idempotencyKey);
  void cancelRenewal();

  std::string baseURL_;
  std::string baseHost_;
  std::unique_ptr<HttpSession> session_;
  std::unique_ptr<HttpSession> geocodingSession_;
  std::optional<std::string> access_;
  std::optional<std::string> refreshToken_;
  std::int64_t generation_ = 0;
  std::shared_ptr<async::SharedTask<JSONValue>> refreshing_;
  std::uint64_t refreshingSerial_ = 0;
  bool persist_ = true;
  TokenStore store_;
  std::function<void()> sessionEnded_;
};

}  // namespace dorvik
