// The pieces a workflow is written with: linked tokens and scopes, the check on resuming, attempt(), shielded(),
// the callback bridge, the channel and the group's own cancellation.
#include <gtest/gtest.h>
#include <glib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/async/attempt.h"
#include "core/async/callback.h"
#include "core/async/channel.h"
#include "core/async/shared_task.h"
#include "core/async/sleep.h"
#include "core/async/task.h"
#include "core/async/task_group.h"
#include "core/async/worker.h"
#include "main_loop.h"

using namespace dorvik;
using namespace dorvik::async;
using namespace std::chrono_literals;

using namespace dorvik::async::testing;

namespace {

// What became of a task started with `watch`.
struct Ending {
  bool done = false;
  bool cancelled = false;
  std::string failure;
};

Task<void> watched(Task<void> task, std::shared_ptr<Ending> ending) {
  try {
    co_await std::move(task);
  } catch (const CancelledError&) {
    ending->cancelled = true;
  } catch (const std::exception& e) {
    ending->failure = e.what();
  }
  ending->done = true;
}

std::shared_ptr<Ending> watch(Task<void> task, CancelToken token = CancelToken::none()) {
  auto ending = std::make_shared<Ending>();
  spawn(watched(std::move(task), ending), std::move(token));
  return ending;
}

}  // namespace

TEST(CancelToken, ALinkedTokenIsCancelledByEitherSourceOnly) {
  for (int which = 0; which < 2; ++which) {
    CancelToken own, scope;
    CancelToken linked = own.linkedWith(scope);
    EXPECT_TRUE(linked.follows(own));
    EXPECT_TRUE(linked.follows(scope));
    EXPECT_FALSE(own.follows(linked));
    EXPECT_FALSE(linked.isCancelled());
    (which == 0 ? own : scope).cancel();
    EXPECT_TRUE(linked.isCancelled()) << which;
    EXPECT_NE((which == 0 ? scope : own).isCancelled(), true) << "the link never cancels a source";
  }
  // Linking with none, with itself or with a source it follows adds nothing; with a cancelled one, cancelled.
  CancelToken a, b;
  CancelToken ab = a.linkedWith(b);
  EXPECT_EQ(a.linkedWith(CancelToken::none()), a);
  EXPECT_EQ(CancelToken::none().linkedWith(a), a);
  EXPECT_EQ(ab.linkedWith(b), ab);
  EXPECT_EQ(b.linkedWith(ab), ab);
  CancelToken gone;
  gone.cancel();
  EXPECT_TRUE(a.linkedWith(gone).isCancelled());
  EXPECT_FALSE(a.isCancelled());
}

TEST(CancelToken, ALinkedTokenDroppedBeforeItsSourcesLeavesThemWorking) {
  CancelToken source;
  bool heard = false;
  {
    CancelToken linked = source.linkedWith(CancelToken());
    auto sub = linked.onCancel([&heard] { heard = true; });
  }
  CancelToken::Subscription kept = source.onCancel([&heard] { heard = true; });
  source.cancel();
  EXPECT_TRUE(heard);
}

namespace {
Task<int> instant(int value) { co_return value; }

// Enters `scope`, then waits twice: a sleep and a child task.
Task<void> inScope(CancelToken scope, std::vector<std::string>* log) {
  co_await joinScope(scope);
  log->push_back("entered");
  co_await sleepFor(10s);
  log->push_back("slept");
}
}  // namespace

TEST(Scope, CancellingTheScopeEndsATaskThatJoinedItAtItsNextAwait) {
  CancelToken scope;
  std::vector<std::string> log;
  auto ending = watch(inScope(scope, &log));
  drain();
  ASSERT_EQ(log, std::vector<std::string>{"entered"});
  auto start = Clock::now();
  scope.cancel();
  drain();
  EXPECT_TRUE(ending->cancelled);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(log.size(), 1u);

  // A scope already cancelled is never entered; the task's own token still ends it as before.
  log.clear();
  auto late = watch(inScope(scope, &log));
  drain();
  EXPECT_TRUE(late->cancelled);
  EXPECT_TRUE(log.empty());
  CancelToken own;
  auto second = watch(inScope(CancelToken(), &log), own);
  drain();
  own.cancel();
  drain();
  EXPECT_TRUE(second->cancelled);
}

TEST(Scope, ATaskCancelledAfterItsResultWasPostedEndsByCancellationOnResuming) {
  // The child (or the worker's job) has finished and the resumption is queued; the token is cancelled before the
  // loop runs it: the continuation must not run on.
  SerialWorker worker("test");
  std::vector<std::string> log;
  auto awaitChild = [](std::vector<std::string>* log) -> Task<void> {
    int value = co_await instant(1);
    log->push_back("child " + std::to_string(value));
  };
  auto awaitJob = [](SerialWorker* worker, std::vector<std::string>* log) -> Task<void> {
    int value = co_await worker->run([] { return 2; });
    log->push_back("job " + std::to_string(value));
  };
  CancelToken first, second;
  auto child = watch(awaitChild(&log), first);
  first.cancel();
  auto job = watch(awaitJob(&worker, &log), second);
  // Wait until the job's result is posted: its resumption is then the only thing left to run.
  std::this_thread::sleep_for(50ms);
  second.cancel();
  drain();
  EXPECT_TRUE(child->cancelled);
  EXPECT_TRUE(job->cancelled);
  EXPECT_TRUE(log.empty()) << log.front();
}

TEST(Scope, AQuietScopeEndsTheTaskWithAnEmptyValueWhileItsOwnTokenStillCancelsIt) {
  auto quietly = [](CancelToken scope) -> Task<std::optional<int>> {
    co_await joinScope(scope, ScopeEnd::quiet);
    co_await sleepFor(10s);
    co_return 5;
  };
  auto into = [](Task<std::optional<int>> task, bool* returned, std::optional<int>* value) -> Task<void> {
    *value = co_await std::move(task);
    *returned = true;
  };
  for (bool scopeEnds : {true, false}) {
    CancelToken scope, own;
    bool returned = false;
    std::optional<int> value = 0;
    auto ending = watch(into(quietly(scope), &returned, &value), own);
    drain();
    (scopeEnds ? scope : own).cancel();
    drain();
    ASSERT_TRUE(ending->done);
    EXPECT_EQ(ending->cancelled, !scopeEnds);
    EXPECT_EQ(returned, scopeEnds);
    EXPECT_EQ(value, scopeEnds ? std::nullopt : std::optional<int>(0));
  }
}

TEST(Scope, WhateverFailureCarriesTheScopesEndOutIsThatEndButAFailureUnderTheOwnTokenStaysItself) {
  // A child that fails in its own way when cancelled, as a transfer cut off does.
  auto cutOff = []() -> Task<void> {
    try {
      co_await sleepFor(10s);
    } catch (const CancelledError&) {
      throw DorvikError("Передача прервана.");
    }
  };
  auto scoped = [](CancelToken scope, Task<void> child) -> Task<void> {
    co_await joinScope(scope);
    co_await std::move(child);
  };
  for (bool scopeEnds : {true, false}) {
    CancelToken scope, own;
    auto ending = watch(scoped(scope, cutOff()), own);
    drain();
    (scopeEnds ? scope : own).cancel();
    drain();
    EXPECT_EQ(ending->cancelled, scopeEnds);
    EXPECT_EQ(ending->failure, scopeEnds ? "" : "Передача прервана.");
  }
}

TEST(Scope, WithinEndsOnlyTheAwaitedTaskWhenItsScopeEnds) {
  auto body = [](CancelToken scope, std::vector<std::string>* log) -> Task<void> {
    try {
      co_await within(scope, []() -> Task<void> { co_await sleepFor(10s); }());
    } catch (const CancelledError&) {
      log->push_back("the request ended");
    }
    // The awaiting task never entered the scope: it goes on.
    co_await sleepFor(1ms);
    log->push_back("went on");
  };
  CancelToken scope;
  std::vector<std::string> log;
  auto ending = watch(body(scope, &log));
  drain();
  scope.cancel();
  auto start = Clock::now();
  while (!ending->done && Clock::now() - start < 5s) g_main_context_iteration(nullptr, TRUE);
  EXPECT_EQ(log, (std::vector<std::string>{"the request ended", "went on"}));
}

namespace {
Task<int> refusing() {
  throw DorvikError("Отказ.");
  co_return 0;
}
}  // namespace

TEST(Attempt, GivesTheValueOrTheFailureAndLetsCancellationThrough) {
  auto body = [](std::vector<std::string>* log) -> Task<void> {
    Outcome<int> value = co_await attempt(instant(7));
    log->push_back(value ? std::to_string(*value) : "failed");
    Outcome<int> refused = co_await attempt(refusing());
    if (!refused) {
      try {
        std::rethrow_exception(refused.failure());
      } catch (const DorvikError& e) {
        log->push_back(e.message());
      }
    }
    Outcome<void> slept = co_await attempt([]() -> Task<void> { co_await sleepFor(10s); }());
    log->push_back(slept ? "slept" : "sleep failed");
  };
  std::vector<std::string> log;
  CancelToken token;
  auto ending = watch(body(&log), token);
  drain();
  EXPECT_EQ(log, (std::vector<std::string>{"7", "Отказ."}));
  token.cancel();
  drain();
  EXPECT_TRUE(ending->cancelled) << "a cancellation is no failure to return";
  EXPECT_EQ(log.size(), 2u);

  // A failure that arrives after the awaiting task was cancelled is no outcome to go on with either.
  CancelToken late;
  auto stale = watch(
      [](std::vector<std::string>* log) -> Task<void> {
        Outcome<int> refused = co_await attempt(refusing());
        log->push_back("went on");
      }(&log),
      late);
  late.cancel();
  drain();
  EXPECT_TRUE(stale->cancelled);
  EXPECT_EQ(log.size(), 2u);
}

TEST(Shielded, RunsToItsEndThoughTheAwaiterIsCancelledWhichThenEndsByCancellation) {
  auto slowWrite = [](Channel<bool> gate, bool* written) -> Task<void> {
    co_await gate.receive();
    *written = true;
  };
  auto body = [](Task<void> write, bool* after) -> Task<void> {
    co_await shielded(std::move(write));
    *after = true;
  };
  bool written = false, after = false;
  Channel<bool> gate;
  CancelToken token;
  auto ending = watch(body(slowWrite(gate, &written), &after), token);
  drain();
  token.cancel();
  drain();
  EXPECT_FALSE(ending->done) << "the shielded task is still running";
  gate.send(true);
  ASSERT_TRUE(iterateUntil([&] { return ending->done; }));
  EXPECT_TRUE(written);
  EXPECT_TRUE(ending->cancelled);
  EXPECT_FALSE(after);
}

TEST(FromCallback, ResumesWithTheFirstAnswerOrEndsWhenNoAnswerCanCome) {
  using Answer = std::optional<std::string>;
  std::optional<Resolver<Answer>> kept;
  auto asked = [&kept]() -> Task<Answer> {
    auto start = [&kept](Resolver<Answer> resolve) { kept = std::move(resolve); };
    auto answer = fromCallback<Answer>(std::move(start));
    co_return co_await answer;
  };
  auto body = [](Task<Answer> question, std::vector<std::string>* log) -> Task<void> {
    Answer answer = co_await std::move(question);
    log->push_back(answer.value_or("none"));
  };

  // Answered later, twice: the first answer counts, deferred to the loop.
  std::vector<std::string> log;
  auto answered = watch(body(asked(), &log));
  ASSERT_TRUE(kept);
  (*kept)(std::string("/tmp/книга.xlsx"));
  (*kept)(std::string("/tmp/другая.xlsx"));
  EXPECT_TRUE(log.empty());
  drain();
  EXPECT_EQ(log, std::vector<std::string>{"/tmp/книга.xlsx"});
  EXPECT_TRUE(answered->done);

  // Every resolver dropped unanswered: the answer will never come.
  auto dropped = watch(body(asked(), &log));
  kept.reset();
  drain();
  EXPECT_TRUE(dropped->cancelled);

  // Cancelled first: a late answer is ignored.
  CancelToken token;
  auto cancelled = watch(body(asked(), &log), token);
  token.cancel();
  (*kept)(std::string("поздно"));
  drain();
  EXPECT_TRUE(cancelled->cancelled);
  EXPECT_EQ(log.size(), 1u);

  // A start that throws ends the task with its failure, once.
  auto throwing = []() -> Task<void> {
    auto start = [](Resolver<int>) { throw DorvikError("Окно недоступно."); };
    auto answer = fromCallback<int>(start);
    co_await answer;
  };
  auto failed = watch(throwing());
  drain();
  EXPECT_EQ(failed->failure, "Окно недоступно.");
}

TEST(Channel, HandsValuesOverInOrderAndPassesACancelledReceiverOver) {
  Channel<int> channel;
  auto receiveInto = [](Channel<int> channel, std::vector<int>* got, int count) -> Task<void> {
    for (int i = 0; i < count; ++i) got->push_back(co_await channel.receive());
  };
  // Sent before anybody waits, then while a receiver waits.
  channel.send(1);
  channel.send(2);
  std::vector<int> got;
  auto receiver = watch(receiveInto(channel, &got, 3));
  EXPECT_EQ(got, (std::vector<int>{1, 2}));
  channel.send(3);
  EXPECT_EQ(got.size(), 2u) << "a waiting receiver resumes through the loop";
  drain();
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(receiver->done);

  // Of two waiting receivers, the cancelled one takes nothing; its value goes to the other, also when the
  // cancellation comes after the value was handed over.
  for (bool afterHandover : {false, true}) {
    std::vector<int> first, second;
    CancelToken token;
    auto cancelled = watch(receiveInto(channel, &first, 1), token);
    auto other = watch(receiveInto(channel, &second, 1));
    if (!afterHandover) token.cancel();
    channel.send(4);
    if (afterHandover) token.cancel();
    drain();
    EXPECT_TRUE(cancelled->cancelled);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(second, std::vector<int>{4}) << afterHandover;
    EXPECT_EQ(channel.size(), 0u);
  }
}

TEST(TaskGroup, CancelEndsTheTasksInFlightAndWaitReturnsOnceTheyHaveEnded) {
  TaskGroup group(2);
  int ended = 0, cancelled = 0;
  auto sleeper = [](int* ended, int* cancelled) -> Task<void> {
    try {
      co_await sleepFor(10s);
    } catch (const CancelledError&) {
      ++*cancelled;
    }
    ++*ended;
  };
  auto body = [&]() -> Task<void> {
    co_await group.add(sleeper(&ended, &cancelled));
    co_await group.add(sleeper(&ended, &cancelled));
    group.cancel();
    co_await group.wait();
  };
  auto start = Clock::now();
  runBlocking(body());
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(ended, 2);
  EXPECT_EQ(cancelled, 2);
  EXPECT_TRUE(group.cancelled());
}

TEST(SharedTask, SettledWaitsForTheEndWithoutItsOutcome) {
  SharedTask<int> shared([]() -> Task<int> {
    co_await sleepFor(5ms);
    throw DorvikError("Обновление не удалось.");
  }());
  auto body = [](SharedTask<int>* shared, std::vector<std::string>* log) -> Task<void> {
    co_await shared->settled();
    log->push_back(shared->finished() ? "ended" : "still running");
    Outcome<int> joined = co_await attempt(shared->join());
    log->push_back(joined ? "value" : "failure");
  };
  std::vector<std::string> log;
  runBlocking(body(&shared, &log));
  EXPECT_EQ(log, (std::vector<std::string>{"ended", "failure"}));
}
