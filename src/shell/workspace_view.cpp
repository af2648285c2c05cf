#include "shell/workspace_view.h"

#include "core/api/api_client.h"
#include "shell/keyboard.h"
#include "shell/sign_in_views.h"
#include "shell/toolkit/shell_rules.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

WorkspaceView::WorkspaceView(ShellContext context, Gtk::Window& window)
    : Gtk::Box(Gtk::Orientation::VERTICAL), context_(std::move(context)), window_(window) {
  auto* split = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  split->set_vexpand(true);
  split->append(*makeSidebar());
  split->append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::VERTICAL));
  content_.set_hexpand(true);
  content_.set_vexpand(true);
  addFindShortcut(content_);
  split->append(content_);
  append(*split);
  append(*Gtk::make_managed<Gtk::Separator>());
  append(*makeStatusStrip());

  observer_ = context_.model->observe([this](AppModel::Property p) { modelChanged(p); });
  buildSidebar();  // also shows the page
  updateFooter();
  updateStrip();
}

Gtk::Widget* WorkspaceView::makeSidebar() {
  auto* sidebar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  sidebar->set_size_request(232, -1);
  sidebar->set_hexpand(false);
  sidebar->add_css_class("sidebar");
  scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller_.set_vexpand(true);
  // However many sections the role shows and however large the text, every row can be scrolled to; moving
  // through the rows with the keyboard scrolls along.
  scroller_.set_propagate_natural_height(false);
  list_.set_adjustment(scroller_.get_vadjustment());
  list_.add_css_class("navigation-sidebar");
  // The selected row is the page shown. A click or Return on a row opens its page; moving the focus through the
  // rows (arrows; the list is one Tab stop) only moves the focus.
  list_.set_selection_mode(Gtk::SelectionMode::SINGLE);
  list_.signal_row_activated().connect([this](Gtk::ListBoxRow* row) {
    auto it = rowPages_.find(row);
    if (it != rowPages_.end()) context_.model->setPage(it->second);
  });
  list_.signal_row_selected().connect([this](Gtk::ListBoxRow*) {
    if (!selecting_) selectPageRow();
  });
  // Each section's heading stands over its first row.
  list_.set_header_func([this](Gtk::ListBoxRow* row, Gtk::ListBoxRow*) {
    auto it = rowHeadings_.find(row);
    if (it == rowHeadings_.end())
      row->unset_header();
    else if (row->get_header() != it->second)
      row->set_header(*it->second);
  });
  setAccessibleLabel(list_, "Разделы");
  makeOneTabStop(list_);
  scroller_.set_child(list_);
  sidebar->append(scroller_);
  sidebar->append(*Gtk::make_managed<Gtk::Separator>());
  sidebar->append(*makeFooter());
  return sidebar;
}

Gtk::Widget* WorkspaceView::makeFooter() {
  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
  footer->set_margin(14);
  auto* who = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  who->append(*makeBrandMark(30));
  auto* lines = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  name_.set_halign(Gtk::Align::START);
  name_.set_ellipsize(Pango::EllipsizeMode::END);
  name_.add_css_class("heading");
  connection_.set_halign(Gtk::Align::START);
  connection_.add_css_class("caption");
  connection_.add_css_class("dim-label");
  lines->append(name_);
  lines->append(connection_);
  who->append(*lines);
  footer->append(*who);

  auto* actions = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  auto* settings = Gtk::make_managed<Gtk::Button>();
  auto* settingsContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  settingsContent->append(*icon("emblem-system-symbolic"));
  settingsContent->append(*Gtk::make_managed<Gtk::Label>("Настройки"));
  settings->set_child(*settingsContent);
  settings->add_css_class("flat");
  setAccessibleLabel(*settings, "Настройки");
  settings->signal_clicked().connect([this] {
    if (context_.openPreferences) context_.openPreferences(PreferencesTab::appearance);
  });
  auto* spacer = Gtk::make_managed<Gtk::Box>();
  spacer->set_hexpand(true);
  auto* logout = Gtk::make_managed<Gtk::Button>();
  logout->set_icon_name("system-log-out-symbolic");
  logout->set_tooltip_text("Выйти");
  setAccessibleLabel(*logout, "Выйти");
  logout->add_css_class("flat");
  logout->signal_clicked().connect([this] { async::spawn(context_.workflows->logout()); });
  actions->append(*settings);
  actions->append(*spacer);
  actions->append(*logout);
  footer->append(*actions);
  return footer;
}

Gtk::Widget* WorkspaceView::makeStatusStrip() {
  auto* strip = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  strip->set_margin_start(16);
  strip->set_margin_end(16);
  strip->set_margin_top(7);
  strip->set_margin_bottom(7);
  strip->add_css_class("caption");
  status_.set_ellipsize(Pango::EllipsizeMode::END);
  status_.set_single_line_mode(true);
  status_.set_hexpand(true);
  status_.set_halign(Gtk::Align::START);
  source_.add_css_class("dim-label");
  strip->append(spinner_);
  strip->append(status_);
  strip->append(pending_);
  strip->append(source_);
  return strip;
}

void WorkspaceView::modelChanged(AppModel::Property p) {
  using P = AppModel::Property;
  switch (p) {
    case P::user:
      buildSidebar();
      updateFooter();
      break;
    case P::page:
      showPage();
      break;
    case P::preview:
    case P::offline:
      updateFooter();
      updateStrip();
      break;
    case P::api:
    case P::status:
    case P::busy:
    case P::geocoding:
    case P::pendingAddresses:
    case P::generation:
      updateStrip();
      break;
    default:
      break;
  }
}

WorkspaceView::~WorkspaceView() {
  observer_.disconnect();
  // The list outlives the maps of its rows while it is taken down: its header and selection handlers stop here.
  list_.unset_header_func();
  selecting_ = true;
}

void WorkspaceView::buildSidebar() {
  const JSONValue& user = context_.model->user();
  std::string role = user["role"].string() == "superadmin" ? "superadmin" : "";
  if (role == sidebarRole_) return;
  sidebarRole_ = role;
  selecting_ = true;
  while (Gtk::Widget* child = list_.get_first_child()) list_.remove(*child);
  rowPages_.clear();
  rowHeadings_.clear();
  for (const SidebarSection& section : sidebarSections(user)) {
    bool first = true;
    for (PanelPage page : section.pages) {
      auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
      auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
      box->append(*icon(std::string(iconName(page))));
      auto* text = Gtk::make_managed<Gtk::Label>(std::string(title(page)));
      text->set_halign(Gtk::Align::START);
      box->append(*text);
      row->set_child(*box);
      row->set_name(std::string(rawValue(page)));
      setAccessibleLabel(*row, std::string(title(page)));
      if (first) {
        auto* heading = Gtk::make_managed<Gtk::Label>(section.title);
        heading->set_halign(Gtk::Align::START);
        heading->add_css_class("dim-label");
        heading->add_css_class("caption-heading");
        heading->set_margin_top(8);
        heading->set_margin_bottom(4);
        heading->set_margin_start(6);
        rowHeadings_[row] = heading;
      }
      first = false;
      list_.append(*row);
      rowPages_[row] = page;
    }
  }
  list_.invalidate_headers();
  selecting_ = false;
  showPage();
}

void WorkspaceView::selectPageRow() {
  const std::optional<PanelPage>& selected = context_.model->page();
  selecting_ = true;
  list_.unselect_all();
  for (auto& [row, rowPage] : rowPages_)
    if (selected && rowPage == *selected) list_.select_row(*row);
  selecting_ = false;
}

void WorkspaceView::showPage() {
  const std::optional<PanelPage>& selected = context_.model->page();
  PanelPage page = selected.value_or(PanelPage::planning);
  selectPageRow();
  revealSelectedRow();
  window_.set_title(selected ? std::string(title(*selected)) : "Dorvik");
  // Every change of page builds the screen afresh.
  if (screen_) content_.remove(*screen_);
  screen_ = context_.screens ? context_.screens(page, context_) : nullptr;
  if (!screen_) return;
  screen_->set_vexpand(true);
  screen_->set_hexpand(true);
  content_.append(*screen_);
}

void WorkspaceView::updateFooter() {
  const AppModel& model = *context_.model;
  name_.set_text(model.user()["fullName"].string());
  connection_.set_text(connectionText(model.preview(), model.offline()));
}

void WorkspaceView::updateStrip() {
  const AppModel& model = *context_.model;
  const bool working = model.busy() || model.geocoding();
  spinner_.set_visible(working);
  spinner_.set_spinning(working);
  status_.set_text(statusText(model.status()));
  std::string pending = pendingText(model.pendingAddresses().size());
  pending_.set_text(pending);
  pending_.set_visible(!pending.empty());
  source_.set_text(sourceText(model.offline(), model.api() ? model.api()->baseURL() : std::string()));
}

void WorkspaceView::revealSelectedRow() {
  if (Gtk::ListBoxRow* row = list_.get_selected_row()) scrollIntoView(GTK_WIDGET(row->gobj()));
}

}  // namespace dorvik
