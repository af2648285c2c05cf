// SolveThreads: copies of the route optimiser run on threads of their own while the script context that started
// them runs its own search, so that a large day gets the search of several cores within one budget.
//
// Installed into a context (ScriptContext::offerSolveThreads) as the global object `PlannerThreads`:
//   PlannerThreads.start(problemText, time, dist) -> the number of copies started (0 when none could be)
//   PlannerThreads.finish()                       -> their answers, in order: a text each, "" for a failed copy
// Every copy has a JavaScriptCore virtual machine and context of its own, made, used and released on its thread: it
// evaluates the given scripts, then calls PlannerCore.solveCopy(problemText, time, dist, index, elapsedMs), whose
// text is its answer. The travel matrices are copied once from the calling context and shared read-only by every
// copy. finish() waits for all of them; a start before the last batch was finished waits for that batch first, and
// so does the object's destruction.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

typedef struct _JSCContext JSCContext;
typedef struct _JSCValue JSCValue;

namespace dorvik {

class SolveThreads {
 public:
  struct Options {
    int copies = 0;                             // threads besides the caller's own
    std::vector<std::filesystem::path> files;   // evaluated in order in every copy's context (read at the first start)
    std::vector<std::string> sources;           // evaluated after them
  };

  // The number of copies that suits this computer: none below four processors, and at most half of them busy with
  // the caller's own search included, three copies at most. The processors counted are those this process may use
  // (processorsAllowed), not all of the machine's.
  static int copiesForThisComputer();

  // How many processors the calling thread may keep busy: those of its affinity mask (taskset, a container's
  // cpuset), fewer when a control group's CPU quota allows less time (cgroup v2 "cpu.max", v1 "cpu.cfs_quota_us"
  // over "cpu.cfs_period_us", the least along the group's ancestors, rounded up). At least 1. The control groups are
  // read from the file system under `root` (another folder than "/" in tests).
  static int processorsAllowed(const std::filesystem::path& root = "/");

  SolveThreads(JSCContext* context, Options options);
  ~SolveThreads();
  SolveThreads(const SolveThreads&) = delete;
  SolveThreads& operator=(const SolveThreads&) = delete;

 private:
  struct Batch;
  static int start(void* problemText, void* time, void* dist, void* self);
  int startCopies(JSCValue* text, JSCValue* time, JSCValue* dist);
  static void* finish(void* self);
  void wait();

  // The scripts of a copy: the files as read, then the sources. Read at the first start; none when a file cannot be
  // read, and the caller then searches alone.
  std::shared_ptr<const std::vector<std::string>> scripts();

  JSCContext* context_;
  Options options_;
  bool read_ = false;
  std::shared_ptr<const std::vector<std::string>> scripts_;
  std::unique_ptr<Batch> batch_;
};

}  // namespace dorvik
