#include "app/page_catalogue.h"

#include "admin/data_screen_view.h"
#include "admin/integrations_view.h"
#include "admin/shifts_view.h"
#include "admin/staff_view.h"
#include "monitoring/monitoring_view.h"
#include "monitoring/reports_view.h"
#include "monitoring/route_detail.h"
#include "monitoring/route_tools.h"
#include "planning/panel_pages.h"
#include "planning/planner_view.h"
#include "shell/shell_pages.h"

namespace dorvik {

Gtk::Widget* makePanelContent(PanelPage page, const ShellContext& shellContext) {
  ShellContext context = shellContext;
  context.routeSheets = {monitoring::openRouteDetail, monitoring::openRouteTrack};
  switch (page) {
    case PanelPage::planning:
      return planning::makePlannerView(context);
    case PanelPage::transport:
      return planning::makeTransportView(context);
    case PanelPage::history:
      return planning::makePlanHistoryView(context);
    case PanelPage::settings:
      return makeWorkspaceSettingsPage(context);
    case PanelPage::appSettings:
      return makeCourierAppSettingsPage(context);
    case PanelPage::help:
      return makeHelpPage(context);
    case PanelPage::live:
    case PanelPage::orders:
    case PanelPage::trackers:
    case PanelPage::vehicles:
    case PanelPage::clients:
    case PanelPage::addresses:
    case PanelPage::zones:
    case PanelPage::documents:
    case PanelPage::companies:
      return admin::makeDataScreen(page, context);
    case PanelPage::shifts:
      return admin::makeShiftsView(context);
    case PanelPage::depotsAdmin:
    case PanelPage::people:
      return admin::makeStaffView(page, context);
    case PanelPage::integrations:
      return admin::makeIntegrationsView(context);
    case PanelPage::overview:
    case PanelPage::monitorMap:
    case PanelPage::crew:
      return monitoring::makeMonitoringView(page, context);
    case PanelPage::reports:
      return monitoring::makeReportsView(context);
  }
  return nullptr;  // no page of that value
}

}  // namespace dorvik
