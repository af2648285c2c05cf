// The smallest replacement that turns one list of rows into another: the rows both lists share at the start and
// at the end stay, the rest in between is replaced in one splice. A table updated this way keeps the widgets of
// its unchanged rows (and their selection) when a plan of thousands of orders changes in one place.
#pragma once

#include <cstddef>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {

struct RowSplice {
  std::size_t position = 0;  // first row replaced
  std::size_t removed = 0;   // rows of the old list replaced
  std::size_t added = 0;     // rows of the new list put in their place, from `position`

  bool empty() const { return removed == 0 && added == 0; }
};

// Rows are the same when their identifiers and values are equal.
RowSplice rowSplice(const std::vector<Record>& before, const std::vector<Record>& after);

}  // namespace dorvik
