#include "admin/detail_sheets.h"

#include <adwaita.h>

#include "admin/document_sheets.h"
#include "admin/logic/data_screen.h"
#include "shell/toolkit/display.h"

namespace dorvik::admin {

Sheet* openDetailSheet(Gtk::Widget& anchor, const DetailRequest& request) {
  switch (detailKind(request.page)) {
    case DetailKind::readable:
      return openReadableRecord(anchor, std::string(title(request.page)), request.record.value,
                                request.configuration.columns);
    case DetailKind::courierFiles:
      return openCourierFiles(anchor, request.record, request.gateway, request.context);
    case DetailKind::documentDetails:
      return openDocumentDetails(anchor, request.record, request.gateway);
    case DetailKind::routeDetail:
      if (!request.context.routeSheets.detail) return nullptr;
      return request.context.routeSheets.detail(anchor, request.context, routeIDOf(request.record), request.day);
    case DetailKind::routeTrack:
      if (!request.context.routeSheets.track) return nullptr;
      return request.context.routeSheets.track(anchor, request.context, routeIDOf(request.record));
  }
  return nullptr;
}

Sheet* openReadableRecord(Gtk::Widget& anchor, const std::string& title, const JSONValue& value,
                          std::span<const DataColumn> columns) {
  Sheet* sheet = Sheet::open(anchor, title, 580, 550);
  sheet->set_resizable(false);
  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  auto* heading = Gtk::make_managed<Gtk::Label>(title);
  heading->add_css_class("title-2");
  heading->set_margin(12);
  content->append(*heading);

  GtkWidget* page = adw_preferences_page_new();
  gtk_widget_set_vexpand(page, TRUE);
  GtkWidget* group = adw_preferences_group_new();
  const Record record(value, "");
  for (const DataColumn& column : columns) {
    GtkWidget* row = adw_action_row_new();
    gtk_widget_set_name(row, column.key.c_str());
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), column.title.c_str());
    // The text the table shows in the column; "—" where that is empty.
    const std::string shown = column.text(record);
    GtkWidget* text = gtk_label_new(shown.empty() ? "—" : shown.c_str());
    gtk_label_set_selectable(GTK_LABEL(text), TRUE);
    gtk_label_set_wrap(GTK_LABEL(text), TRUE);
    gtk_label_set_xalign(GTK_LABEL(text), 1);
    gtk_label_set_max_width_chars(GTK_LABEL(text), 40);
    gtk_widget_set_hexpand(text, TRUE);
    gtk_widget_add_css_class(text, "dim-label");
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), text);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), row);
  }
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(group));
  gtk_box_append(content->gobj(), page);

  auto* close = Gtk::make_managed<Gtk::Button>("Закрыть");
  close->set_halign(Gtk::Align::END);
  close->set_margin(12);
  close->signal_clicked().connect([sheet] { sheet->close(); });
  content->append(*close);
  sheet->setContent(*content);
  sheet->present();
  return sheet;
}

}  // namespace dorvik::admin
