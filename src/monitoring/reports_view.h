// The period reports page ("Отчёты"): the server's summary of 1 to 366 Moscow days as five total tiles, one of
// three slices in a table (per courier, per day, problems and delays), a bar chart of the days, and the slice on
// screen exported as a workbook. One request brings every slice; switching the slice never reloads. A double
// click on a problem row opens its route's detail sheet.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <string>
#include <vector>

#include "monitoring/logic/report_rules.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"

namespace dorvik {
class MoscowDatePicker;
}  // namespace dorvik

namespace dorvik::monitoring {

class ReportsView : public Gtk::Box {
 public:
  explicit ReportsView(ShellContext context);
  ~ReportsView() override;

  // What the screen holds now (tests).
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  const std::string& tab() const { return tab_; }
  const std::vector<Record>& rows() const { return rows_; }
  Instant from() const { return from_; }
  Instant to() const { return to_; }
  // The period as picked by the user, the slice as chosen, the "Построить" button and a preset of the menu.
  void pickPeriod(Instant from, Instant to);
  void chooseTab(const std::string& tab);
  void build();
  void applyPreset(Preset preset);
  // The chart's day columns now shown (none when the chart is hidden).
  std::vector<Gtk::Widget*> chartColumns() const;

 private:
  Gtk::Widget& buildToolbar();
  Gtk::Widget& buildHeader();
  Gtk::Widget& buildTiles();
  Gtk::Widget& buildTabs();
  void load();
  void update();
  void showPeriod();
  void showTable();
  void showChart();
  void exportShown();
  void open(const Record& row);

  ShellContext context_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  Instant from_ = std::chrono::system_clock::now();
  Instant to_ = from_;
  std::string tab_ = "couriers";
  std::vector<Record> rows_;
  std::string loadedGeneration_;
  bool generationPending_ = true;

  MoscowDatePicker* fromPicker_ = nullptr;
  MoscowDatePicker* toPicker_ = nullptr;
  Gtk::Button* build_ = nullptr;
  Gtk::Button* export_ = nullptr;
  Gtk::Label invalid_{"Выберите период от 1 до 366 дней."};
  Gtk::Box tiles_{Gtk::Orientation::VERTICAL};
  std::vector<Gtk::Label*> tileValues_;
  Gtk::Label range_;
  std::vector<Gtk::ToggleButton*> tabButtons_;
  Gtk::Box chart_{Gtk::Orientation::VERTICAL, 8};
  Gtk::Box chartRow_{Gtk::Orientation::HORIZONTAL, static_cast<int>(kColumnSpacing)};
  RecordTable table_{RecordTable::Selection::none};
  Gtk::Widget* empty_ = nullptr;
  ScreenData::Connection stateConnection_;
  AppModel::Connection modelConnection_;
};

Gtk::Widget* makeReportsView(const ShellContext& context);

}  // namespace dorvik::monitoring
