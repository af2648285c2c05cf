// The publication dialog over a Publication: the plan's summary, the server's answer and the modes it allows,
// the red issue line and the footer.
#include "planning/logic/publication.h"
#include "planning/planner_pieces.h"
#include "shell/form_widgets.h"

namespace dorvik::planning {

namespace {

// The first lines of a list, one a line, and how many more there are.
std::string listed(const std::vector<std::string>& lines) {
  constexpr std::size_t kShown = 8;
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) text += (i ? "\n" : "") + lines[i];
  if (lines.size() > kShown) text += "\nи ещё " + std::to_string(lines.size() - kShown);
  return text;
}

class PublicationView : public Gtk::Box {
 public:
  PublicationView(Sheet& sheet, std::shared_ptr<AppModel> model, std::shared_ptr<Publication> publication)
      : Gtk::Box(Gtk::Orientation::VERTICAL, 18), sheet_(sheet), publication_(std::move(publication)) {
    set_margin(24);
    auto* title = Gtk::make_managed<Gtk::Label>("Отправить план курьерам");
    title->add_css_class("title-2");
    title->set_xalign(0);
    append(*title);
    summary_.set_xalign(0);
    append(summary_);

    checking_.append(spinner_);
    checking_.append(*Gtk::make_managed<Gtk::Label>("Проверяем текущие маршруты…"));
    spinner_.start();
    append(checking_);

    server_.set_xalign(0);
    answer_.append(server_);
    auto* question = Gtk::make_managed<Gtk::Label>("Что сделать");
    question->add_css_class("heading");
    question->set_xalign(0);
    question->set_margin_top(6);
    answer_.append(*question);
    answer_.append(modes_);
    append(answer_);

    // Values that could not be read go out empty only once the user agrees.
    auto* heading = Gtk::make_managed<Gtk::Label>("Будут отправлены без значения");
    heading->add_css_class("heading");
    heading->set_xalign(0);
    sentEmpty_.append(*heading);
    auto* explained = Gtk::make_managed<Gtk::Label>(
        "Эти значения не удалось прочитать. Исправьте их в карточках заказов (вкладка «Проверка») или отправьте "
        "заказы без них.");
    explained->add_css_class("dim-label");
    explained->set_wrap(true);
    explained->set_xalign(0);
    sentEmpty_.append(*explained);
    values_.set_wrap(true);
    values_.set_xalign(0);
    sentEmpty_.append(values_);
    confirm_.set_label("Отправить без этих значений");
    confirm_.signal_toggled().connect([this] { publication_->setConfirmed(confirm_.get_active()); });
    sentEmpty_.append(confirm_);
    append(sentEmpty_);
    // The summary and the values sent empty follow the plan (a search running meanwhile changes it).
    showPlan(*model);
    modelConnection_ = model->observe([this, weak = std::weak_ptr<AppModel>(model)](AppModel::Property property) {
      if (property != AppModel::Property::planner) return;
      if (auto held = weak.lock()) showPlan(*held);
    });

    issue_.add_css_class("error");
    issue_.set_wrap(true);
    issue_.set_xalign(0);
    issue_.set_selectable(true);
    append(issue_);

    footer_ = Gtk::make_managed<EditorFooter>(
        "Отправить", [publication = publication_] { publication->send(); }, [this] { dismiss(); });
    footer_->set_margin(0);
    append(*footer_);
    sheet_.setContent(*this);

    sheet_.signalClosed().connect([this, publication = publication_] {
      closed_ = true;
      publication->close();
    });
    connection_ = publication_->observe([this](Publication::Change change) {
      if (change == Publication::Change::dismissed) return dismiss();
      if (change == Publication::Change::existing) showModes();
      update();
    });
    update();
  }

 private:
  void dismiss() {
    if (closed_) return;
    closed_ = true;
    sheet_.dismiss();
  }

  void showPlan(const AppModel& model) {
    summary_.set_text(publicationSummary(model.routes().size(), model.planner()["routeDate"].string()));
    publication_->setSentEmpty(valuesSentEmpty(model.planner()));
  }

  void showModes() {
    while (Gtk::Widget* child = modes_.get_first_child()) modes_.remove(*child);
    Gtk::CheckButton* group = nullptr;
    for (const PublicationMode& mode : offeredModes(publication_->existing())) {
      auto* radio = Gtk::make_managed<Gtk::CheckButton>(mode.label);
      if (group) radio->set_group(*group);
      group = radio;
      radio->set_active(publication_->mode() == mode.tag);
      const std::string tag = mode.tag;
      radio->signal_toggled().connect([this, radio, tag] {
        if (radio->get_active()) publication_->setMode(tag);
      });
      modes_.append(*radio);
    }
  }

  void update() {
    const JSONValue& existing = publication_->existing();
    checking_.set_visible(existing.isNull());
    answer_.set_visible(!existing.isNull());
    if (!existing.isNull()) server_.set_text(serverLine(existing));
    modes_.set_sensitive(publication_->canPickMode());
    const std::vector<std::string>& empty = publication_->sentEmpty();
    sentEmpty_.set_visible(!empty.empty());
    values_.set_text(listed(empty));
    if (confirm_.get_active() != publication_->confirmed()) confirm_.set_active(publication_->confirmed());
    confirm_.set_sensitive(!publication_->busy());
    issue_.set_text(publication_->issue().value_or(""));
    issue_.set_visible(publication_->issue().has_value());
    footer_->setBusy(!publication_->canSend());
  }

  Sheet& sheet_;
  std::shared_ptr<Publication> publication_;
  Gtk::Label summary_;
  Gtk::Box checking_{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Spinner spinner_;
  Gtk::Box answer_{Gtk::Orientation::VERTICAL, 8};
  Gtk::Label server_;
  Gtk::Box modes_{Gtk::Orientation::VERTICAL, 4};
  Gtk::Box sentEmpty_{Gtk::Orientation::VERTICAL, 6};
  Gtk::Label values_;
  Gtk::CheckButton confirm_;
  Gtk::Label issue_;
  EditorFooter* footer_ = nullptr;
  bool closed_ = false;
  Publication::Connection connection_;
  AppModel::Connection modelConnection_;
};

}  // namespace

Sheet* openPublication(Gtk::Widget& anchor, const PlannerFrame& frame) {
  const std::shared_ptr<AppModel>& model = frame.context.model;
  auto publication = Publication::create(publicationWork(model));
  Sheet* sheet = Sheet::open(anchor, "Отправить план курьерам", 560, -1);
  sheet->set_resizable(false);
  Gtk::make_managed<PublicationView>(*sheet, model, publication);
  sheet->present();
  publication->check(model->planner()["routeDate"].string());
  return sheet;
}

}  // namespace dorvik::planning
