// The report side of the company's server on a stand-in: "/reports/summary?from=&to=" sums up the routes a
// monitoring desk holds for the days of the period (totals, per courier, per day, and the orders that failed).
// The next answer can be made to fail on demand; every request stays in the server's log.
#pragma once

#include <memory>
#include <string>

#include "core/json/json_value.h"
#include "support/fake_monitoring.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class ReportsDesk {
 public:
  ReportsDesk(StandInServer& server, const MonitoringDesk& routes);

  // The summary the server answers for the days `from` to `to` ("yyyy-MM-dd", both included).
  JSONValue summary(const std::string& from, const std::string& to) const;

  // The next summary request gets `answer` instead.
  void failNext(Answer answer);

  // An order's status that counts as a problem (anything but delivered, pending or in progress).
  static bool isProblem(const std::string& status);

 private:
  struct State;
  const MonitoringDesk& routes_;
  std::shared_ptr<State> state_;
};

}  // namespace dorvik::testing
