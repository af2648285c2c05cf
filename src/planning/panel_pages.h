// The panel pages of the planning workspace besides the planner.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik::planning {

// The "Транспорт" page: the current plan's vehicles with "Добавить машину" and each row's "Изменить".
Gtk::Widget* makeTransportView(const ShellContext& context);

}  // namespace dorvik::planning
