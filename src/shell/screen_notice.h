// The notice line of a screen's loader: its progress indicator and its failure.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "shell/toolkit/screen_data.h"

namespace dorvik {

// The progress indicator and failure line of one ScreenData.
class ScreenNotice : public Gtk::Box {
 public:
  explicit ScreenNotice(std::shared_ptr<ScreenData> state);

 private:
  void update();
  std::shared_ptr<ScreenData> state_;
  Gtk::Spinner spinner_;
  Gtk::Box issueRow_{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Label issue_;
  ScreenData::Connection connection_;
};

}  // namespace dorvik
