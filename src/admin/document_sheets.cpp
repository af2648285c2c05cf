#include "admin/document_sheets.h"

#include <adwaita.h>

#include "admin/logic/catalogue.h"
#include "admin/view_parts.h"
#include "shell/screen_notice.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

Gtk::Label* label(const std::string& text, std::initializer_list<const char*> classes = {}) {
  auto* made = Gtk::make_managed<Gtk::Label>(text);
  made->set_xalign(0);
  for (const char* css : classes) made->add_css_class(css);
  return made;
}

// The sheet's heading row: the title (and a line below it) at the left, "Закрыть" at the right.
Gtk::Box* headerRow(Gtk::Label& heading, Gtk::Widget* below, const std::function<void()>& dismiss) {
  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  header->set_margin(20);
  auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 5);
  heading.add_css_class("title-2");
  heading.set_xalign(0);
  heading.set_wrap(true);
  titles->append(heading);
  if (below) titles->append(*below);
  titles->set_hexpand(true);
  header->append(*titles);
  auto* close = Gtk::make_managed<Gtk::Button>("Закрыть");
  close->set_valign(Gtk::Align::START);
  close->signal_clicked().connect([dismiss] {
    if (dismiss) dismiss();
  });
  header->append(*close);
  return header;
}

}  // namespace

// ---- Document details

DocumentDetailsView::DocumentDetailsView(std::shared_ptr<DocumentDetailsController> controller,
                                         std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::VERTICAL), controller_(std::move(controller)) {
  auto* heading = Gtk::make_managed<Gtk::Label>(controller_->title());
  append(*headerRow(*heading, nullptr, dismiss));
  append(*Gtk::make_managed<ScreenNotice>(controller_->content()));

  auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroll->set_min_content_height(100);
  scroll->set_max_content_height(240);
  scroll->set_propagate_natural_height(true);
  body_.set_selectable(true);
  body_.set_wrap(true);
  body_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  body_.set_xalign(0);
  body_.set_yalign(0);
  body_.set_hexpand(true);
  body_.set_margin(20);
  scroll->set_child(body_);
  append(*scroll);

  attachment_.set_halign(Gtk::Align::START);
  attachment_.set_margin(12);
  attachment_.set_margin_start(20);
  std::weak_ptr<DocumentDetailsController> weak = controller_;
  attachment_.signal_clicked().connect([weak] {
    if (auto details = weak.lock()) details->saveAttachment();
  });
  append(attachment_);
  append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));

  auto* acksHeader = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  acksHeader->set_margin(16);
  auto* acksTitle = label("Ознакомление с текущей версией", {"heading"});
  acksTitle->set_hexpand(true);
  acksHeader->append(*acksTitle);
  count_.add_css_class("numeric");
  acksHeader->append(count_);
  append(*acksHeader);
  append(*Gtk::make_managed<ScreenNotice>(controller_->acknowledgments()));

  couriers_.addColumn("Курьер", recordTextCell("fullName"), {.expand = true});
  couriers_.addColumn("Телефон", recordTextCell("phone"), {.minWidth = 140});
  couriers_.addColumn("Ознакомился", [](const Record& row) { return ackedAtText(row.value); }, {.minWidth = 160});
  couriers_.set_vexpand(true);
  append(couriers_);

  contentConnection_ = controller_->content()->observe([this](ScreenData::Property) { showContent(); });
  acksConnection_ = controller_->acknowledgments()->observe([this](ScreenData::Property) { showAcknowledgments(); });
  showContent();
  showAcknowledgments();
  controller_->load();
}

void DocumentDetailsView::showContent() {
  body_.set_text(controller_->body());
  attachment_.set_visible(controller_->showsAttachment());
  attachment_.set_label(controller_->attachmentLabel());
  attachment_.set_sensitive(controller_->canSaveAttachment());
}

void DocumentDetailsView::showAcknowledgments() {
  count_.set_text(controller_->countText());
  couriers_.setRows(controller_->couriers());
}

Sheet* openDocumentDetails(Gtk::Widget& anchor, const Record& document, AdminGateway gateway) {
  auto controller = std::make_shared<DocumentDetailsController>(document, std::move(gateway));
  Sheet* sheet = Sheet::open(anchor, controller->title(), 740, 630);
  sheet->set_size_request(740, 450);
  auto* view = Gtk::make_managed<DocumentDetailsView>(controller, [sheet] { sheet->dismiss(); });
  sheet->setContent(*view);
  sheet->present();
  return sheet;
}

// ---- Courier files

CourierFilesView::CourierFilesView(std::shared_ptr<CourierFilesController> controller, const ShellContext& context,
                                   std::function<void()> dismiss)
    : Gtk::Box(Gtk::Orientation::VERTICAL), controller_(std::move(controller)), context_(context) {
  auto* heading = Gtk::make_managed<Gtk::Label>(controller_->fullName());
  auto* contact = label(controller_->contact(), {"dim-label"});
  append(*headerRow(*heading, contact, dismiss));

  auto* attachRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  attachRow->set_margin_start(20);
  attachRow->set_margin_end(20);
  setPlaceholder(note_, "Комментарий к новому файлу");
  note_.set_hexpand(true);
  note_.set_text(controller_->note());
  note_.signal_changed().connect([this] { controller_->setNote(note_.get_text()); });
  attachRow->append(note_);
  GtkWidget* attachContent = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(attachContent), std::string(symbolIcon("paperclip")).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(attachContent), "Прикрепить файл…");
  gtk_button_set_child(attach_.gobj(), attachContent);
  setAccessibleLabel(attach_, "Прикрепить файл…");
  attach_.signal_clicked().connect([this] { chooseFile(); });
  attachRow->append(attach_);
  append(*attachRow);

  auto* caption = label("Договоры и документы курьера · до 8 МБ на файл", {"caption", "dim-label"});
  caption->set_margin(12);
  caption->set_margin_start(20);
  append(*caption);
  append(*Gtk::make_managed<ScreenNotice>(controller_->state()));

  list_.set_selection_mode(Gtk::SelectionMode::NONE);
  list_.add_css_class("boxed-list");
  list_.set_valign(Gtk::Align::START);
  list_.set_margin(20);
  list_.set_margin_top(8);
  auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroll->set_child(list_);
  scroll->set_vexpand(true);
  overlay_.set_child(*scroll);
  placeholder_ = adw_status_page_new();
  adw_status_page_set_title(ADW_STATUS_PAGE(placeholder_), "Файлы не прикреплены");
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(placeholder_), std::string(symbolIcon("paperclip")).c_str());
  gtk_widget_add_css_class(placeholder_, "compact");
  gtk_overlay_add_overlay(overlay_.gobj(), placeholder_);
  overlay_.set_vexpand(true);
  append(overlay_);

  stateConnection_ = controller_->state()->observe([this](ScreenData::Property property) {
    if (property == ScreenData::Property::value) showFiles();
    showState();
  });
  controllerConnection_ = controller_->observe([this](CourierFilesController::Change change) {
    if (change == CourierFilesController::Change::note && std::string(note_.get_text()) != controller_->note())
      note_.set_text(controller_->note());
    if (change == CourierFilesController::Change::deleting) askDelete();
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (changesServerWrites(property))
      showState();
  });
  showFiles();
  showState();
  controller_->load();
}

CourierFilesView::~CourierFilesView() {
  stateConnection_.disconnect();
  controllerConnection_.disconnect();
  modelConnection_.disconnect();
  if (chooser_) chooser_->hide();
}

void CourierFilesView::showFiles() {
  while (Gtk::Widget* child = list_.get_first_child()) list_.remove(*child);
  rowButtons_.clear();
  std::weak_ptr<CourierFilesController> weak = controller_;
  for (const Record& file : controller_->files()) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    row->set_margin_top(8);
    row->set_margin_bottom(8);
    row->set_margin_start(12);
    row->set_margin_end(12);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 5);
    texts->set_hexpand(true);
    auto* name = label(file["name"].string(), {"heading"});
    name->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    texts->append(*name);
    auto* note = label(file["note"].string(), {"dim-label"});
    // A long comment is cut to three lines: the row keeps the sheet's width and its buttons in view.
    note->set_wrap(true);
    note->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    note->set_lines(3);
    note->set_ellipsize(Pango::EllipsizeMode::END);
    note->set_width_chars(1);
    note->set_visible(!file["note"].string().empty());
    texts->append(*note);
    texts->append(*label(courierFileCaption(file.value), {"caption", "numeric"}));
    row->append(*texts);
    auto* save = Gtk::make_managed<Gtk::Button>("Сохранить…");
    save->set_valign(Gtk::Align::CENTER);
    save->signal_clicked().connect([weak, file] {
      if (auto files = weak.lock()) files->download(file);
    });
    row->append(*save);
    auto* remove = Gtk::make_managed<Gtk::Button>("Удалить");
    remove->set_valign(Gtk::Align::CENTER);
    remove->add_css_class("destructive-action");
    remove->signal_clicked().connect([weak, file] {
      if (auto files = weak.lock()) files->setDeleting(file);
    });
    row->append(*remove);
    list_.append(*row);
    rowButtons_.push_back(save);
    rowButtons_.push_back(remove);
  }
  list_.set_visible(!rowButtons_.empty());
}

void CourierFilesView::showState() {
  gtk_widget_set_visible(placeholder_, controller_->showsPlaceholder());
  const bool mayWrite = controller_->mayWrite();
  offerWrite(attach_, controller_->canAttach(), mayWrite);
  for (std::size_t i = 0; i + 1 < rowButtons_.size(); i += 2) {
    rowButtons_[i]->set_sensitive(controller_->canDownload());
    offerWrite(*rowButtons_[i + 1], controller_->canDelete(), mayWrite);
  }
}

void CourierFilesView::chooseFile() {
  chooser_ = Gtk::FileChooserNative::create("Прикрепить файл", Gtk::FileChooser::Action::OPEN, "Прикрепить", "Отмена");
  chooser_->set_select_multiple(false);
  chooser_->set_modal(false);
  if (auto* window = dynamic_cast<Gtk::Window*>(get_root())) chooser_->set_transient_for(*window);
  const std::string openedIn = controller_->chooserOpened();
  std::weak_ptr<CourierFilesController> weak = controller_;
  Gtk::FileChooserNative* raw = chooser_.get();
  chooser_->signal_response().connect([weak, raw, openedIn](int response) {
    if (response != Gtk::ResponseType::ACCEPT) return;
    auto file = raw->get_file();
    auto files = weak.lock();
    if (!file || !files) return;
    const std::string path = file->get_path();
    if (!path.empty()) files->attach(path, openedIn);
  });
  chooser_->show();
}

void CourierFilesView::askDelete() {
  if (!controller_->deleting()) return;
  std::weak_ptr<CourierFilesController> weak = controller_;
  // The dialog drops its handler when it goes, whatever closed it: the pending file is forgotten then.
  auto closed = std::shared_ptr<void>(nullptr, [weak](void*) {
    if (auto files = weak.lock(); files && files->deleting()) files->setDeleting(std::nullopt);
  });
  confirm(*this, "Удалить файл курьера?", "", "Удалить", true, [weak, closed] {
    if (auto files = weak.lock()) files->confirmDelete();
  });
}

Sheet* openCourierFiles(Gtk::Widget& anchor, const Record& person, AdminGateway gateway, const ShellContext& context) {
  auto controller = CourierFilesController::create(person, std::move(gateway));
  Sheet* sheet = Sheet::open(anchor, controller->fullName(), 720, 570);
  sheet->set_resizable(false);
  auto* view = Gtk::make_managed<CourierFilesView>(controller, context, [sheet] { sheet->dismiss(); });
  sheet->setContent(*view);
  sheet->present();
  return sheet;
}

}  // namespace dorvik::admin
