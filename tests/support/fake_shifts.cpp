#include "support/fake_shifts.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace dorvik::testing {

namespace {

constexpr const char* kMonthPath = "/panel/shifts";

bool digitsAt(const std::string& text, std::initializer_list<std::size_t> positions) {
  for (std::size_t i : positions)
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  return true;
}

bool isMonth(const std::string& text) {
  return text.size() == 7 && text[4] == '-' && digitsAt(text, {0, 1, 2, 3, 5, 6});
}

// The day of the month of a valid "yyyy-MM-dd", or none.
std::optional<int> dayOfDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digitsAt(text, {0, 1, 2, 3, 5, 6, 8, 9}))
    return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{std::stoi(text.substr(0, 4))},
                                         std::chrono::month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
                                         std::chrono::day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}};
  if (!date.ok()) return std::nullopt;
  return static_cast<int>(static_cast<unsigned>(date.day()));
}

bool wholeAmount(const JSONValue& value, double lowest) {
  if (!value.isNumber()) return false;
  const double v = *value.doubleValue();
  return std::isfinite(v) && v == std::round(v) && v >= lowest && v <= 10'000'000;
}

bool knownPayMode(const std::string& mode) { return mode == "shift" || mode == "monthly" || mode == "official"; }

}  // namespace

ShiftsDesk::ShiftsDesk(StandInServer& server) : server_(server) {
  server_.on("GET", kMonthPath, [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    const std::string key = hit.queryValue("month");
    if (!isMonth(key)) return Answer::error(400, "Неверный месяц.");
    return Answer::json(month(key));
  });

  server_.on("POST", "/panel/shifts/mark", [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    const JSONValue body = hit.json();
    Courier* c = courier(body["courierId"].string());
    if (!c) return Answer::error(404, "Курьер не найден.");
    const std::string date = body["date"].string();
    const std::optional<int> day = dayOfDate(date);
    const JSONValue& worked = body["worked"];
    if (!day || !body.contains("worked") || !(worked.isBool() || worked.isNull()))
      return Answer::error(400, "Неверная отметка смены.");
    auto& marks = c->marks[date.substr(0, 7)];
    if (worked.isNull())
      marks.erase(*day);
    else
      marks[*day] = worked.boolValue();
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  server_.on("PATCH", "/panel/shifts/rate", [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    const JSONValue body = hit.json();
    if (!wholeAmount(body["shiftRate"], 0)) return Answer::error(400, "Неверная ставка склада.");
    depotRate_ = *body["shiftRate"].doubleValue();
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  server_.onPrefix("PATCH", "/panel/shifts/courier/", [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    Courier* c = courier(hit.path.substr(std::string("/panel/shifts/courier/").size()));
    if (!c) return Answer::error(404, "Курьер не найден.");
    const JSONValue body = hit.json();
    const JSONValue& rate = body["shiftRate"];
    if (!body.contains("shiftRate") || !(rate.isNull() || wholeAmount(rate, 0)))
      return Answer::error(400, "Неверная ставка курьера.");
    if (!knownPayMode(body["payMode"].string())) return Answer::error(400, "Неизвестный режим оплаты.");
    c->ownRate = rate.isNull() ? std::nullopt : rate.doubleValue();
    c->payMode = body["payMode"].string();
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  server_.on("POST", "/panel/shifts/adjust", [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    const JSONValue body = hit.json();
    if (!courier(body["courierId"].string())) return Answer::error(404, "Курьер не найден.");
    const std::string kind = body["kind"].string();
    if (!dayOfDate(body["date"].string()) || (kind != "extra" && kind != "fine") || !wholeAmount(body["amount"], 1) ||
        !body["note"].isString())
      return Answer::error(400, "Неверная корректировка.");
    const std::string id = addAdjustment(body["courierId"].string(), body["date"].string(), kind,
                                         *body["amount"].doubleValue(), body["note"].string());
    return Answer::json(JSONValue::object({{"id", id}}));
  });

  server_.onPrefix("DELETE", "/panel/shifts/adjust/", [this](const Hit& hit) {
    if (auto answer = scripted(hit)) return *answer;
    const std::string id = hit.path.substr(std::string("/panel/shifts/adjust/").size());
    auto found =
        std::find_if(adjustments_.begin(), adjustments_.end(), [&](const Adjustment& a) { return a.id == id; });
    if (found == adjustments_.end()) return Answer::error(404, "Корректировка не найдена.");
    adjustments_.erase(found);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
}

std::optional<Answer> ShiftsDesk::scripted(const Hit& hit) {
  auto found = scripted_.find(hit.method + " " + hit.path);
  if (found == scripted_.end() || found->second.empty()) return std::nullopt;
  Answer answer = std::move(found->second.front());
  found->second.pop_front();
  return answer;
}

void ShiftsDesk::answerNext(const std::string& method, const std::string& path, Answer answer) {
  scripted_[method + " " + path].push_back(std::move(answer));
}

void ShiftsDesk::setDepot(std::string name, double shiftRate) {
  depotName_ = std::move(name);
  depotRate_ = shiftRate;
}

void ShiftsDesk::addCourier(std::string id, std::string fullName, std::optional<double> ownRate, std::string payMode) {
  couriers_.push_back(Courier{std::move(id), std::move(fullName), ownRate, std::move(payMode), {}, {}});
}

void ShiftsDesk::setRouteDays(const std::string& courierID, const std::string& month, std::vector<int> days) {
  if (Courier* c = courier(courierID)) c->routeDays[month] = std::move(days);
}

std::string ShiftsDesk::addAdjustment(const std::string& courierID, const std::string& date, const std::string& kind,
                                      double amount, const std::string& note) {
  std::string id = "adj-" + std::to_string(next_++);
  adjustments_.push_back(Adjustment{id, courierID, date, kind, amount, note});
  return id;
}

ShiftsDesk::Courier* ShiftsDesk::courier(const std::string& id) {
  for (Courier& c : couriers_)
    if (c.id == id) return &c;
  return nullptr;
}

const ShiftsDesk::Courier* ShiftsDesk::courier(const std::string& id) const {
  return const_cast<ShiftsDesk*>(this)->courier(id);
}

JSONValue ShiftsDesk::month(const std::string& key) const {
  JSONArray rows;
  for (const Courier& c : couriers_) {
    JSONObject marks;
    if (auto found = c.marks.find(key); found != c.marks.end())
      for (const auto& [day, worked] : found->second) marks[std::to_string(day)] = worked;
    JSONArray days;
    if (auto found = c.routeDays.find(key); found != c.routeDays.end())
      for (int day : found->second) days.push_back(day);
    JSONArray adjust;
    for (const Adjustment& a : adjustments_)
      if (a.courierID == c.id && a.date.starts_with(key + "-"))
        adjust.push_back(JSONValue::object({{"id", a.id},
                                            {"day", dayOfDate(a.date).value_or(0)},
                                            {"kind", a.kind},
                                            {"amount", a.amount},
                                            {"note", a.note}}));
    rows.push_back(JSONValue::object({{"id", c.id},
                                      {"fullName", c.fullName},
                                      {"rate", c.ownRate.value_or(depotRate_)},
                                      {"ownRate", c.ownRate.has_value()},
                                      {"payMode", c.payMode},
                                      {"marks", JSONValue(std::move(marks))},
                                      {"auto", JSONValue(std::move(days))},
                                      {"adjust", JSONValue(std::move(adjust))}}));
  }
  return JSONValue::object({{"month", key},
                            {"depot", JSONValue::object({{"name", depotName_}, {"shiftRate", depotRate_}})},
                            {"rows", JSONValue(std::move(rows))}});
}

JSONValue ShiftsDesk::mark(const std::string& courierID, const std::string& date) const {
  const Courier* c = courier(courierID);
  const std::optional<int> day = dayOfDate(date);
  if (!c || !day) return JSONValue();
  auto found = c->marks.find(date.substr(0, 7));
  if (found == c->marks.end()) return JSONValue();
  auto mark = found->second.find(*day);
  return mark == found->second.end() ? JSONValue() : JSONValue(mark->second);
}

JSONValue ShiftsDesk::ownRate(const std::string& courierID) const {
  const Courier* c = courier(courierID);
  return c && c->ownRate ? JSONValue(*c->ownRate) : JSONValue();
}

std::string ShiftsDesk::payMode(const std::string& courierID) const {
  const Courier* c = courier(courierID);
  return c ? c->payMode : std::string();
}

}  // namespace dorvik::testing
