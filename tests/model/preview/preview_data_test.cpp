// The demo data source: path matching, query parameters, and the answers that follow the plan.
#include <gtest/gtest.h>

#include <string>

#include "core/base/errors.h"
#include "model/preview_data.h"

using namespace dorvik;

namespace {

JSONValue planWith(int count) {
  JSONValue orders = JSONValue(JSONArray{});
  for (int i = 0; i < count; ++i) {
    orders.push(JSONValue::object({{"id", "Z-" + std::to_string(i)},
                                   {"title", "Клиент " + std::to_string(i)},
                                   {"address", "Москва, дом " + std::to_string(i)},
                                   {"lat", 55.7 + i * 0.001},
                                   {"lon", 37.6}}));
  }
  return JSONValue::object({{"orders", orders}});
}

std::string failureOf(const std::string& path) {
  try {
    PreviewData::response(path, planWith(1));
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.status(), 0);
    return e.message();
  }
  return "<answered>";
}

}  // namespace

TEST(PreviewPaths, BasePathAndPhotosAndUnknownPaths) {
  const JSONValue depots = PreviewData::response("/depots", JSONValue());
  EXPECT_EQ(depots["depots"].at(0)["id"].string(), "preview-depot");
  EXPECT_EQ(depots["depots"].at(0)["lat"].doubleValue(), 55.7558);
  EXPECT_EQ(PreviewData::response("/depots?limit=5&x", JSONValue()), depots);
  EXPECT_EQ(PreviewData::response("/staff/depots", JSONValue()), depots);

  EXPECT_EQ(PreviewData::response("/monitoring/routes/preview-route/photos", JSONValue()), JSONValue(JSONArray{}));
  EXPECT_EQ(failureOf("/monitoring/routes/preview-route/photos/1"), "Для этого раздела в примере нет данных.");
  // The empty text before a leading mark is dropped: what follows becomes the base, which matches nothing.
  EXPECT_EQ(failureOf("?month=2026-03"), "Для этого раздела в примере нет данных.");
  EXPECT_EQ(failureOf("?"), "Для этого раздела в примере нет данных.");
  EXPECT_EQ(failureOf("/depots/"), "Для этого раздела в примере нет данных.");
}

TEST(PreviewPaths, PercentEncodedSegmentsAreDecodedBeforeMatching) {
  const JSONValue plain = PreviewData::response("/monitoring/routes/preview-route", planWith(2));
  EXPECT_EQ(PreviewData::response("/monitoring/routes/preview%2Droute", planWith(2)), plain);
  EXPECT_EQ(PreviewData::response("/admin/documents/preview%2ddocument", JSONValue())["id"].string(),
            "preview-document");
  // A broken escape is matched as written.
  EXPECT_EQ(failureOf("/depots%zz"), "Для этого раздела в примере нет данных.");
}

TEST(PreviewPaths, QueryParametersFirstOccurrenceAndDefaults) {
  const JSONValue range = PreviewData::response("/reports/summary?from=2026-01-01&to=2026-01-31", JSONValue());
  EXPECT_EQ(range["range"]["from"].string(), "2026-01-01");
  EXPECT_EQ(range["range"]["to"].string(), "2026-01-31");
  EXPECT_EQ(range["totals"]["orders"].intValue(), 5);

  const JSONValue noValue = PreviewData::response("/reports/summary?from&to=2026-02-01", JSONValue());
  EXPECT_EQ(noValue["range"]["from"].string(), "2026-09-22");
  EXPECT_EQ(noValue["range"]["to"].string(), "2026-02-01");

  const JSONValue repeated = PreviewData::response("/panel/shifts?month=2026-03&month=2026-04", JSONValue());
  EXPECT_EQ(repeated["month"].string(), "2026-03");
  const JSONValue firstEmpty = PreviewData::response("/panel/shifts?month&month=2026-04", JSONValue());
  EXPECT_EQ(firstEmpty["month"].string(), "2026-09");
  EXPECT_EQ(PreviewData::response("/panel/shifts?month=2026%2D05", JSONValue())["month"].string(), "2026-05");
  EXPECT_EQ(PreviewData::response("/panel/shifts", JSONValue())["rows"].at(0)["courierId"].string(), "preview-courier");
}

TEST(PreviewAnswers, PlanDependentAnswersFollowTheOrders) {
  const JSONValue plan = planWith(5);
  const JSONValue detail = PreviewData::response("/monitoring/routes/preview-route", plan);
  ASSERT_EQ(detail["points"].size(), 5u);
  EXPECT_EQ(detail["points"].at(0)["pointId"].string(), "point-0");
  EXPECT_EQ(detail["points"].at(4)["stopNumber"].intValue(), 5);
  EXPECT_EQ(detail["points"].at(2)["orders"].at(0)["orderId"].string(), "Z-2");
  EXPECT_EQ(detail["points"].at(2)["coordinates"]["lat"], plan["orders"].at(2)["lat"]);
  EXPECT_EQ(detail["routeId"].string(), "preview-route");

  const JSONValue routes = PreviewData::response("/monitoring/routes", plan);
  EXPECT_EQ(routes["routes"].at(0)["stops"], detail["points"]);
  EXPECT_EQ(routes["routes"].at(0)["points"].intValue(), 5);

  const JSONValue clients = PreviewData::response("/panel/clients", plan);
  EXPECT_EQ(clients["clients"].at(3)["id"].string(), "client-3");
  EXPECT_EQ(clients["clients"].at(3)["addresses"].at(0)["id"].string(), "address-3");
  EXPECT_EQ(clients["clients"].at(3)["name"].string(), "Клиент 3");

  const JSONValue addresses = PreviewData::response("/panel/addresses?limit=20000", plan);
  EXPECT_EQ(addresses["addresses"].at(1)["key"].string(), "Z-1");
  EXPECT_EQ(addresses["addresses"].at(1)["source"].string(), "file");

  const JSONValue orders = PreviewData::response("/monitoring/orders", plan);
  EXPECT_EQ(orders["orders"].size(), 5u);
  EXPECT_EQ(orders["orders"].at(0)["client"].string(), "Клиент 0");

  // Without orders every plan-dependent list is empty.
  const JSONValue empty = JSONValue::object({});
  EXPECT_EQ(PreviewData::response("/monitoring/routes", empty)["routes"].at(0)["stops"], JSONValue(JSONArray{}));
  EXPECT_EQ(PreviewData::response("/panel/clients", empty)["clients"], JSONValue(JSONArray{}));
  EXPECT_EQ(PreviewData::response("/monitoring/routes/preview-route/track", empty)["pings"], JSONValue(JSONArray{}));
}

TEST(PreviewAnswers, TrackTimesAreValidForEveryOrder) {
  const JSONValue track = PreviewData::response("/monitoring/routes/preview-route/track", planWith(75));
  const JSONValue& pings = track["pings"];
  ASSERT_EQ(pings.size(), 75u);
  EXPECT_EQ(pings.at(0)["at"].string(), "2026-09-22T08:00:00Z");
  EXPECT_EQ(pings.at(4)["at"].string(), "2026-09-22T08:04:00Z");
  EXPECT_EQ(pings.at(9)["at"].string(), "2026-09-22T08:09:00Z");
  EXPECT_EQ(pings.at(10)["at"].string(), "2026-09-22T08:10:00Z");
  EXPECT_EQ(pings.at(59)["at"].string(), "2026-09-22T08:59:00Z");
  EXPECT_EQ(pings.at(74)["at"].string(), "2026-09-22T09:14:00Z");
  EXPECT_EQ(pings.at(0)["accuracy"].intValue(), 10);
}

TEST(PreviewAnswers, AnswersAreFreshValues) {
  JSONValue people = PreviewData::response("/staff/people", JSONValue());
  people.member("people").mutableArray().at(0).set("fullName", "Другой");
  EXPECT_EQ(PreviewData::courier()["fullName"].string(), "Тарен Примеров");
  const JSONValue acks = PreviewData::response("/admin/documents/preview-document/acks", JSONValue());
  EXPECT_TRUE(acks["couriers"].at(0).contains("ackedAt"));
  EXPECT_FALSE(PreviewData::courier().contains("ackedAt"));
}
