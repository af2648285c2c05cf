// A stand-in for the model behind the data screens and the record editor: every request and workflow call is
// recorded and waits until the test answers, fails or leaves it; the workspace flags are plain fields.
//
// A suite over it derives its fixture from GatewayTest (the gateway is `fake`, a controller takes `fake.gateway()`)
// and says `using namespace dorvik::admin::testing;`, which also brings the main-loop waits (spinFor, spinUntil)
// and the duration literals.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "core/async/sleep.h"
#include "core/base/errors.h"
#include "support/async_helpers.h"

namespace dorvik::admin::testing {

using dorvik::testing::spinFor;
using dorvik::testing::spinUntil;
using namespace std::chrono_literals;

struct FakeCall {
  // "GET", "PUT", ..., or the workflow: "refreshReferenceData", "remember", "lookup", "export", "download" (answered
  // with the file's bytes as a JSON string), "saveFile" (the suggested name as path, the bytes as body)
  std::string method;
  std::string path;  // the request path; the address of a lookup or remember
  std::optional<JSONValue> body;
  std::optional<JSONValue> answer;
  std::exception_ptr failure;
  bool done = false;
  bool cancelled = false;  // ended by its task's cancellation
};

class FakeGateway {
 public:
  std::vector<std::shared_ptr<FakeCall>> calls;
  std::string generation = "g1";
  bool offline = false;
  bool preview = false;
  bool canWrite = true;
  std::string role = "admin";
  bool signedIn = true;  // without a client a download asks nothing
  // Answers a call at once when it returns a value (requests only).
  std::function<std::optional<JSONValue>(const FakeCall&)> autoAnswer;
  // Workflows (refreshReferenceData, remember, export) end at once unless held.
  bool holdWorkflows = false;

  AdminGateway gateway() {
    AdminGateway g;
    g.fetch = [this](std::string path, std::string method, std::optional<JSONValue> body) {
      auto call = record(std::move(method), std::move(path), std::move(body));
      if (autoAnswer) {
        if (std::optional<JSONValue> answer = autoAnswer(*call)) finish(call, *answer);
      }
      return wait(call);
    };
    g.generation = [this] { return generation; };
    g.offline = [this] { return offline; };
    g.preview = [this] { return preview; };
    g.canWriteServer = [this] { return canWrite; };
    g.role = [this] { return role; };
    g.exportRows = [this](JSONArray rows, std::string name, std::string fileName) {
      auto call = record("export", fileName,
                         JSONValue::object({{"rows", JSONValue(std::move(rows))}, {"name", std::move(name)}}));
      return workflow(call);
    };
    g.refreshReferenceData = [this] { return workflow(record("refreshReferenceData", "", std::nullopt)); };
    g.rememberAddress = [this](std::string address, double lat, double lon) {
      return workflow(record("remember", std::move(address), JSONValue::array({lat, lon})));
    };
    g.lookup = [this](std::string address) { return wait(record("lookup", std::move(address), std::nullopt)); };
    g.download = [this](std::string path) {
      return bytes(signedIn ? record("download", path, std::nullopt) : nullptr);
    };
    g.saveFile = [this](std::string content, std::string name) {
      record("saveFile", std::move(name), JSONValue(std::move(content)))->done = true;
    };
    return g;
  }

  // The calls of a method (or workflow), in order.
  std::vector<std::shared_ptr<FakeCall>> of(const std::string& method) const {
    std::vector<std::shared_ptr<FakeCall>> out;
    for (const auto& call : calls)
      if (call->method == method) out.push_back(call);
    return out;
  }
  // "METHOD path" of every call, in order.
  std::vector<std::string> log() const {
    std::vector<std::string> out;
    for (const auto& call : calls) out.push_back(call->method + (call->path.empty() ? "" : " " + call->path));
    return out;
  }
  std::shared_ptr<FakeCall> last() const { return calls.empty() ? nullptr : calls.back(); }

  static void finish(const std::shared_ptr<FakeCall>& call, JSONValue answer) {
    call->answer = std::move(answer);
    call->done = true;
  }
  static void fail(const std::shared_ptr<FakeCall>& call, const std::string& message, int status = 400) {
    call->failure = std::make_exception_ptr(DorvikError(message, status));
    call->done = true;
  }

 private:
  std::shared_ptr<FakeCall> record(std::string method, std::string path, std::optional<JSONValue> body) {
    auto call = std::make_shared<FakeCall>();
    call->method = std::move(method);
    call->path = std::move(path);
    call->body = std::move(body);
    calls.push_back(call);
    return call;
  }
  static async::Task<JSONValue> wait(std::shared_ptr<FakeCall> call) {
    try {
      while (!call->done) co_await async::sleepFor(std::chrono::milliseconds(1));
    } catch (const CancelledError&) {
      call->cancelled = true;
      throw;
    }
    if (call->failure) std::rethrow_exception(call->failure);
    co_return call->answer.value_or(JSONValue());
  }
  static async::Task<std::optional<std::string>> bytes(std::shared_ptr<FakeCall> call) {
    if (!call) co_return std::nullopt;
    JSONValue answer = co_await wait(call);
    co_return answer.string();
  }
  async::Task<void> workflow(std::shared_ptr<FakeCall> call) {
    if (!holdWorkflows) call->done = true;
    co_await wait(call);
  }
};

// The fixture of the suites over the stand-in gateway.
class GatewayTest : public ::testing::Test {
 protected:
  FakeGateway fake;
};

}  // namespace dorvik::admin::testing
