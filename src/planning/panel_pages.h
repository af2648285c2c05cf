// The panel pages of the planning workspace besides the planner: the transport page and the plan history page.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik::planning {

// The "Транспорт" page: the current plan's vehicles with "Добавить машину" and each row's "Изменить".
Gtk::Widget* makeTransportView(const ShellContext& context);
// The "История" page: the plan snapshots of this workspace, searched, saved by hand and opened again.
Gtk::Widget* makePlanHistoryView(const ShellContext& context);

}  // namespace dorvik::planning
