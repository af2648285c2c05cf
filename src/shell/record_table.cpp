#include "shell/record_table.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "shell/keyboard.h"
#include "shell/toolkit/row_splice.h"
#include "widgets/gtk_helpers.h"

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

// The rows as a list model: the records are the table's own; a row's object is made when the view first asks for
// it and kept while the row stays.
class RecordTable::Rows : public Gio::ListModel, public Glib::Object {
 public:
  static Glib::RefPtr<Rows> create() { return Glib::make_refptr_for_instance<Rows>(new Rows()); }
  std::vector<Record> records;
  // The object of a row already made, or null.
  Row* made(std::size_t position) const { return position < made_.size() ? made_[position].get() : nullptr; }
  // Replaces `removed` rows from `position` by `added` rows: `next` holds the rows after the change. The row
  // objects at the first of those positions stay and take the new records (their cells bind again), so the view
  // keeps its cell widgets there; only the rows beyond are taken out or put in. A view of thousands of rows thus
  // follows a new answer with no row widget made again.
  void replace(std::size_t position, std::size_t removed, std::vector<Record> next, std::size_t added) {
    if (made_.size() < records.size()) made_.resize(records.size());
    const std::size_t kept = std::min(removed, added);
    const auto beyond = static_cast<std::ptrdiff_t>(position + kept);
    if (removed > kept) {
      const auto count = static_cast<std::ptrdiff_t>(removed - kept);
      records.erase(records.begin() + beyond, records.begin() + beyond + count);
      made_.erase(made_.begin() + beyond, made_.begin() + beyond + count);
      items_changed(static_cast<guint>(beyond), static_cast<guint>(count), 0);
    }
    records = std::move(next);
    if (added > kept) {
      made_.insert(made_.begin() + beyond, added - kept, Glib::RefPtr<Row>());
      items_changed(static_cast<guint>(beyond), 0, static_cast<guint>(added - kept));
    }
    for (std::size_t i = position; i < position + kept; ++i) {
      if (Row* row = made_[i].get()) {
        row->record = records[i];
        row->changed.emit();
      }
    }
  }

 protected:
  GType get_item_type_vfunc() override { return G_TYPE_OBJECT; }
  guint get_n_items_vfunc() override { return static_cast<guint>(records.size()); }
  gpointer get_item_vfunc(guint position) override {
    if (position >= records.size()) return nullptr;
    if (made_.size() < records.size()) made_.resize(records.size());
    Glib::RefPtr<Row>& row = made_[position];
    if (!row) row = Row::create(records[position]);
    return row->gobj_copy();
  }

 private:
  Rows() : Glib::ObjectBase(typeid(Rows)), Gio::ListModel(), Glib::Object() {}
  std::vector<Glib::RefPtr<Row>> made_;
};

RecordTable::RecordTable(Selection selection) : mode_(selection) {
  model_ = Rows::create();
  switch (selection) {
    case Selection::none:
      selection_ = Gtk::NoSelection::create(model_);
      break;
    case Selection::single: {
      auto single = Gtk::SingleSelection::create(model_);
      single->set_autoselect(false);
      single->set_can_unselect(true);
      selection_ = single;
      break;
    }
    case Selection::multiple:
      selection_ = Gtk::MultiSelection::create(model_);
      break;
  }
  view_.set_model(selection_);
  view_.set_show_column_separators(false);
  view_.set_show_row_separators(true);
  view_.set_vexpand(true);
  view_.set_hexpand(true);
  selection_->signal_selection_changed().connect([this](guint, guint) { readSelection(); });
  view_.signal_activate().connect([this](guint position) {
    if (position < model_->records.size()) activate_.emit(model_->records[position]);
  });
  set_child(view_);
  set_vexpand(true);
  set_hexpand(true);

  makeOneTabStop(*this);
  auto press = Gtk::GestureClick::create();
  press->set_button(GDK_BUTTON_SECONDARY);
  press->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  press->signal_pressed().connect([this](int, double x, double y) {
    keyboardRow_.reset();
    contextMenu_.emit(x, y);
  });
  add_controller(press);
  addContextMenuKeys(*this, [this] { return contextMenuFromKeyboard(); });
}

bool RecordTable::contextMenuFromKeyboard() {
  Gtk::Root* root = get_root();
  Gtk::Widget* focus = root ? root->get_focus() : nullptr;
  if (!focus || !focus->is_ancestor(*this)) return false;
  // The focused row (or the row of a control in one); its menu opens below it, where it hides none of its cells.
  Gtk::Widget* row = focus;
  while (row->get_parent() && !GTK_IS_LIST_VIEW(row->get_parent()->gobj())) row = row->get_parent();
  if (!row->get_parent()) row = focus;
  double x = 12, y = 12;
  graphene_rect_t bounds;
  keyboardRow_.reset();
  if (gtk_widget_compute_bounds(row->gobj(), GTK_WIDGET(gobj()), &bounds)) {
    x = bounds.origin.x + std::min(12.0f, bounds.size.width / 2);
    y = bounds.origin.y + bounds.size.height / 2;
    keyboardRow_ = Gdk::Rectangle(static_cast<int>(bounds.origin.x), static_cast<int>(bounds.origin.y),
                                  std::max(1, static_cast<int>(bounds.size.width)),
                                  std::max(1, static_cast<int>(bounds.size.height)));
  }
  contextMenu_.emit(x, y);
  return true;
}

void RecordTable::popupRowMenu(Gtk::Popover& menu, double x, double y) {
  Gdk::Rectangle at(static_cast<int>(x), static_cast<int>(y), 1, 1);
  if (keyboardRow_) at = *std::exchange(keyboardRow_, std::nullopt);
  Gtk::Widget* parent = menu.get_parent();
  double px = at.get_x(), py = at.get_y();
  if (parent && parent != this && translate_coordinates(*parent, at.get_x(), at.get_y(), px, py))
    at = Gdk::Rectangle(static_cast<int>(px), static_cast<int>(py), at.get_width(), at.get_height());
  // The menu starts where the row (or the click) does, and lies below it.
  menu.set_halign(Gtk::Align::START);
  menu.set_position(Gtk::PositionType::BOTTOM);
  popupMenu(menu, at);
}

RecordTable::~RecordTable() = default;

void RecordTable::setTooltipsShown(bool shown) {
  tooltipsShown_ = shown;
  gtk_widget_trigger_tooltip_query(GTK_WIDGET(gobj()));
}

void RecordTable::addColumn(const std::string& title, Text text, ColumnOptions options) {
  const int lines = options.lines;
  const bool numeric = options.numeric;
  const bool digits = options.numeric || options.digits;
  const int minWidth = options.ideal > 0 ? -1 : options.minWidth;  // a sharing column gets its width from the table
  addFactoryColumn(
      title,
      [this, lines, numeric, digits, minWidth] {
        auto* label = Gtk::make_managed<Gtk::Label>();
        if (minWidth > 0) label->set_size_request(minWidth, -1);
        label->set_xalign(numeric ? 1.0f : 0.0f);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        if (lines > 1) {
          label->set_wrap(true);
          label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
          label->set_lines(lines);
        }
        if (digits) label->add_css_class("numeric");
        // The tooltip repeats the cell's text, asked for only when shown: setting a tooltip on every bind would
        // ask the display where the pointer is, once per cell.
        label->set_has_tooltip(true);
        label->signal_query_tooltip().connect(
            [this, label](int, int, bool, const Glib::RefPtr<Gtk::Tooltip>& tooltip) {
              if (!tooltipsShown_ || label->get_text().empty()) return false;
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

void RecordTable::addButtonColumn(const std::string& title, const std::string& label,
                                  std::function<void(const Record&)> pressed, ColumnOptions options) {
  addFactoryColumn(
      title,
      [label, pressed = std::move(pressed)] {
        auto* button = Gtk::make_managed<Gtk::Button>(label);
        button->add_css_class("flat");
        button->set_halign(Gtk::Align::START);
        button->signal_clicked().connect([button, pressed] {
          // The row the cell shows now: bound cells carry it.
          auto* row = static_cast<Row*>(button->get_data(kRowKey));
          if (!row) return;
          const Record record = row->record;  // the handler may change the rows
          pressed(record);
        });
        return button;
      },
      [](Gtk::Widget&, const Record&) {}, options);
}

namespace {
// What a row shows, for a screen reader: the texts of its cells (and the tooltips of their images), in order;
// the buttons in it have names of their own.
void collectTexts(GtkWidget* widget, std::string& texts) {
  if (!gtk_widget_get_visible(widget) || GTK_IS_BUTTON(widget)) return;
  const char* text = GTK_IS_LABEL(widget)   ? gtk_label_get_text(GTK_LABEL(widget))
                     : GTK_IS_IMAGE(widget) ? gtk_widget_get_tooltip_text(widget)
                                            : nullptr;
  if (text && *text) {
    if (!texts.empty()) texts += ", ";
    texts += text;
  }
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
    collectTexts(child, texts);
}

const char* const kNameKey = "dorvik-accessible-name";

void nameForScreenReaders(Gtk::Widget& widget, const std::string& name) {
  auto* shown = static_cast<std::string*>(widget.get_data(kNameKey));
  if (shown && *shown == name) return;
  widget.set_data(kNameKey, new std::string(name), [](gpointer data) { delete static_cast<std::string*>(data); });
  setAccessibleLabel(widget, name);
}
}  // namespace

void RecordTable::nameRow(Gtk::Widget& cell) {
  // A cell's widget sits in the column's cell, in the row.
  Gtk::Widget* cellBox = cell.get_parent();
  Gtk::Widget* row = cellBox ? cellBox->get_parent() : nullptr;
  if (!row) return;
  std::string name;
  collectTexts(row->gobj(), name);
  nameForScreenReaders(*row, name);
}

void RecordTable::nameTitles() {
  // The column view's first child is the row of titles.
  Gtk::Widget* titles = view_.get_first_child();
  if (!titles) return;
  std::string name;
  auto columns = view_.get_columns();
  for (guint i = 0; i < columns->get_n_items(); ++i) {
    auto column = std::dynamic_pointer_cast<Gtk::ColumnViewColumn>(columns->get_object(i));
    const std::string title = column ? column->get_title() : "";
    if (title.empty()) continue;
    name += name.empty() ? "Столбцы: " : ", ";
    name += title;
  }
  nameForScreenReaders(*titles, name);
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
    nameRow(*child);
    Row* shown = row.get();
    sigc::connection& refresh = cells_[child];
    refresh.disconnect();  // a cell bound again without being unbound follows only its new row
    refresh = shown->changed.connect([this, bind, child, shown] {
      bind(*child, shown->record);
      nameRow(*child);
    });
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
  if (options.width > 0) {
    column->set_fixed_width(static_cast<int>(options.width * widthScale_ + 0.5));
    fixedWidths_.emplace_back(column, options.width);
  }
  if (options.ideal > 0) {
    sharing_ = true;
    const int narrowest = options.minWidth > 0 ? options.minWidth : options.ideal;
    const int widest = options.maxWidth < 0 ? -1 : options.ideal + options.maxWidth;
    spans_.emplace_back(column, ColumnSpan{narrowest, options.ideal, widest});
    column->set_fixed_width(static_cast<int>(options.ideal * widthScale_ + 0.5));
  } else {
    const int fixed = std::max(options.width, 0);
    spans_.emplace_back(column, ColumnSpan{fixed, fixed, fixed});
  }
  column->set_expand(options.expand);
  column->set_resizable(true);
  view_.append_column(column);
  nameTitles();
}

namespace {
// How much larger than the desktop's font the widget's text is (the text size of the settings).
double textScale(Gtk::Widget& widget) {
  auto settings = Gtk::Settings::get_default();
  if (!settings) return 1.0;
  // The desktop names its font in points, the style gives the widget's in pixels at the desktop's resolution.
  const Pango::FontDescription desktop(settings->property_gtk_font_name().get_value());
  const Pango::FontDescription font = widget.get_pango_context()->get_font_description();
  const int dpi = settings->property_gtk_xft_dpi().get_value();
  const double pixelsPerPoint = (dpi > 0 ? dpi / 1024.0 : 96.0) / 72.0;
  auto pixels = [&](const Pango::FontDescription& d) {
    return d.get_size_is_absolute() ? d.get_size() : d.get_size() * pixelsPerPoint;
  };
  const double standard = pixels(desktop);
  const double own = pixels(font);
  return standard > 0 && own > 0 ? own / standard : 1.0;
}
}  // namespace

void RecordTable::size_allocate_vfunc(int width, int height, int baseline) {
  Gtk::ScrolledWindow::size_allocate_vfunc(width, height, baseline);
  // A new text size reaches the table as a new layout: the fixed columns widen or narrow with their text, after
  // this layout is done.
  // Columns that share the page follow its width as well.
  const double scale = textScale(view_);
  const bool newScale = std::abs(scale - widthScale_) >= 0.01;
  const bool newWidth = sharing_ && width != sharedWidth_;
  if (!newScale && !newWidth) return;
  widthScale_ = scale;
  sharedWidth_ = width;
  Glib::signal_idle().connect_once(sigc::mem_fun(*this, &RecordTable::applyWidths));
}

void RecordTable::applyWidths() {
  if (sharing_) {
    std::vector<ColumnSpan> spans;
    for (const auto& [column, span] : spans_) spans.push_back(span);
    const std::vector<int> widths = columnWidths(spans, sharedWidth_, widthScale_);
    for (std::size_t i = 0; i < widths.size(); ++i)
      if (spans_[i].first->get_fixed_width() != widths[i]) spans_[i].first->set_fixed_width(widths[i]);
    return;
  }
  for (auto& [column, width] : fixedWidths_) column->set_fixed_width(static_cast<int>(width * widthScale_ + 0.5));
}

void RecordTable::clearColumns() {
  fixedWidths_.clear();
  spans_.clear();
  sharing_ = false;
  auto columns = view_.get_columns();
  while (columns->get_n_items() > 0) {
    auto column = std::dynamic_pointer_cast<Gtk::ColumnViewColumn>(columns->get_object(0));
    if (!column) break;
    view_.remove_column(column);
  }
  nameTitles();
}

void RecordTable::setTitlesVisible(bool visible) {
  // The column view's first child is the row of titles.
  if (Gtk::Widget* titles = view_.get_first_child()) titles->set_visible(visible);
}

const std::vector<Record>& RecordTable::rows() const { return model_->records; }

void RecordTable::setRows(std::vector<Record> rows) {
  std::vector<Record>& current = model_->records;
  std::vector<std::string> ids;
  ids.reserve(rows.size());
  for (const Record& row : rows) ids.push_back(identity_ ? identity_(row) : row.id());
  const RowSplice change = rowSplice(ids_, ids);

  // The rows kept at both ends stay, each refreshed in place when its record changed.
  std::vector<Row*> refreshed;
  auto refresh = [&](std::size_t before, std::size_t after) {
    if (current[before] == rows[after]) return;
    if (Row* row = model_->made(before)) {
      row->record = rows[after];
      refreshed.push_back(row);
    }
  };
  for (std::size_t i = 0; i < change.position; ++i) refresh(i, i);
  const std::size_t tail = ids.size() - change.position - change.added;
  for (std::size_t k = 1; k <= tail; ++k) refresh(current.size() - k, rows.size() - k);

  if (change.empty()) {
    current = std::move(rows);
    for (Row* row : refreshed) row->changed.emit();
    return;
  }
  applying_ = true;
  // Rows that go are unselected first: the selection model would otherwise look for them among all the rows put
  // in their place.
  if (mode_ == Selection::multiple && change.removed > 0)
    selection_->unselect_range(static_cast<guint>(change.position), static_cast<guint>(change.removed));
  ids_ = std::move(ids);
  positions_.clear();
  positions_.reserve(ids_.size());
  for (std::size_t i = 0; i < ids_.size(); ++i) positions_.emplace(ids_[i], static_cast<guint>(i));
  model_->replace(change.position, change.removed, std::move(rows), change.added);
  for (Row* row : refreshed) row->changed.emit();
  selectAmong(change.position, change.added);
  applying_ = false;
}

void RecordTable::selectAmong(std::size_t position, std::size_t count) {
  if (mode_ == Selection::none || selected_.empty()) return;
  if (mode_ == Selection::single) {
    applySelection();
    return;
  }
  for (const std::string& id : selected_) {
    auto found = positions_.find(id);
    if (found != positions_.end() && found->second >= position && found->second < position + count)
      selection_->select_item(found->second, false);
  }
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
    if (!rows().empty()) all->add_range(0, static_cast<guint>(rows().size()));
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
