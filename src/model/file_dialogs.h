// The open and save dialogs the model shows for workbooks and other files. The application puts the desktop's
// dialogs behind this interface; tests put one that picks a file.
//
// Both dialogs are modeless: each call is a task that shows its dialog when awaited and ends, later, with the
// chosen path, or none when the user cancelled.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"

namespace dorvik {

class FileDialogs {
 public:
  using Chosen = std::optional<std::string>;

  virtual ~FileDialogs() = default;

  // Lets the user pick one existing file whose name ends in one of `extensions` (without the dot, in the order
  // given).
  virtual async::Task<Chosen> openFile(std::vector<std::string> extensions) = 0;

  // Lets the user choose where to save a file, offering `suggestedName` in the name field. The caller writes it.
  virtual async::Task<Chosen> saveFile(std::string suggestedName) = 0;
};

}  // namespace dorvik
