#include "shell/toolkit/undo_stack.h"

#include <utility>

namespace dorvik {

void UndoStack::registerUndo(std::string name, Handler handler) {
  Step step{std::move(name), std::move(handler)};
  switch (running_) {
    case Running::undoing:
      redo_.push_back(std::move(step));
      break;
    case Running::redoing:
      undo_.push_back(std::move(step));
      break;
    case Running::none:
      undo_.push_back(std::move(step));
      redo_.clear();
      break;
  }
}

bool UndoStack::run(std::vector<Step>& from, Running running) {
  if (from.empty() || running_ != Running::none) return false;
  Step step = std::move(from.back());
  from.pop_back();
  running_ = running;
  try {
    if (step.handler) step.handler();
  } catch (...) {
    running_ = Running::none;
    throw;
  }
  running_ = Running::none;
  return true;
}

bool UndoStack::undo() { return run(undo_, Running::undoing); }

bool UndoStack::redo() { return run(redo_, Running::redoing); }

void UndoStack::clear() {
  undo_.clear();
  redo_.clear();
}

}  // namespace dorvik
