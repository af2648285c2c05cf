// Shared pieces of the API client suites.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/api/api_client.h"
#include "core/api/transport_error.h"
#include "core/async/task.h"
#include "core/store/secure_store.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

inline std::shared_ptr<APIClient> makeClient(const std::string& base, APIClient::Options options = {}) {
  return async::runBlocking(APIClient::create(base, std::move(options)));
}

inline APIClient::Options transient() {
  APIClient::Options options;
  options.persist = false;
  return options;
}

// A session answer of the server.
inline JSONValue sessionAnswer(const std::string& role, const std::string& access, const std::string& refresh) {
  return JSONValue::object({{"accessToken", access},
                            {"refreshToken", refresh},
                            {"user", JSONValue::object({{"role", role}, {"name", "Ирина"}})}});
}

inline std::optional<std::string> storedRefresh(const APIClient& client) {
  return async::runBlocking(SecureStore::read(client.refreshAccount()));
}

inline void forgetStoredRefresh(const APIClient& client) {
  async::runBlocking(SecureStore::write(std::nullopt, client.refreshAccount()));
}

// A token store in memory: the saved token, what removing it finds, and the value withdrawn when it could not.
struct MemoryTokens {
  enum class Removal { works, locked, fails };
  std::optional<std::string> saved;
  std::optional<std::string> withdrawn;
  Removal removal = Removal::works;

  static APIClient::TokenStore of(const std::shared_ptr<MemoryTokens>& tokens) {
    return APIClient::TokenStore{
        [tokens](std::string) -> async::Task<std::optional<std::string>> { co_return tokens->saved; },
        [tokens](std::optional<std::string> bytes, std::string) -> async::Task<void> {
          tokens->saved = std::move(bytes);
          co_return;
        },
        [tokens](std::string) -> async::Task<SecureStore::Removal> {
          if (tokens->removal == Removal::fails) throw DorvikError("Не удалось удалить сохранённый вход (-2).", 0);
          if (tokens->removal == Removal::locked) co_return SecureStore::Removal::locked;
          const bool had = tokens->saved.has_value();
          tokens->saved.reset();
          co_return had ? SecureStore::Removal::removed : SecureStore::Removal::absent;
        },
        [tokens](std::string, std::string value) -> async::Task<void> {
          tokens->withdrawn = std::move(value);
          co_return;
        },
    };
  }
};

// Runs a task and returns the DorvikError it throws; fails the test when it throws nothing or something else.
template <class T>
DorvikError dorvikErrorOf(async::Task<T> task) {
  try {
    async::runBlocking(std::move(task));
  } catch (const DorvikError& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "another failure: " << e.what();
    return DorvikError("");
  }
  ADD_FAILURE() << "no failure";
  return DorvikError("");
}

template <class T>
TransportError transportErrorOf(async::Task<T> task) {
  try {
    async::runBlocking(std::move(task));
  } catch (const TransportError& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "another failure: " << e.what();
    return TransportError(TransportError::Code::Unknown);
  }
  ADD_FAILURE() << "no failure";
  return TransportError(TransportError::Code::Unknown);
}

}  // namespace dorvik::testing
