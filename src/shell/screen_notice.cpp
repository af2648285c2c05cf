#include "shell/screen_notice.h"

#include "widgets/gtk_helpers.h"

namespace dorvik {

ScreenNotice::ScreenNotice(std::shared_ptr<ScreenData> state)
    : Gtk::Box(Gtk::Orientation::VERTICAL), state_(std::move(state)) {
  spinner_.set_margin(8);
  spinner_.set_halign(Gtk::Align::START);
  append(spinner_);
  issueRow_.set_margin(12);
  issueRow_.add_css_class("error");
  // The icon stands in a box of its own, which has no baseline: GTK would otherwise align the icon's baseline with
  // the wrapping text's when it measures the row for a width, one pixel taller than the row it reports without one.
  auto* mark = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  mark->append(*icon("dialog-error-symbolic"));
  issueRow_.append(*mark);
  issue_.set_selectable(true);
  issue_.set_wrap(true);
  issue_.set_xalign(0);
  issue_.set_hexpand(true);
  issueRow_.append(issue_);
  append(issueRow_);
  connection_ = state_->observe([this](ScreenData::Property) { update(); });
  update();
}

void ScreenNotice::update() {
  spinner_.set_visible(state_->loading());
  spinner_.set_spinning(state_->loading());
  issue_.set_text(state_->issue().value_or(""));
  issueRow_.set_visible(state_->issue().has_value());
  set_visible(state_->loading() || state_->issue().has_value());
}

}  // namespace dorvik
