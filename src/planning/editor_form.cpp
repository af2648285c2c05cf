#include "planning/editor_form.h"

#include <adwaita.h>

namespace dorvik::planning {

EditorForm::EditorForm(Sheet& sheet, const std::string& heading) : Gtk::Box(Gtk::Orientation::VERTICAL), sheet_(sheet) {
  auto* title = Gtk::make_managed<Gtk::Label>(heading);
  title->add_css_class("title-2");
  title->set_halign(Gtk::Align::CENTER);
  title->set_margin_top(18);
  title->set_margin_bottom(14);
  title->set_margin_start(20);
  title->set_margin_end(20);
  append(*title);

  group_ = ADW_PREFERENCES_GROUP(adw_preferences_group_new());
  auto* form = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  form->set_margin_start(20);
  form->set_margin_end(20);
  form->set_margin_top(2);
  form->set_margin_bottom(6);
  gtk_box_append(form->gobj(), GTK_WIDGET(group_));
  scroller_.set_child(*form);
  scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller_.set_propagate_natural_height(true);
  scroller_.set_vexpand(true);
  append(scroller_);

  issue_.add_css_class("error");
  issue_.set_wrap(true);
  issue_.set_xalign(0);
  issue_.set_selectable(true);
  issue_.set_margin_top(10);
  issue_.set_margin_start(20);
  issue_.set_margin_end(20);
  issue_.set_visible(false);

  sheet_.signalClosed().connect([this] { closed_ = true; });
}

void EditorForm::addRow(Gtk::Widget& row) { adw_preferences_group_add(group_, row.gobj()); }

void EditorForm::finish(const std::string& saveTitle, std::function<void()> save) {
  // Right under the form's rows and always in view, however far the form is scrolled.
  append(issue_);
  footer_ = Gtk::make_managed<EditorFooter>(saveTitle, std::move(save), [this] { dismiss(); });
  append(*footer_);
  sheet_.setContent(*this);
}

void EditorForm::showIssue(const std::optional<std::string>& issue) {
  issue_.set_text(issue.value_or(""));
  issue_.set_visible(issue.has_value());
}

void EditorForm::setBusy(bool busy) {
  if (footer_) footer_->setBusy(busy);
}

void EditorForm::dismiss() {
  if (closed_) return;
  closed_ = true;
  sheet_.dismiss();
}

}  // namespace dorvik::planning
