// The monitoring screens' decisions over server answers: filters, pins and metrics of the day, the route detail's
// sort and bodies, the transfer's requests, the add-point check and the id encoder.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/base/errors.h"
#include "monitoring/logic/monitoring_rules.h"

using namespace dorvik;
using namespace dorvik::monitoring;

namespace {

JSONValue stop(JSONValue lat, JSONValue lon, std::string pointId, int number) {
  return JSONValue::object({{"coordinates", JSONValue::object({{"lat", lat}, {"lon", lon}})},
                            {"pointId", pointId},
                            {"address", "Адрес " + pointId},
                            {"status", "delivered"},
                            {"stopNumber", number}});
}

JSONValue day() {
  JSONValue r7 =
      JSONValue::object({{"routeId", "R7"},
                         {"externalRouteId", "Юг-1"},
                         {"status", "in_progress"},
                         {"courier", JSONValue::object({{"name", "Пётр Иванов"}, {"login", "petr"}})},
                         {"points", 12},
                         {"closed", 5},
                         {"problem", 1},
                         {"location", JSONValue::object({{"lat", 55.7}, {"lon", 37.6}, {"at", "10:15"}})},
                         {"stops", JSONValue::array({stop("55,75", "37,61", "P3", 1), stop(91, 37.6, "P4", 2),
                                                     JSONValue::object({{"pointId", "P5"}})})}});
  JSONValue r = JSONValue::object({{"routeId", "R"},
                                   {"externalRouteId", "Север"},
                                   {"status", "en_route"},
                                   {"courier", JSONValue::object({{"name", "Анна"}, {"login", "anna b"}})},
                                   {"points", 3.9},
                                   {"location", JSONValue::object({{"at", "09:00"}})}});
  // A stop as another server version might send it: a numeric point id, a status without a Russian word, more
  // members than the page reads.
  JSONValue other = JSONValue::object({{"coordinates", JSONValue::object({{"lat", 55.8}, {"lon", 37.5}})},
                                       {"pointId", 12},
                                       {"address", "Склад"},
                                       {"status", "custom"},
                                       {"stopNumber", "2a"},
                                       {"arrivedAt", "11:00"},
                                       {"zone", JSONValue::object({{"lat", 1}, {"lon", 2}})}});
  JSONValue r77 = JSONValue::object(
      {{"id", "R77"}, {"routeId", "X"}, {"status", "finished"}, {"points", 1}, {"stops", JSONValue::array({other})}});
  return JSONValue::object({{"routes", JSONValue::array({r7, r, r77})}});
}

std::vector<std::string> ids(const std::vector<Record>& rows) {
  std::vector<std::string> out;
  for (const Record& r : rows) out.push_back(r.id());
  return out;
}

}  // namespace

TEST(MonitoringDay, FilterSearchSelectionPinsLinesAndMetrics) {
  const auto routes = routeRecords(day());
  using V = std::vector<std::string>;
  EXPECT_EQ(ids(filterRoutes(routes, "all", "")), (V{"R7", "R", "R77"}));
  EXPECT_EQ(ids(filterRoutes(routes, "in_progress", "")), (V{"R7"})) << "en_route reads the same but is not kept";
  EXPECT_EQ(ids(filterRoutes(routes, "all", "ПЁТР")), (V{"R7"})) << "Cyrillic folded";
  EXPECT_EQ(ids(filterRoutes(routes, "all", "юг")), (V{"R7"}));
  EXPECT_EQ(ids(filterRoutes(routes, "all", " ")), (V{"R7", "R"})) << "a space in a name or a login";
  EXPECT_TRUE(filterRoutes(routes, "pending", "").empty());

  EXPECT_EQ(ids(shownRoutes(routes, std::string("R"))), (V{"R"}));
  EXPECT_TRUE(shownRoutes(routes, std::string("gone")).empty());

  const RouteDrawing drawing = routeDrawing(routes);
  const auto& pins = drawing.pins;
  ASSERT_EQ(pins.size(), 3u) << "lat 91 and a stop without coordinates lose their pins; R has no usable GPS";
  EXPECT_EQ(pins[0].id, "R7:P3");
  EXPECT_EQ(pins[0].label, "Адрес P3 · Доставлен");
  EXPECT_EQ(pins[0].number, "1");
  EXPECT_DOUBLE_EQ(pins[0].point.lat, 55.75);
  EXPECT_EQ(pins[1].id, "R7:gps");
  EXPECT_EQ(pins[1].label, "Пётр Иванов · последний GPS");
  EXPECT_EQ(pins[1].number, "GPS");
  EXPECT_EQ(pins[2].id, "R77:12");
  EXPECT_EQ(pins[2].label, "Склад · custom");
  EXPECT_EQ(pins[2].number, "2a");
  EXPECT_EQ(pins[2].point, (MapPoint{55.8, 37.5}));
  const auto& lines = drawing.lines;
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 1u);
  EXPECT_TRUE(lines[1].empty()) << "an empty line keeps its place";
  EXPECT_EQ(lines[2].size(), 1u);

  const Metrics m = dayMetrics(routes);
  EXPECT_EQ(m.routes, 3);
  EXPECT_EQ(m.inProgress, 1);
  EXPECT_EQ(m.points, 16) << "3.9 counts 3";
  EXPECT_EQ(m.closed, 5);
  EXPECT_EQ(m.problems, 1);
  const Metrics none = dayMetrics(routeRecords(JSONValue::object({{"routes", "many"}})));
  EXPECT_EQ(none.routes + none.points, 0);

  EXPECT_EQ(routeOfPin(routes, "R7:P3"), std::optional<std::string>("R7"));
  EXPECT_EQ(routeOfPin(routes, "R77:P1"), std::optional<std::string>("R77"));
  EXPECT_EQ(routeOfPin(routes, "Q:P1"), std::nullopt);

  const RouteRowTexts row = routeRowTexts(routes[0]);
  EXPECT_EQ(row.counts, "Точки: 5 / 12 · проблемы: 1");
  EXPECT_EQ(row.status, "В пути");
  EXPECT_EQ(row.gps, std::optional<std::string>("GPS: 10:15"));
  EXPECT_EQ(routeRowTexts(routes[1]).gps, std::optional<std::string>("GPS: 09:00")) << "row without a pin";
  EXPECT_EQ(routeRowTexts(routes[2]).courier, "Курьер не назначен");
  EXPECT_EQ(routeRowTexts(routes[2]).gps, std::nullopt);
}

TEST(MonitoringDay, SumsSaturateAndDigitsGroup) {
  JSONArray many;
  for (int i = 0; i < 3; ++i)
    many.push_back(JSONValue::object({{"points", 9e18}, {"closed", -9e18}, {"problem", NAN}}));
  const Metrics m = dayMetrics(JSONValue::records(many));
  EXPECT_EQ(m.points, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(m.closed, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(m.problems, 0);
  EXPECT_EQ(groupedDigits(0), "0");
  EXPECT_EQ(groupedDigits(999), "999");
  EXPECT_EQ(groupedDigits(12345), "12\u202F345");
  EXPECT_EQ(groupedDigits(-1234567), "-1\u202F234\u202F567");
  EXPECT_EQ(groupedDigits(std::numeric_limits<std::int64_t>::min()).substr(0, 2), "-9");
}

TEST(MonitoringIDs, EncodedAsOneSegment) {
  const std::pair<std::string, std::string> cases[] = {
      {"R-1/2", "R%2D1%2F2"},
      {"Маршрут7", "Маршрут7"},
      {"и\u0306", "и\u0306"},  // a combining breve stays
      {"../../admin", "%2E%2E%2F%2E%2E%2Fadmin"},
      {"a?b#c", "a%3Fb%23c"},
      {"a b_c", "a%20b%5Fc"},
      {"\xff", ""},
      {"", ""},
  };
  for (const auto& [id, encoded] : cases) EXPECT_EQ(encodeID(id), encoded) << id;
  EXPECT_EQ(routeOperationPath("R-1/2", "finish"), "/monitoring/routes/R%2D1%2F2/finish");
  EXPECT_EQ(routeOperationPath("", "eta"), "/monitoring/routes//eta");
  EXPECT_EQ(photoPath("ф/1"), "/monitoring/photos/ф%2F1");
}

TEST(RouteDetail, SortRowsPinsAndBodies) {
  const JSONValue route = JSONValue::object(
      {{"points",
        JSONValue::array({
            JSONValue::object({{"pointId", "a"}, {"courierOrder", 2}}),
            JSONValue::object({{"pointId", "b"}, {"stopNumber", "1,5"}}),
            JSONValue::object({{"pointId", "c"}}),
            JSONValue::object({{"pointId", "d"}, {"courierOrder", -1}}),
            JSONValue::object({{"pointId", "e"}, {"courierOrder", "nan"}, {"stopNumber", 2}}),
            JSONValue::object(
                {{"pointId", 7}, {"courierOrder", 0}, {"coordinates", JSONValue::object({{"lat", 55}, {"lon", 37}})}}),
        })}});
  const auto points = sortedPoints(route);
  std::vector<std::string> order;
  for (const auto& p : points) order.push_back(p["pointId"].string());
  EXPECT_EQ(order, (std::vector<std::string>{"d", "c", "7", "b", "a", "e"})) << "ties keep the server's order";

  EXPECT_EQ(reorderBody(points).data(), R"({"order":["d","c",7,"b","a","e"]})");
  const auto moved = movePoints(points, {4, 5}, 0);
  EXPECT_EQ(moved[0]["pointId"].string(), "a");
  EXPECT_EQ(moved[1]["pointId"].string(), "e");
  EXPECT_EQ(movePoints(points, {0}, 6).back()["pointId"].string(), "d");
  EXPECT_EQ(movePoints(points, {0}, 2)[1]["pointId"].string(), "d") << "before position 2, counted before the move";

  // Only the list's own rows move it: a drag starts past the threshold in one motion as well as in many, a press
  // that never left the threshold or began on no row (or on a row gone since) moves nothing.
  struct Drag {
    std::optional<std::size_t> pressed;
    std::vector<std::pair<double, double>> motions;
    std::set<std::string> selected;
    int starts;  // motions that start the drag
    std::set<std::size_t> moved;
  };
  for (const Drag& d : std::vector<Drag>{
           {1, {{0, 240}}, {}, 1, {1}},                          // one quick motion
           {1, {{1, 2}, {3, 6}, {4, 9}, {5, 120}}, {}, 1, {1}},  // a slow one
           {4, {{0, -300}}, {"7", "a"}, 1, {2, 4}},              // a selected row takes the selection along
           {1, {{0, 300}}, {"7", "a"}, 1, {1}},                  // an unselected one goes alone
           {1, {{3, -8}}, {}, 0, {}},                            // never past the threshold: a click
           {std::nullopt, {{0, 300}}, {}, 0, {}},                // pressed on no row: text dropped in, a scrollbar
           {6, {{0, 300}}, {}, 1, {}},                           // a row no longer in the list
       }) {
    PointDragging dragging;
    dragging.press(d.pressed);
    int started = 0;
    for (const auto& [dx, dy] : d.motions) started += dragging.move(dx, dy, 8);
    EXPECT_EQ(started, d.starts);
    EXPECT_EQ(dragging.release(points, d.selected), d.moved);
    EXPECT_FALSE(dragging.dragging());
    EXPECT_EQ(dragging.release(points, d.selected), std::set<std::size_t>{}) << "a release ends the drag";
  }

  const auto pins = pointPins(points, {"7"});
  ASSERT_EQ(pins.size(), 1u);
  EXPECT_EQ(pins[0].number, "3") << "numbers keep list positions";
  EXPECT_TRUE(pins[0].selected);

  const JSONValue point = JSONValue::object(
      {{"address", "Учебная, 1"},
       {"status", "arrived"},
       {"orders",
        JSONValue::array({JSONValue::object({{"orderId", "Z1"},
                                             {"client", "Иван"},
                                             {"status", "failed"},
                                             {"reason", ""},
                                             {"comment", "Позвонить"},
                                             {"window", JSONValue::object({{"from", "09:00"}, {"to", "12:00"}})},
                                             {"phones", JSONValue::array({"+7 1", "+7 2"})}}),
                          JSONValue::object({{"client", "Олег"}, {"reason", nullptr}, {"places", 2}})})}});
  const PointTexts t = pointTexts(point);
  EXPECT_EQ(t.clients, "Иван, Олег");
  EXPECT_EQ(t.caption, "На адресе · план  · факт —");
  ASSERT_EQ(t.orders.size(), 2u);
  EXPECT_EQ(t.orders[0].heading, "№ Z1 · Иван · Не доставлен");
  EXPECT_EQ(t.orders[0].reason, std::optional<std::string>("—"));
  EXPECT_EQ(t.orders[0].window, "Окно: 09:00–12:00 · Мест: —");
  EXPECT_EQ(t.orders[0].phones, std::optional<std::string>("+7 1, +7 2"));
  EXPECT_EQ(t.orders[1].reason, std::nullopt);
  EXPECT_EQ(t.orders[1].window, "Окно: – · Мест: 2");

  const auto couriers =
      JSONValue::records(JSONValue::array({JSONValue::object({{"id", "c1"}, {"role", "courier"}}),
                                           JSONValue::object({{"id", "c2"}, {"role", "courier"}, {"isBlocked", true}}),
                                           JSONValue::object({{"id", "c3"}, {"role", "logist"}})})
                             .array());
  EXPECT_EQ(ids(offeredCouriers(couriers)), (std::vector<std::string>{"c1"}));
  EXPECT_EQ(routeTitle(JSONValue::object({{"externalRouteId", ""}})), "Маршрут");
  EXPECT_EQ(photoLabel(Record(JSONValue::object({{"id", "абвгдеёжзи"}}), "0")), "Фото абвгдеёж");
  EXPECT_EQ(photoLabel(Record(JSONValue::object({{"id", "abcde"}}), "0")), "Фото abcde");
  EXPECT_EQ(photoLabel(Record(JSONValue::object({{"id", "x"}, {"fileName", "1.jpg"}}), "0")), "1.jpg");
}

TEST(Transfer, CandidatesSuggestionsAndRequests) {
  const JSONValue routes = JSONValue::object(
      {{"routes", JSONValue::array({JSONValue::object({{"routeId", "R-1/2"}, {"status", "in_progress"}}),
                                    JSONValue::object({{"routeId", "A"}, {"status", "finished"}}),
                                    JSONValue::object({{"routeId", "B"}, {"status", "Finished"}}),
                                    JSONValue::object({{"routeId", "C"},
                                                       {"status", "finished "},
                                                       {"externalRouteId", "Юг"},
                                                       {"courier", JSONValue::object({{"name", "Олег"}})}})})}});
  const auto candidates = transferCandidates(routes, "R-1/2");
  EXPECT_EQ(ids(candidates), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(candidateTitle(candidates[1]), "Олег · Юг");

  JSONArray near;
  for (int i = 0; i < 7; ++i) near.push_back(JSONValue::object({{"routeId", std::to_string(i)}, {"gpsKm", 1.5}}));
  const auto suggestions = nearestSuggestions(JSONValue::object({{"candidates", JSONValue(near)}}));
  EXPECT_EQ(suggestions.size(), 5u);
  EXPECT_EQ(suggestionDistances(suggestions[0]), "До точки: — км · GPS: 1.5 км");

  auto at = [](JSONValue lat, JSONValue lon) {
    return JSONValue::object({{"coordinates", JSONValue::object({{"lat", lat}, {"lon", lon}})}});
  };
  EXPECT_EQ(nearestPath("2026-10-06", {at(55, 37.6173)}, "R-1/2"),
            std::optional<std::string>("/monitoring/nearest?date=2026-10-06&lat=55.0&lon=37.6173&exclude=R%2D1%2F2"));
  EXPECT_EQ(nearestPath("d", {at(5e-05, -0.0)}, "R"),
            std::optional<std::string>("/monitoring/nearest?date=d&lat=5e-05&lon=-0.0&exclude=R"));
  EXPECT_EQ(nearestPath("d", {}, "R"), std::nullopt);
  EXPECT_EQ(nearestPath("d", {at(91, 0), at(1, 1)}, "R"), std::nullopt) << "only the first point counts";

  const JSONValue body = moveBody({JSONValue::object({{"pointId", "p1"}}), JSONValue::object({})}, "B");
  EXPECT_EQ(body.data(), R"({"pointIds":["p1",null],"toRouteId":"B"})");
  EXPECT_TRUE(transferAllowed("B", false, true, 1));
  EXPECT_FALSE(transferAllowed("", false, true, 1));
  EXPECT_FALSE(transferAllowed("B", true, true, 1));
  EXPECT_FALSE(transferAllowed("B", false, false, 1));
  EXPECT_FALSE(transferAllowed("B", false, true, 0)) << "no selected point";
}

TEST(AddPoint, ChecksInTheirOrder) {
  using Members = std::vector<std::pair<std::string, JSONValue>>;
  auto with = [](const Members& members) {
    JSONValue v = newPointValue();
    v.set("client", "Иван");
    v.set("address", "Учебная, 1");
    for (const auto& [k, val] : members) v.set(k, val);
    return v;
  };
  auto message = [](const JSONValue& v) -> std::string {
    try {
      checkedPoint(v);
      return "";
    } catch (const DorvikError& e) {
      return e.message();
    }
  };
  const std::string time = "Время должно быть в формате ЧЧ:ММ.";
  const std::string place = "Проверьте координаты и количество мест.";
  EXPECT_EQ(message(newPointValue()), "Заполните поле «Клиент».");
  EXPECT_EQ(message(with(Members{{"address", "  "}})), "Заполните поле «Адрес».");
  const std::pair<Members, std::string> cases[] = {
      {{{"windowFrom", "9:00"}}, time},
      {{{"windowTo", "24:00"}}, time},
      {{{"windowFrom", " 09:00"}}, time},
      {{{"windowFrom", "09:00\n"}}, time},
      {{{"windowFrom", "\u0661\u0662:00"}}, time},  // Arabic-Indic digits
      {{{"windowFrom", "00:00"}, {"windowTo", "23:59"}}, ""},
      {{{"windowFrom", "18:00"}, {"windowTo", "09:00"}}, ""},
      {{{"lat", "55"}}, place},
      {{{"lat", "91"}, {"lon", "37"}}, place},
      {{{"lat", "55"}, {"lon", "-180.5"}}, place},
      {{{"lat", "55,75"}, {"lon", "37.6"}}, ""},
      {{{"lat", "abc"}, {"lon", "37.6"}}, "«Широта» должно быть числом."},
      {{{"places", "0"}}, place},
      {{{"places", "-1"}}, place},
      {{{"places", "1,5"}}, ""},
      {{{"position", "middle"}}, "Выберите место новой точки в маршруте."},
  };
  for (const auto& [members, expected] : cases) EXPECT_EQ(message(with(members)), expected) << with(members).data();

  const JSONValue body =
      checkedPoint(with(Members{{"lat", "55,75"}, {"lon", "37.6"}, {"places", "1,5"}, {"extra", 1}}));
  EXPECT_EQ(body.data(),
            R"({"address":"Учебная, 1","client":"Иван","comment":"","lat":55.75,"lon":37.6,"phone":"","places":1.5,)"
            R"("position":"best","windowFrom":"09:00","windowTo":"18:00"})");
  EXPECT_TRUE(checkedPoint(with(Members{}))["places"].isNull());
}

TEST(AddPoint, AddressEditsAndLookupAnswers) {
  JSONValue v = newPointValue();
  setPointAddress(v, "Учебная, 1");
  v.set("lat", 55.7);
  v.set("lon", 37.6);
  setPointAddress(v, "Учебная, 1");
  EXPECT_EQ(v["lat"].doubleValue(), 55.7) << "the same address keeps its coordinates";
  setPointAddress(v, "Учебная, 2");
  EXPECT_TRUE(v["lat"].isNull());
  EXPECT_TRUE(v["lon"].isNull());

  const JSONValue snapshot = v;
  EXPECT_TRUE(lookupStillCurrent(snapshot, v));
  JSONValue edited = v;
  edited.set("lon", "37");
  EXPECT_FALSE(lookupStillCurrent(snapshot, edited));

  const JSONValue found =
      JSONValue::object({{"found", JSONValue::object({{"lat", "55.8"}, {"lon", 37.7}, {"qc", 0}})}});
  EXPECT_EQ(applyLookup(v, found), std::nullopt);
  EXPECT_EQ(v["lat"], JSONValue("55.8")) << "copied unchanged in type";
  JSONValue other = newPointValue();
  EXPECT_EQ(applyLookup(other, JSONValue::object({{"found", nullptr}})),
            std::optional<std::string>("Адрес неоднозначен. Уточните город, улицу, дом и корпус."));
  EXPECT_FALSE(other.contains("lat"));
}

TEST(Track, FixesCaptionPinAndLine) {
  const JSONValue answer = JSONValue::object(
      {{"pings", JSONValue::array({JSONValue::object({{"lat", "55,75"}, {"lon", 37.6}, {"at", "10:00"}}),
                                   JSONValue::object({{"lat", 55.7}, {"lon", 181}, {"at", "bad"}}),
                                   JSONValue::object({{"lat", 55.8}, {"lon", 37.7}, {"at", "10:05"}})})},
       {"marks", JSONValue::array({1, 2})}});
  const auto pings = trackPings(answer);
  ASSERT_EQ(pings.size(), 2u);
  EXPECT_EQ(trackCaption(pings.size(), answer),
            "2 GPS-сигналов · 2 отметок курьера. Это записанный путь, а не текущее положение.");
  const auto pins = trackPins(pings, 0);
  ASSERT_EQ(pins.size(), 1u);
  EXPECT_EQ(pins[0].id, "courier");
  EXPECT_EQ(pins[0].label, "10:00");
  EXPECT_EQ(trackLine(pings, 0).size(), 1u);
  EXPECT_EQ(trackLine(pings, 1).size(), 2u);
  EXPECT_TRUE(trackPins({}, 0).empty());
  EXPECT_TRUE(trackLine({}, 0).empty());
}
