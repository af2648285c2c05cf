#include "shell/record_table.h"

#include "shell/toolkit/row_splice.h"

namespace dorvik {

namespace {
const char* const kRowKey = "dorvik-record-row";
}

class RecordTable::Row : public Glib::Object {
 public:
  static Glib::RefPtr<Row> create(Record record) {
    return Glib::make_refptr_for_instance<Row>(new Row(std::move(record)));
  }
  Record record;
  // The record was replaced in place: the cells showing the row bind it again.
  sigc::signal<void()> changed;

 private:
  explicit Row(Record r) : record(std::move(r)) {}
};

RecordTable::RecordTable(Selection selection) : mode_(selection) {
  store_ = Gio::ListStore<Row>::create();
  switch (selection) {
    case Selection::none:
      selection_ = Gtk::NoSelection::create(store_);
      break;
    case Selection::single: {
      auto single = Gtk::SingleSelection::create(store_);
      single->set_autoselect(false);
      single->set_can_unselect(true);
      selection_ = single;
      break;
    }
    case Selection::multiple:
      selection_ = Gtk::MultiSelection::create(store_);
      break;
  }
  view_.set_model(selection_);
  view_.set_show_column_separators(false);
  view_.set_show_row_separators(true);
  view_.set_vexpand(true);
  view_.set_hexpand(true);
  selection_->signal_selection_changed().connect([this](guint, guint) { readSelection(); });
  view_.signal_activate().connect([this](guint position) {
    if (position < rows_.size()) activate_.emit(rows_[position]);
  });
  set_child(view_);
  set_vexpand(true);
  set_hexpand(true);
}

RecordTable::~RecordTable() = default;

void RecordTable::addColumn(const std::string& title, Text text, ColumnOptions options) {
  const int lines = options.lines;
  const bool numeric = options.numeric;
  const int minWidth = options.minWidth;
  addFactoryColumn(
      title,
      [lines, numeric, minWidth] {
        auto* label = Gtk::make_managed<Gtk::Label>();
        if (minWidth > 0) label->set_size_request(minWidth, -1);
        label->set_xalign(numeric ? 1.0f : 0.0f);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        if (lines > 1) {
          label->set_wrap(true);
          label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
          label->set_lines(lines);
        }
        if (numeric) label->add_css_class("numeric");
        // The tooltip repeats the cell's text, asked for only when shown: setting a tooltip on every bind would
        // ask the display where the pointer is, once per cell.
        label->set_has_tooltip(true);
        label->signal_query_tooltip().connect(
            [label](int, int, bool, const Glib::RefPtr<Gtk::Tooltip>& tooltip) {
              if (label->get_text().empty()) return false;
              tooltip->set_text(label->get_text());
              return true;
            },
            false);
        return label;
      },
      [text = std::move(text)](Gtk::Widget& widget, const Record& record) {
        static_cast<Gtk::Label&>(widget).set_text(text(record));
      },
      options);
}

void RecordTable::addWidgetColumn(const std::string& title, Make make, Bind bind, ColumnOptions options) {
  addFactoryColumn(title, std::move(make), std::move(bind), options);
}

void RecordTable::addFactoryColumn(const std::string& title, Make make, Bind bind, const ColumnOptions& options) {
  auto factory = Gtk::SignalListItemFactory::create();
  factory->signal_setup().connect([make](const Glib::RefPtr<Gtk::ListItem>& item) { item->set_child(*make()); });
  factory->signal_bind().connect([this, bind](const Glib::RefPtr<Gtk::ListItem>& item) {
    auto row = std::dynamic_pointer_cast<Row>(item->get_item());
    Gtk::Widget* child = item->get_child();
    if (!row || !child) return;
    child->set_data(kRowKey, row.get());
    bind(*child, row->record);
    Row* shown = row.get();
    sigc::connection& refresh = cells_[child];
    refresh.disconnect();  // a cell bound again without being unbound follows only its new row
    refresh = shown->changed.connect([bind, child, shown] { bind(*child, shown->record); });
  });
  factory->signal_unbind().connect([this](const Glib::RefPtr<Gtk::ListItem>& item) {
    Gtk::Widget* child = item->get_child();
    if (!child) return;
    child->set_data(kRowKey, nullptr);
    if (auto cell = cells_.find(child); cell != cells_.end()) {
      cell->second.disconnect();
      cells_.erase(cell);
    }
  });
  auto column = Gtk::ColumnViewColumn::create(title, factory);
  if (options.width > 0) column->set_fixed_width(options.width);
  column->set_expand(options.expand);
  column->set_resizable(true);
  view_.append_column(column);
}

void RecordTable::clearColumns() {
  auto columns = view_.get_columns();
  while (columns->get_n_items() > 0) {
    auto column = std::dynamic_pointer_cast<Gtk::ColumnViewColumn>(columns->get_object(0));
    if (!column) break;
    view_.remove_column(column);
  }
}

void RecordTable::setRows(std::vector<Record> rows) {
  std::vector<std::string> ids;
  ids.reserve(rows.size());
  for (const Record& row : rows) ids.push_back(identity_ ? identity_(row) : row.id());
  const RowSplice change = rowSplice(ids_, ids);

  // The rows kept at both ends stay, each refreshed in place when its record changed.
  auto refresh = [&](std::size_t before, std::size_t after) {
    if (rows_[before] == rows[after]) return;
    Glib::RefPtr<Row> row = store_->get_item(static_cast<guint>(before));
    row->record = rows[after];
    row->changed.emit();
  };
  for (std::size_t i = 0; i < change.position; ++i) refresh(i, i);
  const std::size_t tail = ids.size() - change.position - change.added;
  for (std::size_t k = 1; k <= tail; ++k) refresh(rows_.size() - k, rows.size() - k);

  std::vector<Glib::RefPtr<Row>> additions;
  additions.reserve(change.added);
  for (std::size_t i = 0; i < change.added; ++i) additions.push_back(Row::create(rows[change.position + i]));
  rows_ = std::move(rows);
  if (change.empty()) return;
  ids_ = std::move(ids);
  positions_.clear();
  for (std::size_t i = 0; i < ids_.size(); ++i) positions_.emplace(ids_[i], static_cast<guint>(i));
  applying_ = true;
  store_->splice(static_cast<guint>(change.position), static_cast<guint>(change.removed), additions);
  applying_ = false;
  applySelection();
}

void RecordTable::setSelectedIds(std::set<std::string> ids) {
  if (mode_ == Selection::none) return;
  if (mode_ == Selection::single && ids.size() > 1) ids = {*ids.begin()};
  selected_ = std::move(ids);
  applySelection();
}

void RecordTable::applySelection() {
  if (mode_ == Selection::none) return;
  applying_ = true;
  if (mode_ == Selection::single) {
    auto single = std::static_pointer_cast<Gtk::SingleSelection>(selection_);
    guint position = GTK_INVALID_LIST_POSITION;
    if (!selected_.empty()) {
      auto found = positions_.find(*selected_.begin());
      if (found != positions_.end()) position = found->second;
    }
    if (single->get_selected() != position) single->set_selected(position);
  } else {
    auto chosen = Gtk::Bitset::create();
    for (const std::string& id : selected_) {
      auto found = positions_.find(id);
      if (found != positions_.end()) chosen->add(found->second);
    }
    auto all = Gtk::Bitset::create();
    if (!rows_.empty()) all->add_range(0, static_cast<guint>(rows_.size()));
    selection_->set_selection(chosen, all);
  }
  applying_ = false;
}

void RecordTable::readSelection() {
  if (applying_ || mode_ == Selection::none) return;
  std::set<std::string> ids;
  if (mode_ == Selection::single) {
    guint position = std::static_pointer_cast<Gtk::SingleSelection>(selection_)->get_selected();
    if (position < ids_.size()) ids.insert(ids_[position]);
  } else {
    auto chosen = selection_->get_selection();
    for (guint position : *chosen) {
      if (position < ids_.size()) ids.insert(ids_[position]);
    }
  }
  if (ids == selected_) return;
  selected_ = std::move(ids);
  selectionChanged_.emit(selected_);
}

std::optional<Record> RecordTable::rowAt(double x, double y) {
  Gtk::Widget* widget = pick(x, y, Gtk::PickFlags::DEFAULT);
  for (; widget && widget != this; widget = widget->get_parent()) {
    for (Gtk::Widget* candidate : {widget, widget->get_first_child()}) {
      if (!candidate) continue;
      if (auto* row = static_cast<Row*>(candidate->get_data(kRowKey))) return row->record;
    }
  }
  return std::nullopt;
}

}  // namespace dorvik
