// ShiftsDesk: the payroll side of the company's server on a StandInServer — one depot with its rate per shift,
// its couriers (an own rate or the depot's, a pay mode), the days their routes worked per month, their manual day
// marks and their adjustments. It answers the month document and takes the page's writes: day marks, the depot
// rate, a courier's pay settings, adding and deleting adjustments. Malformed writes are refused with 400 as a
// server would; the next answer of a request can be scripted. Every request stays in the server's log.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/shifts.h"
#include "core/base/dorvik_date.h"
#include "core/json/json_value.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

namespace dorvik::testing {

class ShiftsDesk {
 public:
  explicit ShiftsDesk(StandInServer& server);

  void setDepot(std::string name, double shiftRate);
  // A courier of the depot; without an own rate he is paid the depot's.
  void addCourier(std::string id, std::string fullName, std::optional<double> ownRate = std::nullopt,
                  std::string payMode = "shift");
  // The days of the month ("yyyy-MM") his routes worked.
  void setRouteDays(const std::string& courierID, const std::string& month, std::vector<int> days);
  // An adjustment as the page would add it; its id.
  std::string addAdjustment(const std::string& courierID, const std::string& date, const std::string& kind,
                            double amount, const std::string& note);

  // The month document the server answers now.
  JSONValue month(const std::string& key) const;
  // The manual mark of a courier's day ("yyyy-MM-dd"): true, false, or null when none.
  JSONValue mark(const std::string& courierID, const std::string& date) const;
  // A courier's own rate (null when he has none) and pay mode.
  JSONValue ownRate(const std::string& courierID) const;
  std::string payMode(const std::string& courierID) const;

  // The next request of that method and path (without query) gets `answer` instead.
  void answerNext(const std::string& method, const std::string& path, Answer answer);

 private:
  struct Courier {
    std::string id;
    std::string fullName;
    std::optional<double> ownRate;
    std::string payMode;
    std::map<std::string, std::vector<int>> routeDays;  // month -> days
    std::map<std::string, std::map<int, bool>> marks;   // month -> day -> worked
  };
  struct Adjustment {
    std::string id;
    std::string courierID;
    std::string date;
    std::string kind;
    double amount = 0;
    std::string note;
  };
  Courier* courier(const std::string& id);
  const Courier* courier(const std::string& id) const;
  std::optional<Answer> scripted(const Hit& hit);

  StandInServer& server_;
  std::string depotName_ = "Склад «Северный»";
  double depotRate_ = 2500;
  std::vector<Courier> couriers_;
  std::vector<Adjustment> adjustments_;
  std::map<std::string, std::deque<Answer>> scripted_;  // "METHOD path"
  int next_ = 1;
};

// A logist signed in on the application model against a ShiftsDesk holding March 2025: k-1 paid per shift at the
// depot's 2500 on route days 3, 4, 5 and 12; k-2 at his own 3000 monthly on days 1 and 2; k-3 paid officially.
struct ShiftsSession {
  StandInServer server;
  AdminDesk admin{server};
  ShiftsDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();

  ShiftsSession() {
    model->setCache(freshCache());
    model->setApi(admin.signIn("logist"));
    model->setUser(AdminDesk::user("logist"));
    desk.setDepot("Склад «Северный»", 2500);
    desk.addCourier("k-1", "Иванов Пётр");
    desk.addCourier("k-2", "Сидорова Анна", 3000, "monthly");
    desk.addCourier("k-3", "Петров Олег", std::nullopt, "official");
    desk.setRouteDays("k-1", "2025-03", {3, 4, 5, 12});
    desk.setRouteDays("k-2", "2025-03", {1, 2});
  }
  // The page of the day's month once it may be written (or once waiting gave up).
  std::shared_ptr<dorvik::admin::ShiftsController> page(const char* day) {
    auto made = dorvik::admin::ShiftsController::create(
        dorvik::admin::modelGateway(model), [] { return std::string("depot-1"); },
        DorvikDate::parse(day) + std::chrono::hours(12));
    made->follow();
    spinUntil([&] { return made->editable(); });
    return made;
  }
  // Waits for a write and its reload.
  static bool settle(const std::shared_ptr<dorvik::admin::ShiftsController>& on) {
    return spinUntil([&] { return !on->saving() && !on->loading(); });
  }
  // The writes the server was sent, in order.
  std::vector<Hit> writes() const {
    std::vector<Hit> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path.starts_with("/panel/shifts")) out.push_back(hit);
    return out;
  }
};

}  // namespace dorvik::testing
