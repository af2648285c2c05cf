#include "admin/pay_panel.h"

#include <array>
#include <string>

#include "admin/logic/payroll.h"
#include "admin/shifts_view.h"
#include "shell/sheet.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

// The pay modes and adjustment kinds of the pickers: the value sent, the title shown.
constexpr std::array<std::pair<const char*, const char*>, 3> kPayModes{
    {{"shift", "Посменно"}, {"monthly", "За месяц"}, {"official", "Официально"}}};
constexpr std::array<std::pair<const char*, const char*>, 2> kKinds{{{"extra", "Доплата"}, {"fine", "Штраф"}}};

template <std::size_t N>
std::vector<Glib::ustring> titles(const std::array<std::pair<const char*, const char*>, N>& options) {
  std::vector<Glib::ustring> out;
  for (const auto& option : options) out.emplace_back(option.second);
  return out;
}

// The option holding `value`; none (no entry selected) for a value that is none of them.
template <std::size_t N>
guint positionOf(const std::array<std::pair<const char*, const char*>, N>& options, const std::string& value) {
  for (std::size_t i = 0; i < N; ++i)
    if (value == options[i].first) return static_cast<guint>(i);
  return GTK_INVALID_LIST_POSITION;
}

// Shows `text` in an entry unless it shows it already (rewriting would move the cursor while typing).
void showText(Gtk::Entry& entry, const std::string& text) {
  if (entry.get_text().raw() != text) entry.set_text(text);
}

void setPlaceholder(Gtk::Entry& entry, const char* text, int width) {
  ::dorvik::setPlaceholder(entry, text);
  entry.set_tooltip_text(text);
  if (width > 0) {
    entry.set_size_request(width, -1);
    entry.set_width_chars(1);
    entry.set_max_width_chars(1);
  }
}

}  // namespace

PayPanel::PayPanel(std::shared_ptr<ShiftsController> page)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 16),
      page_(std::move(page)),
      payMode_(titles(kPayModes)),
      kind_(titles(kKinds)) {
  append(buildPayRow());
  append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));
  // Many adjustments scroll in their list; the add form stays under it in view.
  auto* listed = Gtk::make_managed<Gtk::ScrolledWindow>();
  listed->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  listed->set_propagate_natural_height(true);
  listed->set_child(list_);
  append(*listed);
  append(buildAddRow());

  connection_ = page_->observe([this](ShiftsController::Change change) {
    switch (change) {
      case ShiftsController::Change::form:
        showForm();
        break;
      // The page fills the forms of a newly selected courier (setDraft); the list follows him.
      case ShiftsController::Change::selection:
      case ShiftsController::Change::document:
      case ShiftsController::Change::period:
        showAdjustments();
        break;
      default:
        break;
    }
  });
  showForm();
  showAdjustments();
}

PayPanel::~PayPanel() { connection_.disconnect(); }

Gtk::Widget& PayPanel::buildPayRow() {
  auto* label = Gtk::make_managed<Gtk::Label>("Своя ставка");
  ownRate_.set_valign(Gtk::Align::CENTER);
  setAccessibleLabel(ownRate_, "Своя ставка");
  ownRate_.property_active().signal_changed().connect([this] {
    if (!syncing_) page_->setOwnRate(ownRate_.get_active());
  });
  setPlaceholder(rate_, "₽ за смену", 100);
  rate_.add_css_class("numeric");
  rate_.signal_changed().connect([this] {
    if (!syncing_) page_->setRate(rate_.get_text());
  });
  auto* modeLabel = Gtk::make_managed<Gtk::Label>("Выплата");
  modeLabel->add_css_class("dim-label");
  setAccessibleLabel(payMode_, "Выплата");
  payMode_.property_selected().signal_changed().connect([this] {
    const guint at = payMode_.get_selected();
    if (!syncing_ && at < kPayModes.size()) page_->setPayMode(kPayModes[at].first);
  });
  save_.signal_clicked().connect([this] { saveCourier(*page_); });
  payRow_.append(*label);
  payRow_.append(ownRate_);
  payRow_.append(rate_);
  payRow_.append(*modeLabel);
  payRow_.append(payMode_);
  payRow_.append(save_);
  return payRow_;
}

Gtk::Widget& PayPanel::buildAddRow() {
  setPlaceholder(day_, "День", 55);
  day_.add_css_class("numeric");
  day_.signal_changed().connect([this] { editDraft("day", day_.get_text()); });
  kind_.set_size_request(130, -1);
  setAccessibleLabel(kind_, "Корректировка");
  kind_.property_selected().signal_changed().connect([this] {
    const guint at = kind_.get_selected();
    if (at < kKinds.size()) editDraft("kind", kKinds[at].first);
  });
  setPlaceholder(amount_, "Сумма, ₽", 100);
  amount_.add_css_class("numeric");
  amount_.signal_changed().connect([this] { editDraft("amount", amount_.get_text()); });
  setPlaceholder(note_, "Комментарий", 0);
  note_.set_hexpand(true);
  note_.signal_changed().connect([this] { editDraft("note", note_.get_text()); });
  add_.signal_clicked().connect([this] { addAdjustment(*page_); });
  addRow_.append(day_);
  addRow_.append(kind_);
  addRow_.append(amount_);
  addRow_.append(note_);
  addRow_.append(add_);
  return addRow_;
}

void PayPanel::editDraft(std::string_view key, std::string text) {
  if (syncing_) return;
  JSONValue draft = page_->adjustment();
  setDraftText(draft, key, std::move(text));
  page_->setAdjustment(std::move(draft));
}

void PayPanel::showForm() {
  syncing_ = true;
  ownRate_.set_active(page_->ownRate());
  showText(rate_, page_->rate());
  payMode_.set_selected(positionOf(kPayModes, page_->payMode()));
  const JSONValue& draft = page_->adjustment();
  showText(day_, draftText(draft, "day"));
  kind_.set_selected(positionOf(kKinds, draftText(draft, "kind")));
  showText(amount_, draftText(draft, "amount"));
  showText(note_, draftText(draft, "note"));
  rate_.set_sensitive(page_->ownRate());
  syncing_ = false;
}

void PayPanel::showAdjustments() {
  while (Gtk::Widget* child = list_.get_first_child()) list_.remove(*child);
  deleteButtons_.clear();
  adjustmentLabels_.clear();
  const std::optional<Record> row = page_->current();
  if (row) {
    for (const Record& adjustment : adjustmentsInPeriod(row->value, page_->days())) {
      auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
      auto* text = Gtk::make_managed<Gtk::Label>(adjustmentRowText(adjustment.value));
      text->set_xalign(0);
      auto* note = Gtk::make_managed<Gtk::Label>(adjustment.value["note"].string());
      note->add_css_class("dim-label");
      note->set_xalign(0);
      note->set_hexpand(true);
      note->set_ellipsize(Pango::EllipsizeMode::END);
      note->set_max_width_chars(24);  // a long note is cut, never widening the column
      note->set_selectable(true);
      auto* remove = Gtk::make_managed<Gtk::Button>("Удалить");
      remove->add_css_class("destructive-action");
      remove->signal_clicked().connect([this, adjustment] { askDeletion(adjustment); });
      line->append(*text);
      line->append(*note);
      line->append(*remove);
      list_.append(*line);
      deleteButtons_.push_back(remove);
      adjustmentLabels_.push_back(text);
    }
  }
  list_.set_visible(!deleteButtons_.empty());
}

std::vector<std::string> PayPanel::adjustmentTexts() const {
  std::vector<std::string> out;
  for (const Gtk::Label* label : adjustmentLabels_) out.push_back(label->get_text());
  return out;
}

void PayPanel::askDeletion(const Record& adjustment) {
  page_->setDeleting(adjustment);
  std::weak_ptr<ShiftsController> weak = page_;
  // The answers hold the page, never this panel: the dialog may outlive it.
  confirm(
      *this, "Удалить корректировку?", "", "Удалить", true,
      [weak] {
        if (auto page = weak.lock()) confirmDeletion(*page);
      },
      [weak] {
        if (auto page = weak.lock()) page->setDeleting(std::nullopt);
      });
}

void attachPayroll(ShiftsView& view) { view.payBlocks().append(*Gtk::make_managed<PayPanel>(view.controller())); }

}  // namespace dorvik::admin
