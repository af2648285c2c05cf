#include "admin/record_editor_view.h"

#include <adwaita.h>

#include "admin/view_parts.h"
#include "map/map_surface.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

// A group of input rows over a shared object, as a widget that can stand anywhere; `rows` receives the rows.
GtkWidget* valueFields(std::span<const FieldSpec> fields, std::shared_ptr<JSONValue> value,
                       ValueFieldRows* rows = nullptr) {
  auto* group = ADW_PREFERENCES_GROUP(adw_preferences_group_new());
  ValueFieldRows made = addValueFields(group, std::vector<FieldSpec>(fields.begin(), fields.end()), std::move(value));
  if (rows) *rows = std::move(made);
  return GTK_WIDGET(group);
}

MapContent zoneContent(const RecordEditorController& editor) {
  MapContent content;
  content.pins = editor.vertexPins();
  content.polygons = {editor.polygon()};
  content.drawing = true;
  return content;
}

}  // namespace

RecordEditorView::RecordEditorView(std::shared_ptr<RecordEditorController> controller, const ShellContext& context,
                                   std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::VERTICAL),
      controller_(std::move(controller)),
      context_(context),
      dismiss_(std::move(dismiss)),
      footer_("Сохранить", [this] { controller_->save(); }, dismiss_) {
  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  header->set_margin(20);
  heading_.set_text(controller_->heading());
  heading_.add_css_class("title-2");
  heading_.set_xalign(0);
  header->append(heading_);
  header->append(*spacer());
  trash_.set_icon_name(std::string(symbolIcon("trash")));
  trash_.set_tooltip_text("Удалить запись");
  setAccessibleLabel(trash_, "Удалить запись");
  trash_.add_css_class("destructive-action");
  trash_.set_visible(controller_->showsDelete());
  trash_.signal_clicked().connect([this] {
    std::weak_ptr<RecordEditorController> weak = controller_;
    confirm(*this, "Удалить эту запись?", "Это действие нельзя отменить.", "Удалить", true, [weak] {
      if (auto editor = weak.lock()) editor->remove();
    });
  });
  header->append(trash_);
  append(*header);

  page_ = ADW_PREFERENCES_PAGE(adw_preferences_page_new());
  gtk_widget_set_vexpand(GTK_WIDGET(page_), TRUE);
  gtk_box_append(gobj(), GTK_WIDGET(page_));
  addWidget(group(nullptr), fieldsSlot_);
  buildFields();
  const PanelPage page = controller_->page();
  if (controller_->showsRolePicker()) buildRolePicker();
  if (page == PanelPage::clients) buildClientParts();
  if (page == PanelPage::zones) buildZoneParts();
  if (page == PanelPage::documents) buildAttachmentParts();

  issue_.add_css_class("error");
  issue_.set_wrap(true);
  issue_.set_xalign(0);
  issue_.set_selectable(true);
  issue_.set_margin_start(20);
  issue_.set_margin_end(20);
  issue_.set_margin_top(8);
  append(issue_);
  append(footer_);

  connection_ = controller_->observe([this](RecordEditorController::Change change) {
    using Change = RecordEditorController::Change;
    switch (change) {
      case Change::value:
        buildFields();
        if (role_) buildRolePicker();
        break;
      case Change::issue:
        showIssue();
        break;
      case Change::busy:
        showBusy();
        break;
      case Change::addresses:
        scheduleAddresses();
        break;
      case Change::coordinates:
        showCoordinates();
        break;
      case Change::lookup:
        showLookup();
        break;
      case Change::polygon:
        showPolygon();
        break;
      case Change::attachment:
        showAttachment();
        break;
      case Change::resend:
        askResend();
        break;
      case Change::dismissed:
        if (dismiss_) dismiss_();
        break;
    }
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (changesServerWrites(property))
      showBusy();
  });
  showIssue();
  showBusy();
}

RecordEditorView::~RecordEditorView() {
  connection_.disconnect();
  modelConnection_.disconnect();
}

void RecordEditorView::askResend() {
  std::weak_ptr<RecordEditorController> weak = controller_;
  confirm(*this, "Отправить запись ещё раз?",
          "Ответ сервера на прошлое сохранение не пришёл, а в списке на сервере этой записи нет. Если она всё же "
          "сохранилась, появится вторая такая же запись.",
          "Отправить ещё раз", false, [weak] {
            if (auto editor = weak.lock()) editor->resend();
          });
}

AdwPreferencesGroup* RecordEditorView::group(const char* title) { return addGroup(page_, title); }

void RecordEditorView::buildFields() {
  // The rows edit the working copy in place; a new working copy (the loaded document) gets new rows.
  while (Gtk::Widget* child = fieldsSlot_.get_first_child()) fieldsSlot_.remove(*child);
  gtk_box_append(fieldsSlot_.gobj(), valueFields(controller_->fields(), controller_->value()));
}

void RecordEditorView::buildRolePicker() {
  if (!role_) {
    role_ = rolePicker(kRoleTitles);
    g_signal_connect(role_, "notify::selected", callback([](GObject* row, GParamSpec*, gpointer data) {
                       auto* view = static_cast<RecordEditorView*>(data);
                       if (view->syncingRole_) return;
                       const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(row));
                       if (selected != GTK_INVALID_LIST_POSITION) view->controller_->chooseRole(selected);
                     }),
                     this);
    adw_preferences_group_add(group(nullptr), role_);
  }
  // Showing the working copy's role must not write it back.
  syncingRole_ = true;
  const std::optional<std::size_t> choice = controller_->roleChoice();
  adw_combo_row_set_selected(ADW_COMBO_ROW(role_), choice ? static_cast<guint>(*choice) : GTK_INVALID_LIST_POSITION);
  syncingRole_ = false;
}

void RecordEditorView::buildClientParts() {
  AdwPreferencesGroup* phones = group(nullptr);
  GtkWidget* entry = adw_entry_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(entry), "Телефоны через запятую");
  gtk_editable_set_text(GTK_EDITABLE(entry), controller_->phones().c_str());
  g_signal_connect(entry, "changed", callback([](GtkEditable* editable, gpointer data) {
                     static_cast<RecordEditorView*>(data)->controller_->setPhones(gtk_editable_get_text(editable));
                   }),
                   this);
  adw_preferences_group_add(phones, entry);

  AdwPreferencesGroup* addresses = group("Адреса клиента");
  addWidget(addresses, addressBlocks_);
  addAddress_ = Gtk::make_managed<Gtk::Button>();
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon("plus")).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), "Добавить адрес");
  gtk_button_set_child(addAddress_->gobj(), content);
  addAddress_->set_halign(Gtk::Align::START);
  addAddress_->set_margin_top(8);
  addAddress_->signal_clicked().connect([this] { controller_->addClientAddress(); });
  addWidget(addresses, *addAddress_);
  showAddresses();
}

void RecordEditorView::scheduleAddresses() {
  // Built anew from the main loop: the button that asked for the change may be one of the widgets replaced.
  std::weak_ptr<RecordEditorView*> link = link_.weak();
  Glib::signal_idle().connect_once([link] {
    if (RecordEditorView* view = lockView(link)) view->showAddresses();
  });
}

void RecordEditorView::showAddresses() {
  if (controller_->page() != PanelPage::clients) return;
  while (Gtk::Widget* child = addressBlocks_.get_first_child()) addressBlocks_.remove(*child);
  addressControls_.clear();
  const auto& rows = controller_->clientAddresses();
  for (std::size_t index = 0; index < rows.size(); ++index) {
    AddressControls row;
    auto* block = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    block->set_margin_top(8);
    block->set_margin_bottom(8);
    gtk_box_append(block->gobj(), valueFields(clientAddressFields(), rows[index], &row.fields));

    auto* controls = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    row.find = Gtk::make_managed<Gtk::Button>();
    row.find->signal_clicked().connect([this, index] { controller_->lookup(index); });
    controls->append(*row.find);
    row.spinner = Gtk::make_managed<Gtk::Spinner>();
    controls->append(*row.spinner);
    row.stop = Gtk::make_managed<Gtk::Button>("Остановить");
    row.stop->signal_clicked().connect([this] { controller_->stopLookup(); });
    controls->append(*row.stop);
    controls->append(*spacer());
    row.remove = Gtk::make_managed<Gtk::Button>("Убрать адрес");
    row.remove->add_css_class("destructive-action");
    row.remove->signal_clicked().connect([this, index] { controller_->removeClientAddress(index); });
    controls->append(*row.remove);
    block->append(*controls);
    addressBlocks_.append(*block);
    addressControls_.push_back(std::move(row));
  }
  showLookup();
}

void RecordEditorView::showLookup() {
  const std::optional<std::size_t>& running = controller_->lookupIndex();
  const bool enabled = controller_->canChangeAddresses();
  for (std::size_t i = 0; i < addressControls_.size(); ++i) {
    const AddressControls& row = addressControls_[i];
    row.find->set_label(running == i ? "Ищем координаты…" : "Найти координаты");
    row.find->set_sensitive(enabled);
    row.remove->set_sensitive(enabled);
    row.spinner->set_visible(running == i);
    row.spinner->set_spinning(running == i);
    row.stop->set_visible(running == i);
  }
}

void RecordEditorView::showCoordinates() {
  const auto& rows = controller_->clientAddresses();
  for (std::size_t i = 0; i < addressControls_.size() && i < rows.size(); ++i) {
    addressControls_[i].fields.refresh(*rows[i], "lat");
    addressControls_[i].fields.refresh(*rows[i], "lon");
  }
}

void RecordEditorView::buildZoneParts() {
  AdwPreferencesGroup* boundary = group("Граница зоны");
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  auto* hint = Gtk::make_managed<Gtk::Label>("Нажимайте на карту, чтобы добавить вершины по контуру.");
  hint->add_css_class("dim-label");
  hint->set_wrap(true);
  hint->set_xalign(0);
  box->append(*hint);
  std::weak_ptr<RecordEditorController> weak = controller_;
  map_ = Gtk::make_managed<TwoGISSurface>(context_.model, context_.defaults, zoneContent(*controller_),
                                          [weak](const MapInteraction& interaction) {
                                            if (auto editor = weak.lock()) editor->onMapInteraction(interaction);
                                          });
  map_->set_size_request(-1, 260);
  box->append(*map_);
  auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  vertexCount_.add_css_class("numeric");
  line->append(vertexCount_);
  line->append(*spacer());
  undoVertex_.signal_clicked().connect([this] { controller_->undoVertex(); });
  line->append(undoVertex_);
  box->append(*line);
  addWidget(boundary, *box);
  showPolygon();
}

void RecordEditorView::showPolygon() {
  if (!map_) return;
  vertexCount_.set_text(vertexCountText(controller_->polygon().size()));
  undoVertex_.set_sensitive(!controller_->polygon().empty());
  map_->setPins(controller_->vertexPins());
  map_->setPolygons({controller_->polygon()});
}

void RecordEditorView::buildAttachmentParts() {
  AdwPreferencesGroup* section = group("Вложение");
  auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  attachmentName_.set_xalign(0);
  attachmentName_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
  attachmentName_.set_hexpand(true);
  line->append(attachmentName_);
  auto* choose = Gtk::make_managed<Gtk::Button>("Выбрать файл…");
  choose->signal_clicked().connect([this] { chooseAttachment(); });
  line->append(*choose);
  addWidget(section, *line);
  if (controller_->showsRemoveAttachment()) {
    auto* remove = Gtk::make_managed<Gtk::CheckButton>("Удалить сохранённое вложение");
    remove->set_active(controller_->removeAttachment());
    remove->set_margin_top(6);
    remove->signal_toggled().connect([this, remove] { controller_->setRemoveAttachment(remove->get_active()); });
    addWidget(section, *remove);
  }
  showAttachment();
}

void RecordEditorView::showAttachment() {
  if (controller_->page() == PanelPage::documents) attachmentName_.set_text(controller_->attachmentName());
}

void RecordEditorView::chooseAttachment() {
  chooser_ = Gtk::FileChooserNative::create("Выбрать файл", Gtk::FileChooser::Action::OPEN, "Выбрать", "Отмена");
  chooser_->set_select_multiple(false);
  chooser_->set_modal(false);
  if (auto* window = dynamic_cast<Gtk::Window*>(get_root())) chooser_->set_transient_for(*window);
  std::weak_ptr<RecordEditorController> weak = controller_;
  Gtk::FileChooserNative* raw = chooser_.get();
  chooser_->signal_response().connect([weak, raw](int response) {
    if (response != Gtk::ResponseType::ACCEPT) return;
    auto file = raw->get_file();
    auto editor = weak.lock();
    if (!file || !editor) return;
    const std::string path = file->get_path();
    if (!path.empty()) editor->attach(path);
  });
  chooser_->show();
}

void RecordEditorView::showBusy() {
  footer_.setBusy(controller_->footerBusy());
  trash_.set_sensitive(controller_->canDelete());
  if (addAddress_) showLookup();
}

void RecordEditorView::showIssue() {
  issue_.set_text(controller_->issue().value_or(""));
  issue_.set_visible(controller_->issue().has_value());
}

Sheet* openRecordEditor(Gtk::Widget& anchor, std::shared_ptr<RecordEditorController> controller,
                        const ShellContext& context) {
  Sheet* sheet = Sheet::open(anchor, controller->heading(), 630, 600);
  sheet->set_size_request(630, 420);
  controller->prepare();
  auto* view = Gtk::make_managed<RecordEditorView>(controller, context, [sheet] { sheet->dismiss(); });
  sheet->setContent(*view);
  sheet->present();
  return sheet;
}

}  // namespace dorvik::admin
