#include "core/engine/solve_threads.h"

#include <jsc/jsc.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
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

// The processors in the calling thread's affinity mask, 0 when the system does not say.
int affinityCount() {
  for (int cpus = 1024; cpus <= (1 << 16); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (!set) return 0;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    const int got = sched_getaffinity(0, size, set);
    const int count = got == 0 ? CPU_COUNT_S(size, set) : 0;
    const bool larger = got != 0 && errno == EINVAL;  // the kernel's mask is wider than this set
    CPU_FREE(set);
    if (!larger) return count;
  }
  return 0;
}

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<std::string> words(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);) out.push_back(word);
  return out;
}

// The CPU time that one control group allows, in processors, or infinity for none: cgroup v2's "cpu.max"
// ("max 100000" or "200000 100000"), or v1's quota (-1 for none) over its period.
double groupQuota(const std::filesystem::path& dir, bool v2) {
  constexpr double kNone = HUGE_VAL;
  double quota = 0, period = 0;
  if (v2) {
    std::istringstream in(firstLine(dir / "cpu.max"));
    std::string max;
    if (!(in >> max >> period) || max == "max") return kNone;
    quota = std::strtod(max.c_str(), nullptr);
  } else {
    quota = std::strtod(firstLine(dir / "cpu.cfs_quota_us").c_str(), nullptr);
    period = std::strtod(firstLine(dir / "cpu.cfs_period_us").c_str(), nullptr);
  }
  return quota > 0 && period > 0 ? quota / period : kNone;
}

// The least CPU quota of this process's control groups and their ancestors, in processors; infinity for none. The
// groups are found as the kernel lists them in /proc/self/cgroup, under the mount points of /proc/self/mountinfo.
double cpuQuota(const std::filesystem::path& root) {
  struct Mount {
    bool v2;
    std::string base, point;  // the mount's root within the hierarchy, and where it is mounted
  };
  std::vector<Mount> mounts;
  std::ifstream mountinfo(root / "proc/self/mountinfo");
  for (std::string line; std::getline(mountinfo, line);) {
    // "id parent dev root point options [optional...] - type source super-options"
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    const std::vector<std::string> before = words(line.substr(0, dash), ' ');
    const std::vector<std::string> after = words(line.substr(dash + 3), ' ');
    if (before.size() < 5 || after.size() < 3) continue;
    if (after[0] == "cgroup2") mounts.push_back({true, before[3], before[4]});
    if (after[0] == "cgroup") {
      const std::vector<std::string> options = words(after[2], ',');
      if (std::find(options.begin(), options.end(), "cpu") != options.end())
        mounts.push_back({false, before[3], before[4]});
    }
  }
  double least = HUGE_VAL;
  std::ifstream groups(root / "proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    // "0::/path" in v2, "3:cpu,cpuacct:/path" in v1.
    const std::size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::vector<std::string> controllers = words(line.substr(first + 1, second - first - 1), ',');
    const bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
    if (!v2 && std::find(controllers.begin(), controllers.end(), "cpu") == controllers.end()) continue;
    std::string path = line.substr(second + 1);
    for (const Mount& mount : mounts) {
      if (mount.v2 != v2) continue;
      // A group outside the mount's root (a container's own namespace) is read at the mount point itself.
      const std::string& base = mount.base == "/" ? std::string() : mount.base;
      const bool under =
          path.compare(0, base.size(), base) == 0 && (path.size() == base.size() || path[base.size()] == '/');
      const std::filesystem::path inside = std::filesystem::path(under ? path.substr(base.size()) : "").relative_path();
      const std::filesystem::path top = root / std::filesystem::path(mount.point).relative_path();
      std::filesystem::path dir = inside.empty() ? top : top / inside;
      for (;; dir = dir.parent_path()) {
        least = std::min(least, groupQuota(dir, v2));
        if (dir == top || !dir.has_relative_path() || dir.parent_path() == dir) break;
      }
    }
  }
  return least;
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

int SolveThreads::processorsAllowed(const std::filesystem::path& root) {
  int count = affinityCount();
  if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
  const double quota = cpuQuota(root);
  if (quota < count) count = static_cast<int>(std::ceil(quota - 1e-9));
  return std::max(1, count);
}

int SolveThreads::copiesForThisComputer() {
  return std::clamp(processorsAllowed() / 2 - 1, 0, 3);
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
