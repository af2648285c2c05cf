// The smallest replacement that turns one list of rows into another: the rows both lists share at the start and
// at the end (by identity) stay, the rest in between is replaced in one splice. A table updated this way keeps its
// row objects, their widgets and their selection when a plan of thousands of orders changes in one place, and
// refreshes the kept rows whose values changed in place (a recalculation changes every row, none of the identities).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dorvik {

struct RowSplice {
  std::size_t position = 0;  // first row replaced
  std::size_t removed = 0;   // rows of the old list replaced
  std::size_t added = 0;     // rows of the new list put in their place, from `position`

  bool empty() const { return removed == 0 && added == 0; }
};

// Rows are the same when their identities are equal.
RowSplice rowSplice(const std::vector<std::string>& before, const std::vector<std::string>& after);

}  // namespace dorvik
