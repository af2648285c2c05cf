// The open and save dialogs the model shows for workbooks and other files. The application puts the desktop's
// dialogs behind this interface; tests put one that picks a file.
//
// Both dialogs are modeless: a call returns as soon as the dialog is shown, and `done` is called once, later, on
// the main thread, with the chosen path or none when the user cancelled.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dorvik {

class FileDialogs {
 public:
  using Done = std::function<void(std::optional<std::string> path)>;

  virtual ~FileDialogs() = default;

  // Lets the user pick one existing file whose name ends in one of `extensions` (without the dot, in the order
  // given).
  virtual void openFile(std::vector<std::string> extensions, Done done) = 0;

  // Lets the user choose where to save a file, offering `suggestedName` in the name field. The caller writes it.
  virtual void saveFile(std::string suggestedName, Done done) = 0;
};

}  // namespace dorvik
