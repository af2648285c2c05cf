#include "core/api/api_client.h"

#include <glib.h>

#include <algorithm>
#include <string_view>

#include "core/api/path_encoding.h"
#include "core/api/transport_error.h"
#include "core/api/uri.h"
#include "core/async/worker.h"
#include "core/base/errors.h"
#include "core/store/secure_store.h"

namespace dorvik {

namespace {

constexpr const char* kUserAgent = "Dorvik-macOS/1.0";
constexpr const char* kPlatform = "macos";
constexpr const char* kAppVersion = "1.0.0";

constexpr const char* kHTTPSRequired = "Используйте HTTPS для подключения к серверу.";
constexpr const char* kBadAddress = "Некорректный адрес запроса.";
constexpr const char* kUnknownAnswer = "Сервер вернул неизвестный ответ.";
constexpr const char* kRoleRefused =
    "В панель может войти администратор или логист. Для курьера используйте приложение курьера.";
constexpr const char* kSessionUnconfirmed = "Не удалось подтвердить сессию.";
constexpr const char* kSignInRequired = "Войдите в свою учётную запись.";
constexpr const char* kSessionEnded = "Сессия больше не действует. Войдите снова.";

constexpr GUriFlags kUriFlags =
    static_cast<GUriFlags>(G_URI_FLAGS_HAS_PASSWORD | G_URI_FLAGS_ENCODED_PATH | G_URI_FLAGS_ENCODED_QUERY |
                           G_URI_FLAGS_ENCODED_FRAGMENT | G_URI_FLAGS_SCHEME_NORMALIZE);

UriPtr parseUri(const std::string& text) { return dorvik::parseUri(text, kUriFlags); }

std::string hostOf(GUri* uri) {
  const char* host = g_uri_get_host(uri);
  return host ? host : "";
}

// True when a step of the path (before any query) reads "." or "..", written or percent-encoded: URL parsing
// removes such steps, so the request would reach another resource than the one named (an id ".." in
// "/couriers/%2E%2E/files" would make it "/files").
bool hasDotStep(std::string_view path) {
  path = path.substr(0, path.find_first_of("?#"));
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    std::string_view step = path.substr(start, end - start);
    std::size_t dots = 0;
    while (!step.empty()) {
      if (step.front() == '.') {
        step.remove_prefix(1);
      } else if (step.size() >= 3 && step[0] == '%' && step[1] == '2' && (step[2] == 'e' || step[2] == 'E')) {
        step.remove_prefix(3);
      } else {
        break;
      }
      ++dots;
    }
    if (step.empty() && (dots == 1 || dots == 2)) return true;
    start = end + 1;
  }
  return false;
}

bool isPanelRole(const std::string& role) { return role == "admin" || role == "superadmin" || role == "logist"; }

// The server's own words from an error body {"error": {"message": ...}}; empty when the body has none.
std::string serverMessage(const std::string& body) {
  if (body.empty()) return {};
  try {
    const JSONValue value = JSONValue::decode(body);
    const JSONValue& error = value["error"];
    if (!error.isObject()) return {};
    return error["message"].string();
  } catch (const std::exception&) {
    return {};
  }
}

JSONValue decodeAnswer(const std::string& bytes) {
  if (bytes.empty()) return JSONValue();
  return JSONValue::decode(bytes);
}

// Answers up to this size are decoded at once; larger ones (a day's plan, the address list: tens of megabytes
// take a second and more) on a worker thread, so that the main loop keeps running meanwhile.
constexpr std::size_t kDecodedInPlace = 256 * 1024;

async::SerialWorker& answerDecoder() {
  static auto* worker = new async::SerialWorker("answer-decoder");
  return *worker;
}

async::Task<JSONValue> decodeAnswerAside(std::string bytes) {
  if (bytes.size() <= kDecodedInPlace) co_return decodeAnswer(bytes);
  auto job = [bytes = std::move(bytes)] { return decodeAnswer(bytes); };
  auto call = answerDecoder().run(std::move(job));
  JSONValue value = co_await call;
  co_return value;
}

}  // namespace

APIClient::TokenStore APIClient::TokenStore::secureStore() {
  return TokenStore{
      [](std::string account) { return SecureStore::read(std::move(account)); },
      [](std::optional<std::string> bytes, std::string account) {
        return SecureStore::write(std::move(bytes), std::move(account));
      },
      [](std::string account) { return SecureStore::remove(std::move(account)); },
      [](std::string account, std::string value) { return SecureStore::withdraw(std::move(account), std::move(value)); },
  };
}

APIClient::APIClient(std::string baseURL, Options options)
    : baseURL_(std::move(baseURL)),
      persist_(options.persist),
      store_(options.tokenStore ? std::move(*options.tokenStore) : TokenStore::secureStore()) {
  HttpTimeouts main = options.mainTimeouts;
  main.idle = std::min(main.idle, kRequestTimeout);
  HttpTimeouts geocoding = options.geocodingTimeouts;
  geocoding.idle = std::min(geocoding.idle, kGeocodingRequestTimeout);
  session_ = std::make_unique<HttpSession>(main, options.trustedCertificatePEM);
  geocodingSession_ = std::make_unique<HttpSession>(geocoding, options.trustedCertificatePEM);
}

APIClient::~APIClient() {
  if (refreshing_) refreshing_->cancel();
}

async::Task<std::shared_ptr<APIClient>> APIClient::create(std::string baseURL, Options options) {
  // Plain HTTP only to this machine; the scheme is compared as written.
  const bool https = baseURL.starts_with("https:");
  const bool http = baseURL.starts_with("http:");
  UriPtr uri = parseUri(baseURL);
  if (!uri || (!https && !http)) throw DorvikError(kHTTPSRequired, 0);
  const std::string host = hostOf(uri.get());
  if (http && host != "127.0.0.1" && host != "localhost") throw DorvikError(kHTTPSRequired, 0);

  std::shared_ptr<APIClient> client(new APIClient(std::move(baseURL), std::move(options)));
  client->baseHost_ = host;
  if (client->persist_) {
    std::optional<std::string> saved = co_await client->store_.read(client->refreshAccount());
    if (saved && !saved->empty() && g_utf8_validate(saved->data(), static_cast<gssize>(saved->size()), nullptr)) {
      client->refreshToken_ = std::move(*saved);
    }
  }
  co_return client;
}

async::Task<std::string> APIClient::rawData(std::string path, std::string method, std::optional<JSONValue> body,
                                            std::optional<std::string> bearer,
                                            std::optional<std::string> idempotencyKey) {
  if (path.empty() || path.front() != '/' || hasDotStep(path)) throw DorvikError(kBadAddress, 0);
  if (hasEmptySegment(path)) throw DorvikError(kMissingID, 0);
  std::string base = baseURL_;
  const auto first = base.find_first_not_of('/');
  const auto last = base.find_last_not_of('/');
  base = first == std::string::npos ? std::string() : base.substr(first, last - first + 1);
  UriPtr uri = parseUri(base + path);
  if (!uri) throw DorvikError(kBadAddress, 0);
  if (hostOf(uri.get()) != baseHost_) throw DorvikError(kBadAddress, 0);

  HttpRequest request;
  {
    char* text = g_uri_to_string(uri.get());
    request.url = text;
    g_free(text);
  }
  request.method = method;
  request.headers.emplace_back("Accept", "application/json");
  request.headers.emplace_back("User-Agent", kUserAgent);
  if (bearer) request.headers.emplace_back("Authorization", "Bearer " + *bearer);
  if (idempotencyKey) request.headers.emplace_back("Idempotency-Key", *idempotencyKey);
  if (body) {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = body->data();  // a non-finite number throws here, before anything is sent
  }

  async::CancelToken token = co_await async::currentToken();
  token.throwIfCancelled();

  HttpSession& session = path == kGeocodingPath ? *geocodingSession_ : *session_;
  HttpAnswer answer = co_await session.send(std::move(request));
  token.throwIfCancelled();

  if (answer.status <= 0) throw DorvikError(kUnknownAnswer, 0);
  if (answer.status < 200 || answer.status > 299) {
    std::string message = serverMessage(answer.body);
    if (message.empty()) message = "Сервер ответил " + std::to_string(answer.status) + ".";
    throw DorvikError(std::move(message), answer.status);
  }
  co_return std::move(answer.body);
}

async::Task<std::string> APIClient::send(std::string path, std::string method, std::optional<JSONValue> body,
                                         std::optional<std::string> bearer, std::optional<std::string> idempotencyKey,
                                         std::int64_t noted) {
  std::string bytes = co_await rawData(std::move(path), std::move(method), std::move(body), std::move(bearer),
                                       std::move(idempotencyKey));
  if (generation_ != noted) throw CancelledError();
  co_return bytes;
}

async::Task<void> APIClient::renewNoted(std::int64_t noted) {
  // A renewal that ended because the client signed in or out meanwhile is a cancellation.
  try {
    co_await renew();
  } catch (...) {
    if (generation_ != noted) throw CancelledError();
    throw;
  }
  if (generation_ != noted) throw CancelledError();
}

async::Task<std::string> APIClient::withRenewal(std::string path, std::string method, std::optional<JSONValue> body,
                                                std::optional<std::string> idempotencyKey) {
  auto keep = shared_from_this();
  const std::int64_t noted = generation_;
  // A saved session without an access token (a start without network) renews first, so that the request goes
  // out with a token instead of meeting a 401.
  if (!access_ && refreshToken_) co_await renewNoted(noted);
  // The token is read when the request leaves, not when the caller asked.
  const std::optional<std::string> sent = access_;
  try {
    std::string bytes = co_await send(path, method, body, sent, idempotencyKey, noted);
    co_return bytes;
  } catch (const DorvikError& error) {
    if (error.status() != 401) throw;
  }
  // Refused with 401: renew once, then repeat once. A refusal that belongs to an earlier sign-in renews
  // nothing. A token already replaced by a renewal that ended while this request was out renews nothing
  // either: the repetition carries the new one.
  if (generation_ != noted) throw CancelledError();
  if (!access_ || access_ == sent) co_await renewNoted(noted);
  std::optional<std::string> bearer = access_;
  std::string bytes = co_await send(std::move(path), std::move(method), std::move(body), std::move(bearer),
                                    std::move(idempotencyKey), noted);
  co_return bytes;
}

async::Task<JSONValue> APIClient::request(std::string path, std::string method, std::optional<JSONValue> body,
                                          std::optional<std::string> idempotencyKey) {
  auto keep = shared_from_this();
  const std::int64_t noted = generation_;
  std::string bytes =
      co_await withRenewal(std::move(path), std::move(method), std::move(body), std::move(idempotencyKey));
  JSONValue value = co_await decodeAnswerAside(std::move(bytes));
  if (generation_ != noted) throw CancelledError();
  co_return value;
}

async::Task<std::string> APIClient::download(std::string path) {
  auto keep = shared_from_this();
  std::string bytes = co_await withRenewal(std::move(path), "GET", std::nullopt, std::nullopt);
  co_return bytes;
}

async::Task<JSONValue> APIClient::accept(JSONValue answer, std::int64_t expected) {
  if (expected != generation_) throw CancelledError();
  const std::string role = answer["user"]["role"].string();
  if (!isPanelRole(role)) throw DorvikError(kRoleRefused, 403);
  std::string access = answer["accessToken"].string();
  std::string refresh = answer["refreshToken"].string();
  if (access.empty() || refresh.empty()) throw DorvikError(kSessionUnconfirmed, 0);
  access_ = std::move(access);
  refreshToken_ = refresh;
  if (persist_) co_await store_.write(std::move(refresh), refreshAccount());
  co_return answer["user"];
}

async::Task<JSONValue> APIClient::login(std::string identity, std::string password) {
  auto keep = shared_from_this();
  const std::int64_t expected = ++generation_;
  cancelRenewal();
  JSONValue body = JSONValue::object({
      {"login", identity},
      {"phone", identity},
      {"password", password},
      {"platform", kPlatform},
      {"appVersion", kAppVersion},
  });
  std::string bytes = co_await rawData("/auth/login", "POST", std::move(body), std::nullopt, std::nullopt);
  JSONValue answer = decodeAnswer(bytes);
  JSONValue user = co_await accept(std::move(answer), expected);
  co_return user;
}

async::Task<void> APIClient::forgetRefused(std::shared_ptr<APIClient> self, std::string token) {
  const std::string account = self->refreshAccount();
  // A token that stays in a locked keyring is withdrawn instead, so that the next start neither sends it nor
  // opens the workspace offline with it.
  std::exception_ptr failure;
  try {
    if (co_await self->store_.remove(account) != SecureStore::Removal::locked) co_return;
  } catch (const CancelledError&) {
    throw;
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) g_warning("the refused refresh token could not be removed from the secret store; it is withdrawn");
  try {
    co_await self->store_.withdraw(account, std::move(token));
  } catch (const std::exception& e) {
    g_warning("the refused refresh token could not be withdrawn either: %s", e.what());
  }
}

async::Task<JSONValue> APIClient::renewal(std::shared_ptr<APIClient> self, std::string refreshToken,
                                          std::int64_t expected, std::uint64_t serial) {
  JSONValue answer;
  std::exception_ptr failure;
  bool refused = false;
  try {
    JSONValue body = JSONValue::object({{"refreshToken", refreshToken}});
    std::string bytes;
    try {
      bytes = co_await self->rawData("/auth/refresh", "POST", std::move(body), std::nullopt, std::nullopt);
    } catch (const DorvikError& error) {
      // The server refuses the token itself (revoked, reused, expired): no later renewal can succeed.
      refused = error.status() == 401 || error.status() == 403;
      throw;
    }
    answer = decodeAnswer(bytes);
    co_await self->accept(answer, expected);
  } catch (...) {
    failure = std::current_exception();
  }
  const bool current = self->generation_ == expected && self->refreshingSerial_ == serial;
  if (refused && current) {
    // The session is over, in one step: both tokens go under a new generation (so every request of the session
    // still out ends as cancelled, and later ones send no doomed renewal) and the application is told at once,
    // before the wait for the secret store.
    std::string dead = std::move(refreshToken);
    self->access_.reset();
    self->refreshToken_.reset();
    self->refreshing_.reset();
    ++self->generation_;
    if (self->sessionEnded_) self->sessionEnded_();
    if (self->persist_) co_await forgetRefused(self, std::move(dead));
    throw DorvikError(kSessionEnded, 401);
  }
  // Whatever the outcome, the renewal that is still the current one is no longer in flight once it ends.
  if (current) self->refreshing_.reset();
  if (failure) std::rethrow_exception(failure);
  co_return answer;
}

async::Task<JSONValue> APIClient::renew() {
  auto keep = shared_from_this();
  const std::int64_t noted = generation_;
  std::shared_ptr<async::SharedTask<JSONValue>> running = refreshing_;
  if (!running) {
    if (!refreshToken_) throw DorvikError(kSignInRequired, 401);
    // The renewal runs with a token of its own: a caller that gives up waiting does not stop it.
    const std::uint64_t serial = ++refreshingSerial_;
    running = std::make_shared<async::SharedTask<JSONValue>>(renewal(keep, *refreshToken_, noted, serial));
    refreshing_ = running;
  }
  JSONValue answer = co_await running->join();
  if (generation_ != noted) throw CancelledError();
  co_return answer["user"];
}

async::Task<JSONValue> APIClient::restore() {
  auto keep = shared_from_this();
  JSONValue user = co_await renew();
  co_return user;
}

void APIClient::cancelRenewal() {
  if (!refreshing_) return;
  refreshing_->cancel();
  refreshing_.reset();
}

async::Task<std::optional<std::string>> APIClient::signOutHere() {
  auto keep = shared_from_this();
  if (persist_) {
    // Removed while the client is still signed in: when the store refuses, nothing has changed. A renewal that
    // ends during the wait saves its new token; it is removed again.
    for (;;) {
      const std::optional<std::string> before = refreshToken_;
      const SecureStore::Removal removal = co_await store_.remove(refreshAccount());
      if (removal == SecureStore::Removal::locked) throw DorvikError(kKeyringLocked, 0);
      if (refreshToken_ == before) break;
    }
  }
  ++generation_;
  std::optional<std::string> held = std::move(refreshToken_);
  refreshToken_.reset();
  access_.reset();
  cancelRenewal();
  co_return held;
}

async::Task<void> APIClient::tellServerSignedOut(std::string refreshToken) {
  auto keep = shared_from_this();
  try {
    JSONValue body = JSONValue::object({{"refreshToken", std::move(refreshToken)}});
    std::string bytes = co_await rawData("/auth/logout", "POST", std::move(body), std::nullopt, std::nullopt);
    (void)decodeAnswer(bytes);
  } catch (const CancelledError&) {
    throw;
  } catch (...) {
    // The server forgets the session by itself in time; nothing here depends on its answer.
  }
}

async::Task<void> APIClient::logout() {
  auto keep = shared_from_this();
  std::optional<std::string> held = co_await signOutHere();
  if (held) co_await tellServerSignedOut(std::move(*held));
}

}  // namespace dorvik
