#include "core/engine/solve_threads.h"

#include <jsc/jsc.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "core/base/files.h"

namespace dorvik {

namespace {

using Clock = std::chrono::steady_clock;

// A travel matrix as the copies share it: one block of numbers, read only, alive while any copy's buffer holds it.
using Matrix = std::shared_ptr<const std::vector<double>>;

void releaseMatrix(void* holder) { delete static_cast<Matrix*>(holder); }

// The matrix as a Float64Array of `context` over the shared numbers, without a copy.
JSCValue* sharedArray(JSCContext* context, const Matrix& matrix) {
  auto* data = const_cast<double*>(matrix->data());
  JSCValue* buffer = jsc_value_new_array_buffer(context, data, matrix->size() * sizeof(double), releaseMatrix,
                                                new Matrix(matrix));
  if (!buffer) return nullptr;
  JSCValue* array = jsc_value_new_typed_array_with_buffer(buffer, JSC_TYPED_ARRAY_FLOAT64, 0, -1);
  g_object_unref(buffer);
  return array;
}

// The numbers of a Float64Array of the calling context, copied; none for any other value.
Matrix copyMatrix(JSCValue* value) {
  if (!value || !jsc_value_is_typed_array(value) || jsc_value_typed_array_get_type(value) != JSC_TYPED_ARRAY_FLOAT64)
    return nullptr;
  gsize length = 0;
  const auto* data = static_cast<const double*>(jsc_value_typed_array_get_data(value, &length));
  if (!data && length > 0) return nullptr;
  return std::make_shared<const std::vector<double>>(data, data + length);
}

bool failed(JSCContext* context) {
  if (!jsc_context_get_exception(context)) return false;
  jsc_context_clear_exception(context);
  return true;
}

}  // namespace

// One batch of copies: what they share, and one answer per copy, written by its own thread only.
struct SolveThreads::Batch {
  std::shared_ptr<const std::vector<std::string>> scripts;
  std::string problem;
  Matrix time, dist;  // dist is time itself when the caller gave one matrix for both
  Clock::time_point started;
  std::vector<std::string> answers;
  std::vector<std::thread> threads;

  void run(int index) {
    JSCVirtualMachine* vm = jsc_virtual_machine_new();
    JSCContext* context = vm ? jsc_context_new_with_virtual_machine(vm) : nullptr;
    if (context) answers[index] = solve(context, index);
    if (context) g_object_unref(context);
    if (vm) g_object_unref(vm);
  }

  std::string solve(JSCContext* context, int index) {
    for (const std::string& source : *scripts) {
      JSCValue* result = jsc_context_evaluate(context, source.data(), static_cast<gssize>(source.size()));
      if (result) g_object_unref(result);
      if (failed(context)) return {};
    }
    JSCValue* core = jsc_context_get_value(context, "PlannerCore");
    JSCValue* text = jsc_value_new_string(context, problem.c_str());
    JSCValue* times = sharedArray(context, time);
    JSCValue* dists = dist == time ? (times ? JSC_VALUE(g_object_ref(times)) : nullptr) : sharedArray(context, dist);
    std::string answer;
    if (core && jsc_value_is_object(core) && times && dists) {
      // The copy's clock starts where the caller's did: its search ends within the caller's budget.
      const double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
      JSCValue* result = jsc_value_object_invoke_method(core, "solveCopy", JSC_TYPE_VALUE, text, JSC_TYPE_VALUE, times,
                                                        JSC_TYPE_VALUE, dists, G_TYPE_INT, index + 1, G_TYPE_DOUBLE,
                                                        elapsedMs, G_TYPE_NONE);
      if (!failed(context) && result && jsc_value_is_string(result)) {
        char* converted = jsc_value_to_string(result);
        if (converted) answer = converted;
        g_free(converted);
      }
      if (result) g_object_unref(result);
    }
    if (dists) g_object_unref(dists);
    if (times) g_object_unref(times);
    g_object_unref(text);
    if (core) g_object_unref(core);
    return answer;
  }

  void join() {
    for (std::thread& thread : threads)
      if (thread.joinable()) thread.join();
  }
};

int SolveThreads::copiesForThisComputer() {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores / 2 - 1, 0, 3);
}

SolveThreads::SolveThreads(JSCContext* context, Options options)
    : context_(context), options_(std::move(options)) {
  JSCValue* object = jsc_value_new_object(context_, nullptr, nullptr);
  JSCValue* start = jsc_value_new_function(context_, "start", G_CALLBACK(&SolveThreads::start), this, nullptr,
                                           G_TYPE_INT, 3, JSC_TYPE_VALUE, JSC_TYPE_VALUE, JSC_TYPE_VALUE);
  JSCValue* finish = jsc_value_new_function(context_, "finish", G_CALLBACK(&SolveThreads::finish), this, nullptr,
                                            JSC_TYPE_VALUE, 0);
  jsc_value_object_set_property(object, "start", start);
  jsc_value_object_set_property(object, "finish", finish);
  jsc_context_set_value(context_, "PlannerThreads", object);
  g_object_unref(finish);
  g_object_unref(start);
  g_object_unref(object);
}

SolveThreads::~SolveThreads() { wait(); }

std::shared_ptr<const std::vector<std::string>> SolveThreads::scripts() {
  if (read_) return scripts_;
  read_ = true;
  auto texts = std::make_shared<std::vector<std::string>>();
  for (const std::filesystem::path& file : options_.files) {
    std::optional<std::string> text;
    try {
      text = files::readWhole(file.string());
    } catch (const files::FileError&) {
      return nullptr;
    }
    if (!text) return nullptr;
    texts->push_back(std::move(*text));
  }
  texts->insert(texts->end(), options_.sources.begin(), options_.sources.end());
  scripts_ = std::move(texts);
  return scripts_;
}

void SolveThreads::wait() {
  if (batch_) batch_->join();
}

int SolveThreads::start(void* problemText, void* time, void* dist, void* self) {
  // Nothing may be thrown into the script engine: a copy of the matrices that finds no memory leaves the caller to
  // search alone.
  try {
    return static_cast<SolveThreads*>(self)->startCopies(JSC_VALUE(problemText), JSC_VALUE(time), JSC_VALUE(dist));
  } catch (const std::exception&) {
    return 0;
  }
}

int SolveThreads::startCopies(JSCValue* text, JSCValue* time, JSCValue* dist) {
  wait();
  batch_.reset();
  const int copies = options_.copies;
  if (copies <= 0) return 0;
  auto batch = std::make_unique<Batch>();
  batch->scripts = scripts();
  if (!batch->scripts) return 0;
  batch->started = Clock::now();
  if (!text || !jsc_value_is_string(text)) return 0;
  char* converted = jsc_value_to_string(text);
  if (!converted) return 0;
  batch->problem = converted;
  g_free(converted);
  batch->time = copyMatrix(time);
  if (!batch->time) return 0;
  const bool same = jsc_value_is_typed_array(dist) &&
                    jsc_value_typed_array_get_data(dist, nullptr) == jsc_value_typed_array_get_data(time, nullptr);
  batch->dist = same ? batch->time : copyMatrix(dist);
  if (!batch->dist) return 0;
  batch->answers.resize(static_cast<std::size_t>(copies));
  Batch* running = batch.get();
  for (int i = 0; i < copies; ++i) {
    try {
      running->threads.emplace_back([running, i] { running->run(i); });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the copies started are enough
    }
  }
  batch_ = std::move(batch);
  return static_cast<int>(running->threads.size());
}

void* SolveThreads::finish(void* self) {
  auto* threads = static_cast<SolveThreads*>(self);
  std::vector<const char*> texts;
  if (threads->batch_) {
    threads->batch_->join();
    for (std::size_t i = 0; i < threads->batch_->threads.size(); ++i)
      texts.push_back(threads->batch_->answers[i].c_str());
  }
  texts.push_back(nullptr);
  JSCValue* answers = jsc_value_new_array_from_strv(threads->context_, const_cast<char**>(texts.data()));
  threads->batch_.reset();
  return answers;
}

}  // namespace dorvik
