// The client's transport against the loopback stand-in server: addresses, headers, statuses and bodies, the two
// sessions, time-outs, redirects and TLS.
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>

#include "core/api/path_encoding.h"
#include "support/resources.h"
#include "support/test_certificate.h"
#include "core/api/api_test_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using Code = TransportError::Code;

TEST(APIClientConstruction, OnlyHttpsOrPlainHttpToThisMachine) {
  for (const char* good :
       {"https://dorvik.example/api", "http://127.0.0.1:8080/api", "http://localhost/api", "http://localhost:1"}) {
    EXPECT_EQ(makeClient(good, transient())->baseURL(), good);
  }
  for (const char* bad : {"http://dorvik.example/api", "dorvik.example/api", "ftp://127.0.0.1/api", "",
                          "http://127.0.0.2/api", "http://localhost.evil.example/api"}) {
    const DorvikError e = dorvikErrorOf(APIClient::create(bad, transient()));
    EXPECT_EQ(e.message(), "Используйте HTTPS для подключения к серверу.") << bad;
    EXPECT_EQ(e.status(), 0);
  }
}

TEST(APIClientTransport, JoinsBaseAndPathAndRefusesOtherAddresses) {
  StandInServer server;
  server.on("GET", "/api/depots", Answer::json(JSONValue::array({1, 2})));
  server.on("GET", "/api/orders/a/b?#Я", Answer::json(JSONValue::object({{"id", "a/b?#Я"}})));
  auto client = makeClient(server.url() + "/api/", transient());

  EXPECT_EQ(async::runBlocking(client->request("/depots")).size(), 2u);
  const JSONValue order = async::runBlocking(client->request("/orders/" + encodePathComponent("a/b?#Я")));
  EXPECT_EQ(order["id"].string(), "a/b?#Я");
  EXPECT_EQ(server.allHits().back().query, "") << "an encoded id starts no query";

  // Dot steps, written or encoded, would be removed by URL parsing and lead to another resource: an id "." or ".."
  // is refused before anything is sent.
  server.on("GET", "/api/admin/files", Answer::json(JSONValue::object({{"wrong", "resource"}})));
  for (const std::string& step : {encodePathComponent(".."), encodePathComponent("."), std::string(".."),
                                  std::string("."), std::string("%2e%2E"), std::string(".%2e")}) {
    for (const std::string& path : {"/admin/couriers/" + step + "/files", "/admin/files/" + step}) {
      const DorvikError e = dorvikErrorOf(client->request(path));
      EXPECT_EQ(e.message(), "Некорректный адрес запроса.") << path;
    }
  }
  EXPECT_EQ(encodePathComponent(".."), "%2E%2E");
  EXPECT_EQ(async::runBlocking(client->request("/orders/" + encodePathComponent("a/b?#Я") + "?x=..")).size(), 1u)
      << "dots in a query or inside an id are no steps";
  EXPECT_EQ(server.hits("/api/admin/files"), 0u);

  for (const char* path : {"depots", "", "/bad%zz", "/50%"}) {
    const DorvikError e = dorvikErrorOf(client->request(path));
    EXPECT_EQ(e.message(), "Некорректный адрес запроса.") << path;
    EXPECT_EQ(e.status(), 0);
  }
  // An id that is empty, or not UTF-8 (the id encoder gives "" for it), leaves an empty segment: refused, whatever
  // the method, so that no request reaches the collection itself or another resource.
  for (const std::string& id : {std::string(), std::string("\xff\xfe"), std::string("Ок\xd0")}) {
    for (const std::string& path :
         {"/admin/documents/" + encodeID(id), "/admin/couriers/" + encodeID(id) + "/files?limit=5"}) {
      for (const char* method : {"GET", "DELETE"}) {
        const DorvikError e = dorvikErrorOf(client->request(path, method));
        EXPECT_EQ(e.message(), "Запрос не отправлен: у записи нет идентификатора.") << path;
        EXPECT_EQ(e.status(), 0);
      }
    }
  }
  EXPECT_EQ(server.allHits().size(), 3u) << "nothing is sent for a refused address";
}

TEST(APIClientTransport, SendsTheFixedHeadersAndNothingElseOfItsOwn) {
  StandInServer server;
  server.on("GET", "/me", Answer::json(JSONValue(JSONObject{})).withHeader("Set-Cookie", "sid=1; Path=/"));
  server.on("POST", "/plans", Answer::empty(204));
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  auto client = makeClient(server.url(), transient());

  EXPECT_TRUE(async::runBlocking(client->request("/me")).isObject());
  async::runBlocking(client->login("ivan", "secret"));
  JSONValue body = JSONValue::object({{"zeta", 1}, {"alpha", "б"}});
  EXPECT_TRUE(async::runBlocking(client->request("/plans", "POST", body, "key-7")).isNull());
  EXPECT_TRUE(async::runBlocking(client->request("/me")).isObject());

  const auto gets = server.hitsOn("/me");
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0].header("Accept"), "application/json");
  EXPECT_EQ(gets[0].header("User-Agent"), "Dorvik-macOS/1.0");
  for (const char* absent : {"Authorization", "Idempotency-Key", "Content-Type"}) {
    EXPECT_FALSE(gets[0].hasHeader(absent)) << absent;
  }
  EXPECT_TRUE(gets[0].body.empty());
  EXPECT_FALSE(gets[1].hasHeader("Cookie")) << "no cookie jar";

  const Hit post = server.hitsOn("/plans").at(0);
  EXPECT_EQ(post.header("Content-Type"), "application/json");
  EXPECT_EQ(post.header("Idempotency-Key"), "key-7");
  EXPECT_EQ(post.header("Authorization"), "Bearer a1");
  EXPECT_EQ(post.body, R"({"alpha":"б","zeta":1})");
}

TEST(APIClientTransport, EmptyAndBinaryAnswers) {
  StandInServer server;
  server.on("GET", "/empty", Answer::empty(200));
  Answer file = Answer::empty(200);
  file.body = std::string("%PDF\0\xff", 6);
  file.contentType = "application/pdf";
  server.on("GET", "/files/1", file);
  auto client = makeClient(server.url(), transient());

  EXPECT_TRUE(async::runBlocking(client->request("/empty")).isNull());
  EXPECT_EQ(async::runBlocking(client->download("/empty")), "");
  EXPECT_EQ(async::runBlocking(client->download("/files/1")), file.body);
}

TEST(APIClientTransport, RefusalsCarryTheServersMessageOrTheStatus) {
  StandInServer server;
  struct Case {
    const char* path;
    int status;
    std::string body;
    std::string message;
  };
  const std::string huge(16 * 1024 * 1024, 'x');
  const Case cases[] = {
      {"/a", 403, R"({"error":{"message":"Нет доступа к складу"}})", "Нет доступа к складу"},
      {"/b", 403, R"({"error":"Нет доступа"})", "Сервер ответил 403."},
      {"/c", 403, "", "Сервер ответил 403."},
      {"/d", 500, "<html>Internal Server Error</html>", "Сервер ответил 500."},
      {"/e", 400, "[1,2]", "Сервер ответил 400."},
      {"/f", 422, R"({"error":{"message":""}})", "Сервер ответил 422."},
      {"/g", 409, R"({"error":{"message":12}})", "12"},
      {"/h", 409, R"({"error":{"message":true}})", "Да"},
      {"/i", 409, R"({"error":{"message":{"text":"x"}}})", "Сервер ответил 409."},
      {"/j", 300, R"({"error":{"code":"x"}})", "Сервер ответил 300."},
      {"/k", 502, R"({"error":{"message":)", "Сервер ответил 502."},
      {"/l", 500, huge, "Сервер ответил 500."},
      {"/m", 404, "\xff\xfe not text", "Сервер ответил 404."},
  };
  for (const Case& c : cases) {
    Answer a = Answer::empty(c.status);
    a.body = c.body;
    server.on("GET", c.path, a);
  }
  auto client = makeClient(server.url(), transient());
  for (const Case& c : cases) {
    const DorvikError e = dorvikErrorOf(client->request(c.path));
    EXPECT_EQ(e.message(), c.message) << c.path;
    EXPECT_EQ(e.status(), c.status) << c.path;
  }
}

TEST(APIClientTransport, SuccessfulAnswersThatAreNotJSONFailWithTheParsersMessage) {
  StandInServer server;
  Answer garbage = Answer::empty(200);
  garbage.body = "<html>maintenance</html>";
  server.on("GET", "/garbage", garbage);
  Answer truncated = Answer::empty(200);
  truncated.body = R"({"orders":[1,2)";
  server.on("GET", "/truncated", truncated);
  Answer bigGarbage = Answer::empty(200);
  bigGarbage.body = std::string(16 * 1024 * 1024, '{');
  server.on("GET", "/big-garbage", bigGarbage);
  JSONArray many(300000, JSONValue::object({{"id", "ord"}, {"lat", 55.75}}));
  server.on("GET", "/big", Answer::json(JSONValue(std::move(many))));
  auto client = makeClient(server.url(), transient());

  for (const char* path : {"/garbage", "/truncated", "/big-garbage"}) {
    try {
      async::runBlocking(client->request(path));
      ADD_FAILURE() << path << " was accepted";
    } catch (const JSONDecodeError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with("Не удалось прочитать JSON")) << path << ": " << e.what();
    }
  }
  EXPECT_EQ(async::runBlocking(client->request("/big")).size(), 300000u);
  EXPECT_EQ(async::runBlocking(client->download("/garbage")), garbage.body) << "download does not parse";
}

TEST(APIClientTransport, AnAnswerThatUnpacksPastTheLimitIsRefusedWithoutGrowingMemory) {
  StandInServer server;
  // 256 MB of zeros weigh a quarter of a megabyte packed.
  Answer bomb = Answer::empty(200);
  bomb.body = gzipOfZeros(std::size_t(256) << 20);
  bomb.withHeader("Content-Encoding", "gzip");
  ASSERT_LT(bomb.body.size(), std::size_t(1) << 20);
  server.on("GET", "/bomb", bomb);
  Answer plain = Answer::empty(200);
  plain.body = "[" + std::string((std::size_t(64) << 20) - 1, ' ') + "]";  // one byte past the limit
  server.on("GET", "/plain", plain);
  server.on("GET", "/fits", Answer::json(JSONValue::array({1, 2, 3})));
  auto client = makeClient(server.url(), transient());

  const std::string tooLarge = "Ответ сервера слишком велик (больше 64 МБ). Обратитесь к администратору сервера.";
  resetPeakResident();
  [[maybe_unused]] const std::size_t before = peakResidentBytes();
  const DorvikError unpacked = dorvikErrorOf(client->request("/bomb"));
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own bookkeeping keeps freed memory resident
  EXPECT_LT(peakResidentBytes() - before, std::size_t(160) << 20) << "at most the limit, not the unpacked size";
#endif
  EXPECT_EQ(unpacked.message(), tooLarge);
  EXPECT_EQ(unpacked.status(), 0);
  EXPECT_EQ(dorvikErrorOf(client->request("/plain")).message(), tooLarge);
  // The client stays usable.
  EXPECT_EQ(async::runBlocking(client->request("/fits")).size(), 3u);
}

TEST(APIClientTransport, AddressCleaningTravelsOnItsOwnSession) {
  StandInServer server;
  server.on("GET", "/ping", Answer::json(true));
  server.on("POST", "/geo/clean", Answer::json(JSONValue::object({{"address", "Москва"}})));
  auto client = makeClient(server.url(), transient());

  JSONValue query = JSONValue::object({{"address", "москва"}});
  async::runBlocking(client->request("/ping"));
  async::runBlocking(client->request("/geo/clean", "POST", query));
  async::runBlocking(client->request("/ping"));
  const auto pings = server.hitsOn("/ping");
  const auto cleans = server.hitsOn("/geo/clean");
  ASSERT_EQ(pings.size(), 2u);
  ASSERT_EQ(cleans.size(), 1u);
  EXPECT_EQ(pings[0].remotePort, pings[1].remotePort) << "the main session keeps its connection";
  EXPECT_NE(cleans[0].remotePort, pings[0].remotePort) << "the address cleaning has a session of its own";
}

TEST(APIClientTransport, EachSessionHasItsOwnTimeLimit) {
  StandInServer server;
  server.on("POST", "/geo/clean", Answer::json(true).held());
  server.on("POST", "/geo/clean?region=77", Answer::json(true).held());
  server.on("GET", "/other", Answer::json(true).held());
  APIClient::Options options = transient();
  options.geocodingTimeouts.total = 300ms;
  options.mainTimeouts.total = 20s;
  auto client = makeClient(server.url(), options);

  JSONValue query = JSONValue::object({{"address", "Тверская 1"}});
  auto clean = start(client->request("/geo/clean", "POST", query));
  auto cleanWithQuery = start(client->request("/geo/clean?region=77", "POST", query));
  auto other = start(client->request("/other"));
  ASSERT_TRUE(spinUntil([&] { return clean->done; }));
  TransportError error(Code::Unknown);
  ASSERT_TRUE(clean->failedWith(&error));
  EXPECT_EQ(error.code(), Code::TimedOut);
  spinFor(200ms);
  EXPECT_FALSE(cleanWithQuery->done) << "a query makes it an ordinary request on the main session";
  EXPECT_FALSE(other->done);
  server.releaseAll();
  ASSERT_TRUE(spinUntil([&] { return cleanWithQuery->done && other->done; }));
  EXPECT_TRUE(cleanWithQuery->ok());
  EXPECT_TRUE(other->ok());
}

TEST(APIClientTransport, TimeOutsAreTimeOutsAndCancellationIsCancellation) {
  StandInServer server;
  server.on("GET", "/held", Answer::json(true).held());
  server.on("GET", "/slow", Answer::json(true).delayed(4s));
  APIClient::Options options = transient();
  options.mainTimeouts.idle = 1s;
  options.mainTimeouts.total = 30s;
  auto client = makeClient(server.url(), options);

  // Nothing arrives for longer than the inactivity limit.
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(transportErrorOf(client->request("/slow")).code(), Code::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);

  // The whole transfer takes longer than its limit.
  options.mainTimeouts.idle = 25s;
  options.mainTimeouts.total = 300ms;
  auto hasty = makeClient(server.url(), options);
  EXPECT_EQ(transportErrorOf(hasty->request("/held")).code(), Code::TimedOut);

  // The caller gives up during the transfer: the stack's "cancelled", never a time-out.
  async::CancelToken token;
  auto cancelled = start(client->request("/held"), token);
  ASSERT_TRUE(spinUntil([&] { return server.hits("/held") == 2; }));
  token.cancel();
  ASSERT_TRUE(spinUntil([&] { return cancelled->done; }));
  TransportError error(Code::Unknown);
  ASSERT_TRUE(cancelled->failedWith(&error));
  EXPECT_EQ(error.code(), Code::Cancelled);

  // A task cancelled before it sends anything ends with the cancellation error and sends nothing.
  async::CancelToken early;
  early.cancel();
  auto never = start(client->request("/held"), early);
  ASSERT_TRUE(spinUntil([&] { return never->done; }));
  EXPECT_TRUE(never->failedWith<CancelledError>());
  EXPECT_EQ(server.hits("/held"), 2u);

  // Cancelled at any turn of the main loop once the server has answered (a sign-out landing while the answer is
  // taken in): each ends, by cancellation or with its answer, and the stack is left sound.
  server.on("POST", "/answered", Answer::json(JSONValue::object({{"ok", true}})));
  bool answered = false;
  for (int turns = 0; !answered; ++turns) {
    ASSERT_LT(turns, 200);
    async::CancelToken late;
    auto out = start(client->request("/answered", "POST", JSONValue::object({})), late);
    ASSERT_TRUE(spinUntil([&] { return server.hits("/answered") == static_cast<std::size_t>(turns + 1); }));
    for (int i = 0; i < turns && !out->done; ++i) g_main_context_iteration(nullptr, TRUE);
    answered = out->done;
    late.cancel();
    ASSERT_TRUE(spinUntil([&] { return out->done; }));
    EXPECT_TRUE(out->ok() || out->failedWith<CancelledError>() || out->failedWith(&error)) << turns;
  }
}

TEST(APIClientTransport, AServerThatIsNotThereIsATransportFailure) {
  int port = 0;
  {
    StandInServer gone;
    port = gone.port();
  }
  auto client = makeClient("http://127.0.0.1:" + std::to_string(port), transient());
  const TransportError e = transportErrorOf(client->request("/depots"));
  EXPECT_EQ(e.code(), Code::CannotConnectToHost);
  EXPECT_EQ(e.message(), "Не удалось подключиться к серверу.");
}

TEST(APIClientTransport, RedirectsAreFollowedOnlyWithinTheServer) {
  StandInServer server;
  StandInServer elsewhere;
  elsewhere.on("GET", "/landing", Answer::json(JSONValue::object({{"stolen", true}})));
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("GET", "/away", Answer::empty(302).withHeader("Location", elsewhere.url() + "/landing"));
  server.on("GET", "/away-by-name",
            Answer::empty(307).withHeader("Location", "http://localhost:" + std::to_string(server.port()) + "/moved"));
  server.on("POST", "/old", Answer::empty(307).withHeader("Location", "/moved"));
  server.on("POST", "/see-other", Answer::empty(303).withHeader("Location", "/moved"));
  server.on("POST", "/moved", Answer::json(JSONValue::object({{"moved", "post"}})));
  server.on("GET", "/moved", Answer::json(JSONValue::object({{"moved", "get"}})));
  server.on("GET", "/loop", Answer::empty(302).withHeader("Location", "/loop"));
  auto client = makeClient(server.url(), transient());
  async::runBlocking(client->login("ivan", "secret"));

  DorvikError away = dorvikErrorOf(client->request("/away"));
  EXPECT_EQ(away.status(), 302);
  EXPECT_EQ(away.message(), "Сервер ответил 302.");
  EXPECT_EQ(dorvikErrorOf(client->request("/away-by-name")).status(), 307) << "another host name is another host";
  EXPECT_EQ(elsewhere.allHits().size(), 0u) << "the bearer token never leaves the server";

  JSONValue body = JSONValue::object({{"n", 1}});
  EXPECT_EQ(async::runBlocking(client->request("/old", "POST", body, "k1"))["moved"].string(), "post");
  const Hit repeated = server.hitsOn("/moved").back();
  EXPECT_EQ(repeated.method, "POST");
  EXPECT_EQ(repeated.body, R"({"n":1})");
  EXPECT_EQ(repeated.header("Authorization"), "Bearer a1");
  EXPECT_EQ(repeated.header("Idempotency-Key"), "k1");
  EXPECT_EQ(async::runBlocking(client->request("/see-other", "POST", body))["moved"].string(), "get");

  EXPECT_EQ(transportErrorOf(client->request("/loop")).code(), Code::TooManyRedirects);
}

TEST(APIClientTransport, HttpsWithACertificateMadeForTheTest) {
  const StandInServer::TLS tls = makeTestCertificate();
  StandInServer server(tls);
  server.on("GET", "/depots", Answer::json(JSONValue::array({JSONValue::object({{"id", "d1"}})})));
  ASSERT_TRUE(server.url().starts_with("https://127.0.0.1:"));

  // The product's verification refuses a certificate no authority signed.
  auto strict = makeClient(server.url(), transient());
  const TransportError refused = transportErrorOf(strict->request("/depots"));
  EXPECT_TRUE(refused.code() == Code::ServerCertificateUntrusted || refused.code() == Code::SecureConnectionFailed)
      << static_cast<int>(refused.code()) << " " << refused.detail();
  EXPECT_EQ(server.allHits().size(), 0u);

  APIClient::Options options = transient();
  options.trustedCertificatePEM = tls.certificatePEM;
  auto trusting = makeClient(server.url(), options);
  EXPECT_EQ(async::runBlocking(trusting->request("/depots")).at(0)["id"].string(), "d1");

  // Trusting one certificate is not trusting every certificate.
  APIClient::Options other = transient();
  other.trustedCertificatePEM = makeTestCertificate().certificatePEM;
  auto mistaken = makeClient(server.url(), other);
  EXPECT_NE(transportErrorOf(mistaken->request("/depots")).code(), Code::Unknown);
}
