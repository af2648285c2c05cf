// The detail sheets the data screen opens for a record, by the page's kind of details: the readable record sheet
// here, the courier files and the document details (document_sheets.h), and the monitoring screens' route detail
// (for the day's routes and orders) and route track (for the trackers), through the context's route sheets.
#pragma once

#include <gtkmm.h>

#include <span>
#include <string>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/catalogue.h"
#include "core/json/json_value.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

namespace dorvik::admin {

struct DetailRequest {
  PanelPage page;
  std::string day;  // the screen's working day
  Record record;
  DataScreen configuration;
  ShellContext context;
  AdminGateway gateway;  // the screen's
};

// Opens the record's detail sheet over `anchor`.
Sheet* openDetailSheet(Gtk::Widget& anchor, const DetailRequest& request);

// The readable record sheet: one labelled line per column, "Закрыть" (Escape).
Sheet* openReadableRecord(Gtk::Widget& anchor, const std::string& title, const JSONValue& value,
                          std::span<const DataColumn> columns);

}  // namespace dorvik::admin
