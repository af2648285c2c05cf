// The end of the selected courier's panel on the payroll page: his pay settings ("Своя ставка", the rate per
// shift, the pay mode, "Сохранить"), his adjustments of the shown period, each deletable after a confirmation,
// and the row that adds one. Every field edits the page's form state; pressing Return in a field sends nothing,
// only the buttons act. The page makes the blocks insensitive (they stay visible) while the sheet may not be
// written.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <vector>

#include "admin/logic/shifts.h"

namespace dorvik::admin {

class PayPanel : public Gtk::Box {
 public:
  explicit PayPanel(std::shared_ptr<ShiftsController> page);
  ~PayPanel() override;

  // What the panel shows (tests).
  Gtk::Switch& ownRateSwitch() { return ownRate_; }
  Gtk::Entry& rateEntry() { return rate_; }
  Gtk::DropDown& payModePicker() { return payMode_; }
  Gtk::Entry& dayEntry() { return day_; }
  Gtk::DropDown& kindPicker() { return kind_; }
  Gtk::Entry& amountEntry() { return amount_; }
  Gtk::Entry& noteEntry() { return note_; }
  // The "Удалить" buttons of the listed adjustments, in order, and their texts.
  const std::vector<Gtk::Button*>& deleteButtons() const { return deleteButtons_; }
  std::vector<std::string> adjustmentTexts() const;

 private:
  Gtk::Widget& buildPayRow();
  Gtk::Widget& buildAddRow();
  void showForm();
  void showAdjustments();
  void askDeletion(const Record& adjustment);
  void editDraft(std::string_view key, std::string text);

  std::shared_ptr<ShiftsController> page_;
  Gtk::Box payRow_{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Switch ownRate_;
  Gtk::Entry rate_;
  Gtk::DropDown payMode_;
  Gtk::Button save_{"Сохранить"};
  Gtk::Box list_{Gtk::Orientation::VERTICAL, 6};
  std::vector<Gtk::Button*> deleteButtons_;
  std::vector<Gtk::Label*> adjustmentLabels_;
  Gtk::Box addRow_{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Entry day_;
  Gtk::DropDown kind_;
  Gtk::Entry amount_;
  Gtk::Entry note_;
  Gtk::Button add_{"Добавить"};
  bool syncing_ = false;
  ShiftsController::Connection connection_;
};

class ShiftsView;
// Puts the pay blocks into the page's courier panel.
void attachPayroll(ShiftsView& view);

}  // namespace dorvik::admin
