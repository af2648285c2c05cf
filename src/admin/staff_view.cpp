#include "admin/staff_view.h"

#include <adwaita.h>

#include "admin/view_parts.h"
#include "shell/screen_notice.h"
#include "shell/secret_field.h"
#include "shell/text_picker.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

// ---- The list

StaffView::StaffView(PanelPage page, const ShellContext& context)
    : Gtk::Box(Gtk::Orientation::VERTICAL), context_(context) {
  screen_ = StaffScreen::create(page, modelGateway(context.model));
  std::shared_ptr<StaffScreen> screen = screen_;

  auto* toolbar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  toolbar->set_margin_top(12);
  toolbar->set_margin_start(20);
  toolbar->set_margin_end(20);
  toolbar->append(*spacer());
  refresh_ = symbolButton("Обновить", "arrow.clockwise");
  refresh_->signal_clicked().connect([screen] { screen->refresh(); });
  toolbar->append(*refresh_);
  append(*toolbar);

  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  header->set_margin(20);
  auto* caption = Gtk::make_managed<Gtk::Label>("Компания");
  header->append(*caption);
  // At most 420 wide: a long company name is cut in the button and shown whole in the list.
  GtkWidget* clamp = clampedPicker(picker_, 420);
  picker_.set_size_request(240, -1);
  setAccessibleLabel(picker_, "Компания");
  picker_.property_selected().signal_changed().connect([this] {
    if (syncingPicker_) return;
    const guint index = picker_.get_selected();
    screen_->setCompany(index < pickerIds_.size() ? pickerIds_[index] : std::string());
  });
  gtk_box_append(header->gobj(), clamp);
  header->append(*spacer());
  add_ = symbolButton("Добавить", "plus");
  add_->add_css_class("suggested-action");
  add_->signal_clicked().connect([screen] { screen->add(); });
  header->append(*add_);
  append(*header);

  append(*Gtk::make_managed<ScreenNotice>(screen_->companies()));
  append(*Gtk::make_managed<ScreenNotice>(screen_->state()));
  buildTable();
  table_.set_vexpand(true);
  append(table_);

  connection_ = screen_->observe([this](StaffScreen::Change change) {
    switch (change) {
      case StaffScreen::Change::companies:
        showCompanies();
        break;
      case StaffScreen::Change::company:
        showCompany();
        break;
      case StaffScreen::Change::rows:
        table_.setRows(screen_->rows());
        break;
      case StaffScreen::Change::sheets:
        showSheets();
        break;
      case StaffScreen::Change::state:
        break;
    }
    showState();
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::generation) screen_->follow();
    if (changesServerWrites(property))
      showState();
  });
  showCompanies();
  showState();
  screen_->follow();
}

StaffView::~StaffView() {
  connection_.disconnect();
  modelConnection_.disconnect();
  if (editor_) editor_->dismiss();
  if (password_) password_->dismiss();
}

void StaffView::buildTable() {
  // A row's button: made once per cell, told on each bind which row it now shows.
  auto rowButton = [this](const char* title, std::function<void(const Record&)> pressed) {
    return [this, title, pressed] {
      auto* button = Gtk::make_managed<Gtk::Button>(title);
      button->add_css_class("flat");
      button->set_halign(Gtk::Align::START);
      button->set_sensitive(screen_->canWrite());
      std::shared_ptr<std::map<Gtk::Widget*, Record>> rows = rowButtons_;
      (*rows)[button] = Record();
      button->signal_destroy().connect([rows, button] { rows->erase(button); });
      button->signal_clicked().connect([rows, button, pressed] {
        auto found = rows->find(button);
        if (found == rows->end()) return;
        const Record record = found->second;  // the handler may change the rows
        pressed(record);
      });
      return button;
    };
  };
  auto bindRow = [rows = rowButtons_](Gtk::Widget& widget, const Record& record) { (*rows)[&widget] = record; };
  TableColumnOptions plain;
  plain.minWidth = 120;
  if (screen_->page() == PanelPage::depotsAdmin) {
    table_.addColumn("Склад", recordTextCell("name"), plain);
    TableColumnOptions address;
    address.minWidth = 220;
    address.lines = 2;
    address.expand = true;
    table_.addColumn("Адрес", recordTextCell("address"), address);
    table_.addColumn("Открытие", recordTextCell("windowFrom"), plain);
    table_.addColumn("Закрытие", recordTextCell("windowTo"), plain);
    table_.addWidgetColumn(
        "Править", rowButton("Изменить", [this](const Record& row) { screen_->edit(row); }), bindRow);
  } else {
    TableColumnOptions name = plain;
    name.expand = true;
    table_.addColumn("Сотрудник", recordTextCell("fullName"), name);
    table_.addColumn("Логин", recordTextCell("login"), plain);
    table_.addColumn("Телефон", recordTextCell("phone"), plain);
    table_.addColumn("Роль", recordCell("role", display), plain);
    table_.addWidgetColumn(
        "Пароль", rowButton("Задать новый", [this](const Record& row) { screen_->resetPassword(row); }), bindRow);
  }
}

void StaffView::showCompanies() {
  std::vector<Glib::ustring> titles;
  pickerIds_.clear();
  for (const CompanyOption& option : screen_->options()) {
    titles.emplace_back(option.title);
    pickerIds_.push_back(option.id);
  }
  // A new list of options must not choose a company by itself.
  syncingPicker_ = true;
  picker_.set_model(Gtk::StringList::create(titles));
  syncingPicker_ = false;
  showCompany();
}

void StaffView::showCompany() {
  guint selected = GTK_INVALID_LIST_POSITION;
  for (std::size_t i = 0; i < pickerIds_.size(); ++i)
    if (pickerIds_[i] == screen_->company()) selected = static_cast<guint>(i);
  if (picker_.get_selected() == selected) return;
  syncingPicker_ = true;
  picker_.set_selected(selected);
  syncingPicker_ = false;
}

void StaffView::showState() {
  refresh_->set_sensitive(screen_->canRefresh());
  add_->set_sensitive(screen_->canAdd());
  const bool writable = screen_->canWrite();
  for (auto& [button, record] : *rowButtons_) button->set_sensitive(writable);
}

void StaffView::showSheets() {
  const StaffScreen& screen = *screen_;
  std::weak_ptr<StaffScreen> weak = screen_;
  if ((screen.adding() || screen.editing()) && !editor_) {
    const bool forNew = !screen.editing();
    JSONValue record = forNew ? JSONValue() : screen.editing()->value;
    auto editor = StaffEditor::create(
        screen.page(), screen.company(), std::move(record), [weak] { return StaffScreen::reload(weak); },
        screen.gateway());
    editor_ = Sheet::open(*this, editor->heading(), 570, 600);
    editor_->set_size_request(570, 420);
    editor->prepare();
    Sheet* sheet = editor_;
    editor_->setContent(*Gtk::make_managed<StaffEditorView>(editor, context_, [sheet] { sheet->dismiss(); }));
    editor_->signalClosed().connect([weak, this, forNew] {
      editor_ = nullptr;
      if (auto owner = weak.lock()) forNew ? owner->closeAdding() : owner->closeEditing();
    });
    editor_->present();
  }
  if (screen.passwordFor() && !password_) {
    auto reset = PasswordReset::create(*screen.passwordFor(), screen.gateway());
    password_ = Sheet::open(*this, reset->heading(), 500, -1);
    Sheet* sheet = password_;
    password_->setContent(*Gtk::make_managed<PasswordResetView>(reset, context_, [sheet] { sheet->dismiss(); }));
    password_->signalClosed().connect([weak, this] {
      password_ = nullptr;
      if (auto owner = weak.lock()) owner->closePassword();
    });
    password_->present();
  }
}

// ---- The editor

StaffEditorView::StaffEditorView(std::shared_ptr<StaffEditor> editor, const ShellContext& context,
                                 std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::VERTICAL),
      editor_(std::move(editor)),
      context_(context),
      dismiss_(std::move(dismiss)),
      footer_("Сохранить", [this] { editor_->save(); }, dismiss_) {
  auto* heading = Gtk::make_managed<Gtk::Label>(editor_->heading());
  heading->add_css_class("title-2");
  heading->set_xalign(0);
  heading->set_margin(20);
  append(*heading);

  auto* page = ADW_PREFERENCES_PAGE(adw_preferences_page_new());
  gtk_widget_set_vexpand(GTK_WIDGET(page), TRUE);
  gtk_box_append(gobj(), GTK_WIDGET(page));
  addValueFields(addGroup(page, nullptr), editor_->fields(), editor_->value());

  if (editor_->page() == PanelPage::people) {
    std::vector<const char*> titles;
    for (const StaffRole& choice : kStaffRoles) titles.push_back(choice.title);
    GtkWidget* role = rolePicker(titles);
    const std::optional<std::size_t> chosen = editor_->roleChoice();
    adw_combo_row_set_selected(ADW_COMBO_ROW(role), chosen ? static_cast<guint>(*chosen) : GTK_INVALID_LIST_POSITION);
    // Connected after the first selection: showing the working copy's role does not write it back.
    g_signal_connect(role, "notify::selected", callback([](GObject* row, GParamSpec*, gpointer data) {
                       const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
                       if (selected != GTK_INVALID_LIST_POSITION)
                         static_cast<StaffEditorView*>(data)->editor_->chooseRole(selected);
                     }),
                     this);
    adw_preferences_group_add(addGroup(page, nullptr), role);

    AdwPreferencesGroup* depots = addGroup(page, "Доступные склады");
    addWidget(depots, depotRows_);
    addWidget(depots, *Gtk::make_managed<ScreenNotice>(editor_->depots()));
    showDepots();
  }

  auto* notice = Gtk::make_managed<ScreenNotice>(editor_->state());
  notice->set_margin_start(8);
  notice->set_margin_end(8);
  append(*notice);
  append(footer_);

  connection_ = editor_->observe([this](StaffEditor::Change change) {
    switch (change) {
      case StaffEditor::Change::depots:
        showDepots();
        break;
      case StaffEditor::Change::busy:
        showBusy();
        break;
      case StaffEditor::Change::dismissed:
        if (dismiss_) dismiss_();
        break;
      case StaffEditor::Change::selected:
        break;
    }
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (changesServerWrites(property))
      showBusy();
  });
  showBusy();
}

StaffEditorView::~StaffEditorView() {
  connection_.disconnect();
  modelConnection_.disconnect();
}

void StaffEditorView::showDepots() {
  while (Gtk::Widget* child = depotRows_.get_first_child()) depotRows_.remove(*child);
  std::weak_ptr<StaffEditor> weak = editor_;
  for (const Record& depot : editor_->depotRows()) {
    GtkWidget* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), depot.value["name"].string().c_str());
    adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(row), FALSE);
    auto* toggle = Gtk::make_managed<Gtk::Switch>();
    toggle->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*toggle, depot.value["name"].string());
    toggle->set_active(editor_->selected().count(depot.id()) > 0);
    toggle->property_active().signal_changed().connect([weak, toggle, id = depot.id()] {
      if (auto editor = weak.lock()) editor->setDepot(id, toggle->get_active());
    });
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), GTK_WIDGET(toggle->gobj()));
    adw_action_row_set_activatable_widget(ADW_ACTION_ROW(row), GTK_WIDGET(toggle->gobj()));
    gtk_box_append(depotRows_.gobj(), row);
  }
}

void StaffEditorView::showBusy() { footer_.setBusy(editor_->footerBusy()); }

// ---- The password sheet

PasswordResetView::PasswordResetView(std::shared_ptr<PasswordReset> reset, const ShellContext& context,
                                     std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 16),
      reset_(std::move(reset)),
      context_(context),
      dismiss_(std::move(dismiss)),
      footer_("Сохранить", [this] { reset_->save(); }, dismiss_) {
  set_margin(24);
  auto* heading = Gtk::make_managed<Gtk::Label>(reset_->heading());
  heading->add_css_class("title-2");
  heading->set_xalign(0);
  heading->set_wrap(true);
  append(*heading);
  auto* hint = Gtk::make_managed<Gtk::Label>("После сохранения сотруднику нужно войти заново.");
  hint->add_css_class("dim-label");
  hint->set_xalign(0);
  hint->set_wrap(true);
  append(*hint);

  for (auto [entry, title] : {std::pair{&password_, "Новый пароль"}, std::pair{&repeated_, "Повторите пароль"}}) {
    g_object_set(entry->gobj(), "placeholder-text", title, "activates-default", TRUE, nullptr);
    entry->set_show_peek_icon(true);
    keepSecret(*entry);
    setAccessibleLabel(*entry, title);
    append(*entry);
  }
  problem_.add_css_class("dim-label");
  problem_.set_xalign(0);
  problem_.set_wrap(true);
  append(problem_);
  password_.signal_changed().connect([this] { reset_->setPassword(secretText(password_)); });
  repeated_.signal_changed().connect([this] { reset_->setRepeated(secretText(repeated_)); });

  append(*Gtk::make_managed<ScreenNotice>(reset_->state()));
  footer_.set_margin(0);
  append(footer_);

  connection_ = reset_->observe([this](PasswordReset::Change change) {
    switch (change) {
      case PasswordReset::Change::busy:
        showBusy();
        break;
      case PasswordReset::Change::cleared:
        password_.set_text("");
        repeated_.set_text("");
        break;
      case PasswordReset::Change::dismissed:
        if (dismiss_) dismiss_();
        break;
    }
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (changesServerWrites(property))
      showBusy();
  });
  showBusy();
}

PasswordResetView::~PasswordResetView() {
  connection_.disconnect();
  modelConnection_.disconnect();
}

void PasswordResetView::showBusy() {
  footer_.setBusy(!reset_->canSave());
  const std::optional<std::string> problem = reset_->problem();
  problem_.set_text(problem.value_or(""));
  problem_.set_visible(problem.has_value());
}

Gtk::Widget* makeStaffView(PanelPage page, const ShellContext& context) {
  return Gtk::make_managed<StaffView>(page, context);
}

}  // namespace dorvik::admin
