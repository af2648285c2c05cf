// UndoStack: the undo and redo steps of one window. A screen registers a step with a name and the handler that
// takes the change back; Ctrl+Z runs the newest undo step, Ctrl+Shift+Z the newest redo step.
//
// The usual rules: a step registered while an undo step runs becomes a redo step; one registered while a redo step
// runs becomes an undo step again; any other registration is a new action and forgets every redo step. A handler
// that registers nothing (its change no longer applies) leaves nothing to redo.
//
// Handlers must not hold the stack strongly (the stack owns them): take a weak_ptr. Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace dorvik {

class UndoStack {
 public:
  using Handler = std::function<void()>;

  void registerUndo(std::string name, Handler handler);

  bool canUndo() const { return !undo_.empty(); }
  bool canRedo() const { return !redo_.empty(); }
  // The name of the step Ctrl+Z (or Ctrl+Shift+Z) would run; empty when there is none.
  std::string undoName() const { return undo_.empty() ? std::string() : undo_.back().name; }
  std::string redoName() const { return redo_.empty() ? std::string() : redo_.back().name; }
  std::size_t undoCount() const { return undo_.size(); }
  std::size_t redoCount() const { return redo_.size(); }

  // Runs the newest step; false when there was none.
  bool undo();
  bool redo();
  // Forgets every step.
  void clear();

 private:
  struct Step {
    std::string name;
    Handler handler;
  };
  enum class Running { none, undoing, redoing };
  bool run(std::vector<Step>& from, Running running);

  std::vector<Step> undo_;
  std::vector<Step> redo_;
  Running running_ = Running::none;
};

}  // namespace dorvik
