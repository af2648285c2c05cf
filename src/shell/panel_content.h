// The screen of a panel page, built afresh for every page change; and the notice line of a screen's loader.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// A managed widget holding the page's screen. The screens get the context with the route sheets filled in.
Gtk::Widget* makePanelContent(PanelPage page, const ShellContext& context);

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
