#include "planning/placeholder_pieces.h"

#include <adwaita.h>

#include "shell/toolkit/symbols.h"

namespace dorvik::planning {

Gtk::Widget* placeholderTab(const std::string& symbol, const std::string& title) {
  GtkWidget* page = adw_status_page_new();
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(page), std::string(symbolIcon(symbol)).c_str());
  adw_status_page_set_title(ADW_STATUS_PAGE(page), title.c_str());
  gtk_widget_set_vexpand(page, TRUE);
  gtk_widget_set_hexpand(page, TRUE);
  return Glib::wrap(page);
}

}  // namespace dorvik::planning
