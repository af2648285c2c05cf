// The planner's "Проверка" tab: the readiness checks as one list in four sections. The list is virtual (only
// the lines on screen have widgets) and follows the plan in place, so a day of thousands of orders without
// coordinates lists them cheaply.
#include <adwaita.h>

#include "planning/logic/order_rows.h"
#include "planning/logic/plan_checks.h"
#include "planning/planner_pieces.h"
#include "shell/toolkit/row_splice.h"
#include "shell/toolkit/symbols.h"

namespace dorvik::planning {

namespace {

class CheckItem : public Glib::Object {
 public:
  static Glib::RefPtr<CheckItem> create(CheckLine line) {
    return Glib::make_refptr_for_instance<CheckItem>(new CheckItem(std::move(line)));
  }
  CheckLine line;
  sigc::signal<void()> changed;  // the line was replaced in place

 private:
  explicit CheckItem(CheckLine l) : line(std::move(l)) {}
};

// One line's widgets: a symbol, the text with its detail underneath (an order's address) or at the end (a
// route's figures).
class CheckRow : public Gtk::Box {
 public:
  CheckRow() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 10) {
    set_margin_start(16);
    set_margin_end(16);
    set_margin_top(8);
    set_margin_bottom(8);
    symbol_.set_valign(Gtk::Align::CENTER);
    append(symbol_);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    texts->set_hexpand(true);
    for (Gtk::Label* label : {&text_, &below_}) {
      label->set_xalign(0);
      label->set_wrap(true);
      label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
      texts->append(*label);
    }
    below_.add_css_class("dim-label");
    append(*texts);
    end_.add_css_class("numeric");
    end_.add_css_class("dim-label");
    end_.set_valign(Gtk::Align::CENTER);
    append(end_);
  }

  void show(const CheckLine& line) {
    using Kind = CheckLine::Kind;
    symbol_.set_visible(!line.symbol.empty());
    if (!line.symbol.empty()) symbol_.set_from_icon_name(std::string(symbolIcon(line.symbol)));
    text_.set_text(line.text);
    if (line.kind == Kind::section) {
      text_.add_css_class("heading");
      set_margin_top(18);
    } else {
      text_.remove_css_class("heading");
      set_margin_top(8);
    }
    if (line.kind == Kind::note) {
      text_.add_css_class("dim-label");
    } else {
      text_.remove_css_class("dim-label");
    }
    below_.set_text(line.detail);
    below_.set_visible(line.kind == Kind::review || line.kind == Kind::problem);
    end_.set_text(line.detail);
    end_.set_visible(line.kind == Kind::limit);
  }

 private:
  Gtk::Image symbol_;
  Gtk::Label text_;
  Gtk::Label below_;
  Gtk::Label end_;
};

class ChecksView : public Gtk::ScrolledWindow {
 public:
  explicit ChecksView(PlannerFrame frame) : frame_(std::move(frame)) {
    store_ = Gio::ListStore<CheckItem>::create();
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect(
        [](const Glib::RefPtr<Gtk::ListItem>& item) { item->set_child(*Gtk::make_managed<CheckRow>()); });
    factory->signal_bind().connect([this](const Glib::RefPtr<Gtk::ListItem>& item) {
      auto line = std::dynamic_pointer_cast<CheckItem>(item->get_item());
      auto* row = dynamic_cast<CheckRow*>(item->get_child());
      if (!line || !row) return;
      item->set_activatable(line->line.kind == CheckLine::Kind::review || line->line.kind == CheckLine::Kind::problem);
      row->show(line->line);
      sigc::connection& refresh = bound_[row];
      refresh.disconnect();
      CheckItem* shown = line.get();
      refresh = shown->changed.connect([row, shown] { row->show(shown->line); });
    });
    factory->signal_unbind().connect([this](const Glib::RefPtr<Gtk::ListItem>& item) {
      if (auto found = bound_.find(item->get_child()); found != bound_.end()) {
        found->second.disconnect();
        bound_.erase(found);
      }
    });
    list_.set_factory(factory);
    list_.set_model(Gtk::NoSelection::create(store_));
    list_.set_single_click_activate(true);
    list_.signal_activate().connect([this](guint position) {
      if (position >= lines_.size()) return;
      const std::string id = lines_[position].id;  // the jump replaces the rows
      if (lines_[position].kind == CheckLine::Kind::review) reviewOrder(*frame_.screen, id);
      if (lines_[position].kind == CheckLine::Kind::problem) {
        // The order is mended in its editor.
        for (const JSONValue& order : frame_.context.model->planner()["orders"].array()) {
          if (orderID(order) == id) return frame_.sheets->editOrder(order);
        }
      }
    });
    set_child(list_);
    set_vexpand(true);
    set_hexpand(true);

    modelConnection_ = frame_.context.model->observe([this](AppModel::Property property) {
      if (property == AppModel::Property::planner) showLines();
    });
    showLines();
  }

  ~ChecksView() override {
    for (auto& [row, connection] : bound_) connection.disconnect();
  }

 private:
  void showLines() {
    const AppModel& model = *frame_.context.model;
    std::vector<CheckLine> lines = checkLines(model.planner(), model.routes());
    std::vector<std::string> before, after;
    before.reserve(lines_.size());
    after.reserve(lines.size());
    for (const CheckLine& line : lines_) before.push_back(line.key);
    for (const CheckLine& line : lines) after.push_back(line.key);
    const RowSplice change = rowSplice(before, after);
    auto refresh = [&](std::size_t old, std::size_t now) {
      if (lines_[old] == lines[now]) return;
      auto item = store_->get_item(static_cast<guint>(old));
      item->line = lines[now];
      item->changed.emit();
    };
    for (std::size_t i = 0; i < change.position; ++i) refresh(i, i);
    const std::size_t tail = after.size() - change.position - change.added;
    for (std::size_t k = 1; k <= tail; ++k) refresh(lines_.size() - k, lines.size() - k);
    std::vector<Glib::RefPtr<CheckItem>> added;
    added.reserve(change.added);
    for (std::size_t i = 0; i < change.added; ++i) added.push_back(CheckItem::create(lines[change.position + i]));
    lines_ = std::move(lines);
    if (!change.empty()) store_->splice(static_cast<guint>(change.position), static_cast<guint>(change.removed), added);
  }

  PlannerFrame frame_;
  Gtk::ListView list_;
  Glib::RefPtr<Gio::ListStore<CheckItem>> store_;
  std::vector<CheckLine> lines_;
  std::map<Gtk::Widget*, sigc::connection> bound_;
  AppModel::Connection modelConnection_;
};

}  // namespace

Gtk::Widget* makeChecks(const PlannerFrame& frame) { return Gtk::make_managed<ChecksView>(frame); }

}  // namespace dorvik::planning
