// PlannerView: the screen of the planning page. From top to bottom: the header (the plan's name and counts, the
// route date and the depot), the action bar, the bar of a running coordinate search, the tabs with the "Свойства"
// button (and the order search on the orders tab), and the selected tab's content with the order-properties pane.
// It presents the screen's sheets and confirmations. Its state and commands are a PlannerScreen; every figure comes
// from the application model.
#pragma once

#include <gtkmm.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "planning/planner_layout.h"
#include "planning/planner_pieces.h"
#include "shell/date_picker.h"
#include "shell/shell_context.h"

typedef struct _AdwButtonContent AdwButtonContent;

namespace dorvik::planning {

class OrderTableView;

class PlannerView : public Gtk::Box, public PlannerSheets {
 public:
  explicit PlannerView(const ShellContext& context);
  ~PlannerView() override;

  const std::shared_ptr<PlannerScreen>& screen() const { return frame_.screen; }
  // The orders tab's table, once the tab has been shown (tests).
  OrderTableView* orderTable() const { return orderTable_; }

  // PlannerSheets.
  void editOrder(std::optional<JSONValue> order) override;
  void editVehicle(std::optional<Record> vehicle) override;
  void editDepot() override;
  void publish() override;
  void refineRoads() override;
  void confirmDeletion() override;

 private:
  Gtk::Widget& buildHeader();
  Gtk::Widget& buildActions();
  Gtk::Widget& buildGeocodingBar();
  Gtk::Widget& buildTabs();
  Gtk::Button& actionButton(Gtk::Box& group, const std::string& title, const std::string& symbol,
                            AdwButtonContent** content = nullptr);
  void modelChanged(AppModel::Property property);
  void showSummary();
  void showActions();
  void showGeocoding();
  void showTab();
  // Presents a sheet unless one is shown: `open` shows it and returns it (nullptr: nothing to show).
  void present(const std::function<Sheet*()>& open);

  PlannerFrame frame_;
  std::shared_ptr<AppModel> model_;

  // Header.
  Gtk::Label title_;
  Gtk::Label orderCount_;
  Gtk::Label routeCount_;
  Gtk::Box review_{Gtk::Orientation::HORIZONTAL, 4};
  Gtk::Label reviewText_;
  MoscowDatePicker date_;
  Gtk::Button depot_;
  AdwButtonContent* depotContent_ = nullptr;

  // Action bar.
  Gtk::Button* open_ = nullptr;
  Gtk::Button* geocode_ = nullptr;
  AdwButtonContent* geocodeContent_ = nullptr;
  Gtk::Button* calculate_ = nullptr;
  Gtk::Button* newPlan_ = nullptr;
  Gtk::Button* roads_ = nullptr;
  Gtk::MenuButton exportMenu_;
  Gtk::Button* send_ = nullptr;

  // Geocoding bar.
  Gtk::Box geocodingBar_{Gtk::Orientation::HORIZONTAL, 12};
  Gtk::ProgressBar progress_;
  Gtk::Label progressText_;
  Gtk::Button stop_;

  // Tabs and content.
  std::map<std::string, Gtk::ToggleButton*> tabButtons_;
  Gtk::Box orderControls_{Gtk::Orientation::HORIZONTAL};
  Gtk::Stack* content_ = nullptr;
  std::map<std::string, Gtk::Widget*> tabContent_;
  OrderTableView* orderTable_ = nullptr;
  InspectorArea* area_ = nullptr;
  bool showingTab_ = false;

  Sheet* sheet_ = nullptr;
  PlannerScreen::Connection screenConnection_;
  AppModel::Connection modelConnection_;
  ViewLink<PlannerView> link_{this};
};

// The managed planner screen of the planning page.
Gtk::Widget* makePlannerView(const ShellContext& context);

}  // namespace dorvik::planning
