// IntegrationsView: the integrations page over IntegrationsController — the geocoding section (lookup order,
// DaData key, local catalogue), the 2GIS section (routing and map keys, map style, demo-key flag, key test), the
// failure line and the save and clearing buttons. Key fields start empty: the stored keys are only ever shown
// masked, in the status lines.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "admin/logic/integrations.h"
#include "shell/form_widgets.h"
#include "shell/shell_context.h"

namespace dorvik::admin {

class IntegrationsView : public Gtk::Box {
 public:
  explicit IntegrationsView(const ShellContext& context);
  IntegrationsView(const ShellContext& context, IntegrationsGateway gateway);
  ~IntegrationsView() override;

  const std::shared_ptr<IntegrationsController>& controller() const { return controller_; }

 private:
  GtkWidget* buildGeocoding();
  GtkWidget* buildTwoGis();
  Gtk::Widget& buildFooter();
  void showData();
  void showValue();
  void showState();
  void askClearing();

  ShellContext context_;
  std::shared_ptr<IntegrationsController> controller_;

  GtkWidget* geocoder_ = nullptr;
  ValueFieldRows dadataRow_;
  ValueFieldRows twoGisRows_;
  GtkWidget* demoRow_ = nullptr;
  Gtk::Switch demo_;
  std::vector<GtkWidget*> fields_;  // what edits the settings: every row of the two sections but the lines
  bool syncing_ = false;
  Gtk::Label dadataStatus_;
  Gtk::Label catalog_;
  Gtk::Label mapStatus_;
  Gtk::Label routingStatus_;
  Gtk::Button test_{"Проверить ключ 2ГИС"};
  Gtk::Label issue_;
  Gtk::Button save_{"Сохранить настройки"};
  Gtk::Button clear_{"Очистить ключи склада"};

  IntegrationsController::Connection controllerConnection_;
  AppModel::Connection modelConnection_;
};

// The integrations page, as the page switch shows it.
Gtk::Widget* makeIntegrationsView(const ShellContext& context);

}  // namespace dorvik::admin
