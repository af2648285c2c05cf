#include "shell/toolkit/row_splice.h"

#include <algorithm>

namespace dorvik {

RowSplice rowSplice(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  std::size_t head = 0;
  const std::size_t shorter = std::min(before.size(), after.size());
  while (head < shorter && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < shorter - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) ++tail;
  return RowSplice{head, before.size() - head - tail, after.size() - head - tail};
}

}  // namespace dorvik
