#include "shell/toolkit/row_splice.h"

#include <algorithm>

namespace dorvik {

namespace {
bool same(const Record& a, const Record& b) { return a.id() == b.id() && a.value == b.value; }
}  // namespace

RowSplice rowSplice(const std::vector<Record>& before, const std::vector<Record>& after) {
  std::size_t head = 0;
  const std::size_t shorter = std::min(before.size(), after.size());
  while (head < shorter && same(before[head], after[head])) ++head;
  std::size_t tail = 0;
  while (tail < shorter - head && same(before[before.size() - 1 - tail], after[after.size() - 1 - tail])) ++tail;
  return RowSplice{head, before.size() - head - tail, after.size() - head - tail};
}

}  // namespace dorvik
