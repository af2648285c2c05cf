// ScriptContext: one JavaScriptCore context (GLib API) in which the script components are evaluated and through
// which their single entry point `Native.run` is called. Not thread-safe: it must be created, used and destroyed
// on one thread (the planner engine's own).
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/owned_text.h"
#include "core/engine/solve_threads.h"

typedef struct _JSCContext JSCContext;
typedef struct _JSCVirtualMachine JSCVirtualMachine;

namespace dorvik {

class ScriptContext {
 public:
  // Throws DorvikError("Не удалось запустить расчёт маршрутов.") when no context can be made.
  ScriptContext();
  ~ScriptContext();
  ScriptContext(const ScriptContext&) = delete;
  ScriptContext& operator=(const ScriptContext&) = delete;

  // Evaluates a component. A pending exception afterwards throws DorvikError(name + ": " + its text), or
  // name + ": Ошибка расчёта" when it has none.
  void evaluateComponent(std::string_view source, const std::string& sourceURL, const std::string& name);

  // Reads a component file whole (it must be UTF-8 text) and evaluates it with its file URL as the source URL.
  // A read failure throws std::system_error, text that is not UTF-8 std::runtime_error, and an exception while
  // evaluating the DorvikError of evaluateComponent.
  void evaluateFile(const std::filesystem::path& file, const std::string& name);

  // Calls Native.run(request) and returns the text it gave. Clears any earlier exception first. Throws
  // DorvikError with the exception's text ("Ошибка расчёта" when it has none) or "Расчёт не вернул результат."
  // when the call gave no value, or a value without a text form.
  std::string callNativeRun(const std::string& request);
  // The same for large texts: the request is let go as soon as the script holds it, and the answer is taken in the
  // parts the script gives (Native.more after Native.run), so that neither side holds the whole text twice.
  OwnedText callNativeRunTaking(std::string request);
  // The same answer in a string with `padding` bytes of spare capacity past its end (what the JSON decoder needs to
  // read it where it lies).
  std::string callNativeRunPadded(std::string request, std::size_t padding);

  // Evaluates a script and returns the text form of its value (tests and benchmarks). A pending exception
  // throws DorvikError with its text.
  std::string evaluate(std::string_view source, const std::string& sourceURL = "eval.js");

  // The text of a pending exception: the message when it has one, else its string form, else empty.
  static std::string exceptionText(void* exception);

  // Lets the route optimiser of this context run copies of itself alongside (the global `PlannerThreads`, see
  // solve_threads.h). Each copy evaluates options.files, then options.sources; none are run when options.copies
  // is 0. Call it once.
  void offerSolveThreads(SolveThreads::Options options);

  // Sizes the script engine's heap for the program: as on a computer of 700 MiB, so that the heap grows in small
  // steps and what a large workbook's import leaves behind is collected before it piles up (a tenth off the peak
  // memory of the largest import, no cost measurable to a calculation). Call once, at the start of the process,
  // before anything uses JavaScriptCore: the engine cannot take it later.
  static void sizeHeapForTheProgram();

 private:
  // Calls Native.run(request, true) and then Native.more() until it gives "": the answer's parts, each converted
  // to UTF-8 as it comes. An adapter without `more` answers in one part.
  std::vector<OwnedText> callNativeRunParts(std::string request);

  JSCVirtualMachine* vm_ = nullptr;
  JSCContext* context_ = nullptr;
  std::unique_ptr<SolveThreads> threads_;  // released first: its copies are waited for while the context lives
};

}  // namespace dorvik
