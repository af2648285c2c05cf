// The desktop's open and save dialogs behind the model's file-dialog interface: native file choosers, modeless,
// transient for the window that is active when they open.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

#include "model/file_dialogs.h"

namespace dorvik {

class GtkFileDialogs final : public FileDialogs {
 public:
  // `parent` answers the window a dialog belongs to (none: the dialog stands alone).
  explicit GtkFileDialogs(std::function<Gtk::Window*()> parent) : parent_(std::move(parent)) {}

  async::Task<Chosen> openFile(std::vector<std::string> extensions) override;
  async::Task<Chosen> saveFile(std::string suggestedName) override;

 private:
  // Shows the dialog and ends with its answer.
  async::Task<Chosen> answer(Glib::RefPtr<Gtk::FileChooserNative> dialog);

  std::function<Gtk::Window*()> parent_;
  // Dialogs on screen, kept until they answer.
  std::vector<Glib::RefPtr<Gtk::FileChooserNative>> shown_;
};

}  // namespace dorvik
