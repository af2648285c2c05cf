// The sheet "Уточнить по дорогам 2ГИС" opened by the planner screen's "По дорогам". Its state is a RoadRefinement
// that the run keeps alive: closing the sheet ends only the loading, never a run.
#include "planning/logic/road_refinement.h"
#include "planning/planner_pieces.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

Gtk::Label* wrapped(const std::string& text, const char* css = nullptr) {
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_wrap(true);
  label->set_xalign(0);
  label->set_max_width_chars(60);
  if (css) label->add_css_class(css);
  return label;
}

class RoadRefinementView : public Gtk::Box {
 public:
  RoadRefinementView(Sheet& sheet, std::shared_ptr<AppModel> model, std::shared_ptr<RoadRefinement> state)
      : Gtk::Box(Gtk::Orientation::VERTICAL, 16), sheet_(sheet), model_(std::move(model)), state_(std::move(state)) {
    set_margin(24);
    auto* title = wrapped(kRoadsTitle, "title-2");
    append(*title);
    legs_ = wrapped("");
    append(*legs_);
    append(*wrapped(kRoadsReuse, "dim-label"));
    demo_ = wrapped("", "caption");
    append(*demo_);
    append(progress_);
    issue_ = wrapped("", "error");
    issue_->set_selectable(true);
    append(*issue_);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    close_.signal_clicked().connect([this] {
      if (state_->canClose()) sheet_.dismiss();
    });
    calculate_.add_css_class("suggested-action");
    calculate_.signal_clicked().connect([this] { state_->calculate(); });
    buttons->append(close_);
    buttons->append(calculate_);
    append(*buttons);
    // "Рассчитать" spends paid routing requests: it is no default, so Return starts nothing.

    connection_ = state_->observe([this](RoadRefinement::Change change) {
      if (change == RoadRefinement::Change::finished) {
        sheet_.dismiss();
        return;
      }
      show();
    });
    // "Рассчитать" follows the plan's quota and whether the server may be written.
    modelConnection_ = model_->observe([this](AppModel::Property property) {
      using P = AppModel::Property;
      if (property == P::planner || property == P::user || property == P::offline || property == P::preview) show();
    });
    show();
    // The loading belongs to the sheet.
    async::spawn(state_->load(), loading_);
  }
  ~RoadRefinementView() override {
    loading_.cancel();
    modelConnection_.disconnect();
    connection_.disconnect();
  }

 private:
  void show() {
    legs_->set_text(state_->legsText());
    demo_->set_text(state_->demoText());
    demo_->set_visible(state_->demo());
    progress_.set_visible(state_->working());
    progress_.set_fraction(state_->progress());
    issue_->set_text(state_->issue().value_or(""));
    issue_->set_visible(state_->issue().has_value());
    close_.set_sensitive(state_->canClose());
    calculate_.set_sensitive(state_->canCalculate());
    sheet_.setDismissible(state_->canClose());
  }

  Sheet& sheet_;
  std::shared_ptr<AppModel> model_;
  std::shared_ptr<RoadRefinement> state_;
  Gtk::Label* legs_ = nullptr;
  Gtk::Label* demo_ = nullptr;
  Gtk::Label* issue_ = nullptr;
  Gtk::ProgressBar progress_;
  Gtk::Button close_{"Закрыть"};
  Gtk::Button calculate_{"Рассчитать"};
  async::CancelToken loading_;
  RoadRefinement::Connection connection_;
  AppModel::Connection modelConnection_;
};

}  // namespace

Sheet* openRoadRefinement(Gtk::Widget& anchor, const PlannerFrame& frame) {
  Sheet* sheet = Sheet::open(anchor, kRoadsTitle, 540, -1);
  sheet->set_resizable(false);
  const std::shared_ptr<AppModel>& model = frame.context.model;
  auto state = RoadRefinement::create(model, modelRoadWork(model));
  sheet->setContent(*Gtk::make_managed<RoadRefinementView>(*sheet, model, std::move(state)));
  sheet->present();
  return sheet;
}

}  // namespace dorvik::planning
