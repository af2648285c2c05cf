// A workspace with the real planner engine and, unless asked otherwise, a real encrypted cache.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/workspace_helpers.h"

namespace dorvik::testing {

// A day of five orders, two vehicles and a depot, with the source workbook as text.
inline JSONValue sampleDay(const std::string& workbook = "") {
  auto order = [](const char* id, const char* title, const char* address, double lat, double lon, const char* window) {
    return JSONValue::object({{"id", id},
                              {"title", title},
                              {"address", address},
                              {"lat", lat},
                              {"lon", lon},
                              {"window", window},
                              {"units", 2}});
  };
  auto vehicle = [](const char* id, const char* ref) {
    return JSONValue::object(
        {{"id", id}, {"ref", ref}, {"shift", "09:00-18:00"}, {"use", true}, {"back", true}, {"capacity", 50}});
  };
  return JSONValue::object({
      {"routeDate", "2026-09-22"},
      {"fileName", "Заказы.xlsx"},
      {"workbook", workbook},
      {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55.7558}, {"lon", 37.6176}, {"window", "08:00-20:00"}})},
      {"vehicles", JSONValue::array({vehicle("V1", "Тарен"), vehicle("V2", "Ведил")})},
      {"orders", JSONValue::array({
                     order("1001", "Кофейня", "Москва, Тверская улица, 6", 55.7606, 37.6095, "09:00-12:00"),
                     order("1002", "Магазин", "Москва, улица Петровка, 12", 55.7635, 37.6185, "09:00-13:00"),
                     order("1003", "Ресторан", "Москва, Мясницкая улица, 20", 55.7632, 37.6363, "10:00-14:00"),
                     order("1004", "Пекарня", "Москва, Покровка, 12", 55.7596, 37.6464, "09:00-16:00"),
                     order("1005", "Офис", "Москва, улица Арбат, 10", 55.7502, 37.5932, "11:00-17:00"),
                 })},
  });
}

class PlanningWorkspace : public ::testing::Test {
 protected:
  void SetUp() override {
    model = AppModel::create();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    cache = freshCache();
    model->setCache(cache);
  }

  bool change(const std::string& action, JSONValue payload) {
    return async::runBlocking(model->mutate(action, std::move(payload)));
  }
  void loadSample(const std::string& workbook = "") { ASSERT_TRUE(change("load", sampleDay(workbook))); }
  std::optional<JSONValue> cached(const std::string& name) { return async::runBlocking(cache->read(name)); }

  std::shared_ptr<AppModel> model;
  std::shared_ptr<EncryptedCache> cache;
};

}  // namespace dorvik::testing
