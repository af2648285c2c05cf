// The detail sheets the data screen opens for a record, by the page's kind of details: the readable record sheet
// here; the route detail, the route track, the courier files and the document details are each their own
// screen's, and open once their screens are built.
#pragma once

#include <gtkmm.h>

#include <span>
#include <string>

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
};

// Opens the record's detail sheet over `anchor`; none when the page has no detail sheet to show.
Sheet* openDetailSheet(Gtk::Widget& anchor, const DetailRequest& request);

// The readable record sheet: one labelled line per column, "Закрыть" (Escape).
Sheet* openReadableRecord(Gtk::Widget& anchor, const std::string& title, const JSONValue& value,
                          std::span<const DataColumn> columns);

}  // namespace dorvik::admin
