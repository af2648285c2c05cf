// The desktop's open and save dialogs behind the model's file-dialog interface: native file choosers, modeless,
// transient for the window that is active when they open.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <vector>

#include "model/file_dialogs.h"

namespace dorvik {

class GtkFileDialogs final : public FileDialogs {
 public:
  // `parent` answers the window a dialog belongs to (none: the dialog stands alone).
  explicit GtkFileDialogs(std::function<Gtk::Window*()> parent) : parent_(std::move(parent)) {}

  void openFile(std::vector<std::string> extensions, Done done) override;
  void saveFile(std::string suggestedName, Done done) override;

 private:
  void show(const Glib::RefPtr<Gtk::FileChooserNative>& dialog, Done done);

  std::function<Gtk::Window*()> parent_;
  // Dialogs on screen, kept until they answer.
  std::vector<Glib::RefPtr<Gtk::FileChooserNative>> shown_;
};

}  // namespace dorvik
