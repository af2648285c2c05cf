#include "planning/logic/order_rows.h"

#include <glib.h>

#include <unordered_map>
#include <utility>

#include "core/base/dorvik_date.h"

namespace dorvik::planning {

std::string orderID(const JSONValue& order) { return order["_nativeID"].string(); }

Record orderRecord(const JSONValue& order) { return Record(order, orderID(order)); }

namespace {

// Letters whose folded form is their lower case and which need no composition: ASCII, Latin-1 (but for "ß" and
// "µ", which fold to other letters), Cyrillic, and the punctuation of addresses. Nearly every address and client
// name is written in them alone.
bool foldsAlone(gunichar c) {
  return (c >= 0xA0 && c <= 0xFF && c != 0xB5 && c != 0xDF) || (c >= 0x400 && c <= 0x4FF) ||
         (c >= 0x2000 && c <= 0x206F) || c == 0x2116;
}

std::string fullFold(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::string(text);
  char* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
  char* composed = g_utf8_normalize(folded, -1, G_NORMALIZE_NFC);
  std::string out(composed ? composed : folded);
  g_free(composed);
  g_free(folded);
  return out;
}

}  // namespace

std::string foldedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      out.push_back(g_ascii_tolower(static_cast<char>(byte)));
      ++at;
      continue;
    }
    const gunichar c = g_utf8_get_char_validated(at, end - at);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2) || !foldsAlone(c)) return fullFold(text);
    char bytes[6];
    out.append(bytes, static_cast<std::size_t>(g_unichar_to_utf8(g_unichar_tolower(c), bytes)));
    at = g_utf8_next_char(at);
  }
  return out;
}

OrderSearch::OrderSearch(JSONValue orders) : orders_(std::move(orders)) {}

void OrderSearch::index() const {
  if (indexed_) return;
  const JSONArray& list = orders_.array();
  keys_.clear();
  keys_.reserve(list.size());
  // Texts are read in place; other values (a number as the order number) through their text.
  auto text = [](const JSONValue& value, const auto& use) {
    return value.isString() ? use(value.stringView()) : use(value.string());
  };
  const auto fold = [](std::string_view t) { return foldedText(t); };
  const auto exact = [](std::string_view t) { return canonicalText(t); };
  for (const JSONValue& order : list)
    keys_.push_back(Keys{text(order["address"], fold), text(order["title"], fold), text(order["id"], exact)});
  indexed_ = true;
}

std::vector<std::size_t> OrderSearch::matches(std::string_view query) const {
  const std::size_t count = orders_.array().size();
  std::vector<std::size_t> shown;
  if (query.empty()) {
    shown.reserve(count);
    for (std::size_t i = 0; i < count; ++i) shown.push_back(i);
    return shown;
  }
  index();
  const std::string folded = foldedText(query);
  const std::string exact = canonicalText(query);
  for (std::size_t i = 0; i < count; ++i) {
    const Keys& k = keys_[i];
    if (k.address.find(folded) != std::string::npos || k.title.find(folded) != std::string::npos ||
        k.number.find(exact) != std::string::npos)
      shown.push_back(i);
  }
  return shown;
}

std::vector<Record> OrderSearch::rows(std::string_view query) const {
  const JSONArray& list = orders_.array();
  std::vector<Record> rows;
  const std::vector<std::size_t> shown = matches(query);
  rows.reserve(shown.size());
  for (std::size_t i : shown) rows.push_back(orderRecord(list[i]));
  return rows;
}

std::string arrivalText(const JSONValue& order) { return DorvikDate::time(order["_arr"].doubleValue()); }

FoundCell foundCell(const JSONValue& order) {
  if (!order["lat"].doubleValue()) return {"Уточнить", "exclamationmark.circle", true};
  if (order["source"].isString() && order["source"].stringView() == "manual")
    return {"Вручную", "checkmark.circle", false};
  return {"Да", "checkmark.circle", false};
}

std::set<std::string> menuTargets(const std::set<std::string>& selection, const std::optional<std::string>& clicked) {
  if (!clicked) return {};
  if (selection.count(*clicked)) return selection;
  return {*clicked};
}

std::optional<Record> firstShownRow(const std::set<std::string>& ids, const std::vector<Record>& rows) {
  if (ids.empty()) return std::nullopt;
  const std::string& first = *ids.begin();
  for (const Record& row : rows)
    if (orderID(row.value) == first) return row;
  return std::nullopt;
}

OrderMenu orderMenu(const std::set<std::string>& ids, const std::vector<Record>& rows, const JSONValue& planner,
                    bool busy, bool geocoding) {
  OrderMenu menu;
  menu.target = firstShownRow(ids, rows);
  menu.canDelete = !ids.empty() && !busy && !geocoding;
  menu.canAssign = planner["planned"].boolValue();
  for (const JSONValue& vehicle : planner["vehicles"].array()) menu.couriers.push_back(vehicle["ref"].string());
  return menu;
}

JSONArray orderPositions(const std::set<std::string>& ids, const std::vector<std::string>& orderIDs) {
  std::unordered_map<std::string_view, std::size_t> first;
  first.reserve(orderIDs.size());
  for (std::size_t i = 0; i < orderIDs.size(); ++i) first.emplace(orderIDs[i], i);
  JSONArray positions;
  for (const std::string& id : ids) {
    auto found = first.find(id);
    if (found != first.end()) positions.emplace_back(static_cast<double>(found->second));
  }
  return positions;
}

}  // namespace dorvik::planning
