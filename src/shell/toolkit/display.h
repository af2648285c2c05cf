// How any JSON value reads in a table cell, a search key or an export cell.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {

// The fixed Russian word of a status, reason, signal, role or pay-mode code; null when the text is no code.
const char* displayWord(std::string_view code);

// Objects give their "name", arrays their elements joined with ", ", codes their Russian word, other values
// their text, and an empty text "—".
std::string display(const JSONValue& value);
// The same without the codes' words, for columns of names and identifiers: a login "admin" reads "admin".
std::string displayAsIs(const JSONValue& value);

// How a column turns the value it reads into text: `display` where the column holds codes that are to read as
// words (statuses, signals, roles, pay modes), `rawText` or `displayAsIs` where the value is wanted as it is
// (names, identifiers, times, counts).
using CellFormat = std::function<std::string(const JSONValue&)>;
// JSONValue::string as a format: a missing or null value gives the empty text.
std::string rawText(const JSONValue& value);

// The text of one column's cell for a record: the member (or dotted path) `key` of the row through `format`.
// Tables show it as it is, searches fold it and exports write it, so the three always agree.
std::string recordCellText(const Record& record, std::string_view key, const CellFormat& format);

// The cells that record tables are built from: a column's text for any row.
using CellText = std::function<std::string(const Record&)>;
CellText recordCell(std::string key, CellFormat format);
// recordCell with rawText: a missing value gives an empty cell.
CellText recordTextCell(std::string key);

// A column of a list that a table shows, searches and exports alike: a member of the record, or a dotted path into
// nested objects ("courier.name"), its header and its format (as it is unless the column holds codes).
struct DataColumn {
  std::string key;
  std::string title;
  CellFormat format = displayAsIs;

  // The column's cell text for a record (recordCellText).
  std::string text(const Record& record) const;
  // Narrowest width of the column in pixels, by the whole key (case-sensitive).
  int minimumWidth() const;
  // The width the column opens with.
  int idealWidth() const;
};

// How a table's columns share the width of its page, in pixels at the standard text size: each column opens at
// `ideal`, narrows to `min` when the page is narrower, and widens up to `max` when it is wider (`max` equal to
// `ideal`: it keeps its width; -1: without end). A fixed column has all three equal.
struct ColumnSpan {
  int min = 0;
  int ideal = 0;
  int max = 0;
};
// The widths of the columns over `available` pixels with text `scale` times the standard size. The columns that
// widen without end take what is left: on a narrower page they give up width first (down to their minimums, then
// the others give in proportion to what they can; below the sum of the minimums the table scrolls sideways); on a
// wider page the others widen first, in equal shares up to their maximums. The widths add up to `available`
// whenever the page is at least the minimums wide and some column widens without end.
std::vector<int> columnWidths(const std::vector<ColumnSpan>& columns, int available, double scale);

}  // namespace dorvik
