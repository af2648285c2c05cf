// How any JSON value reads in a table cell, a search key or an export cell.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/json/json_value.h"

namespace dorvik {

// The fixed Russian word of a status, reason, signal, role or pay-mode code; null when the text is no code.
const char* displayWord(std::string_view code);

// Objects give their "name", arrays their elements joined with ", ", codes their Russian word, other values
// their text, and an empty text "—".
std::string display(const JSONValue& value);

using CellFormat = std::function<std::string(const JSONValue&)>;

// A table column: a member of the record, or a dotted path into nested objects ("courier.name"), and its header.
struct DataColumn {
  std::string key;
  std::string title;

  // Narrowest width of the column in pixels, by the whole key (case-sensitive).
  int minimumWidth() const;
  // The width the column opens with.
  int idealWidth() const;
};

// The text of one column of a record table: the member (or dotted path) `key` of the row, through `format`.
std::string recordCellText(const Record& record, std::string_view key, const CellFormat& format);
// The same with the raw text of the value: a missing value gives an empty cell.
std::string recordTextCellText(const Record& record, std::string_view key);

}  // namespace dorvik
