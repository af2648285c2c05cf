// The order editor: the sheet's form, the new order it starts from, the address search it runs and the result it
// accepts, the patch it sends (with the provenance of the coordinates) and the sheet's state over the model's
// workflows. Plain C++; the sheet's widgets bind to an OrderEditor.
//
// Main thread only. The search and the save run detached and keep the editor alive while they wait; closing the
// sheet cancels a running search, whose result then changes nothing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/cancel_token.h"
#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/app_model.h"
#include "shell/toolkit/form.h"

namespace dorvik::planning {

inline constexpr const char* kCoordinatePairMessage =
    "Введите обе координаты: широта от −90 до 90, долгота от −180 до 180.";
inline constexpr const char* kNoExactAddressMessage =
    "Не найден единственный точный адрес. Укажите город, улицу, дом и корпус либо задайте координаты вручную.";
inline constexpr const char* kSearchStoppedMessage = "Поиск остановлен.";
inline constexpr const char* kOrderChangedMessage = "Заказ изменился. Откройте его заново.";

// The 13 rows of the order form.
const std::vector<FieldSpec>& orderFields();

// A new order: the number "NEW-" and 8 upper-case hexadecimal digits of a fresh UUID, the window "09:00-18:00".
JSONValue newOrder();

// The search result the editor accepts for `address`: a single exact hit (both coordinates numbers, "qc" exactly
// "0") as the resolution {"address", "lat", "lon", "source", "qc", "found"}; none for anything else.
std::optional<JSONValue> acceptedLookup(const std::string& address, const JSONValue& result);

// What a change of the plan reports back: whether it was applied, and the failure message this very change put on
// the model's error line (none when it raised none).
struct ChangeOutcome {
  bool applied = false;
  std::optional<std::string> error;
};

// The model's workflows the order editor calls: its own, or a test's stand-ins.
struct OrderEditorWork {
  // The address search (not rate-limited).
  std::function<async::Task<JSONValue>(std::string address)> lookup;
  // The patch applied to the order with this "_nativeID", or added as a new order when there is none.
  std::function<async::Task<ChangeOutcome>(std::optional<std::string> nativeID, JSONValue patch)> save;
  // The coordinates of an address kept in the address memory, stored and uploaded.
  std::function<async::Task<void>(std::string address, double lat, double lon, std::string source, std::string name)>
      remember;
};
OrderEditorWork orderEditorWork(const std::shared_ptr<AppModel>& model);

// The messages the model's error line receives while it lives; the last one is the failure of the work that ran
// meanwhile. A message set before, still undismissed, is not counted.
class ErrorWatch {
 public:
  explicit ErrorWatch(AppModel& model);
  const std::optional<std::string>& raised() const { return *raised_; }

 private:
  std::shared_ptr<std::optional<std::string>> raised_ = std::make_shared<std::optional<std::string>>();
  AppModel::Connection connection_;
};

class OrderEditor : public std::enable_shared_from_this<OrderEditor> {
 public:
  enum class Change { value, issue, busy, dismissed };
  using Connection = Observers<Change>::Connection;

  // `order`: the order object of the plan, or null for a new order.
  static std::shared_ptr<OrderEditor> create(JSONValue order, OrderEditorWork work);

  // The patch sent for the order: the 13 form members converted by kind, with "source", "qc" and "found" saying
  // where the coordinates come from. Throws DorvikError with the message for the issue line.
  static JSONValue changes(const JSONValue& original, const JSONValue& draft, const JSONValue& resolution);

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  bool isNew() const { return order_.isNull(); }
  const char* heading() const { return isNew() ? "Новый заказ" : "Изменить заказ"; }
  // The edited object, shared with the form's rows.
  const std::shared_ptr<JSONValue>& value() const { return value_; }
  const std::optional<std::string>& issue() const { return issue_; }
  // A search or a save runs.
  bool busy() const { return busy_; }
  bool searching() const { return lookupToken_.has_value(); }

  // Looks the address up and takes a single exact hit's coordinates (unless the address or a coordinate was
  // edited while it ran).
  void search();
  // Stops the running search.
  void stopSearch();
  // Computes the patch and applies it; dismisses the sheet once the plan has taken it.
  void save();
  // The sheet went away: a running search is cancelled.
  void close();

 private:
  OrderEditor(JSONValue order, OrderEditorWork work);
  static async::Task<void> runSearch(std::shared_ptr<OrderEditor> self, std::string address, JSONValue lat,
                                     JSONValue lon, async::CancelToken token);
  static async::Task<void> runSave(std::shared_ptr<OrderEditor> self, JSONValue patch);
  void setIssue(std::optional<std::string> issue);
  void setBusy(bool busy);
  void notify(Change change) { observers_.notify(change); }

  JSONValue order_;
  OrderEditorWork work_;
  std::shared_ptr<JSONValue> value_;
  std::optional<std::string> issue_;
  bool busy_ = false;
  JSONValue resolution_;
  std::optional<async::CancelToken> lookupToken_;
  Observers<Change> observers_;
};

}  // namespace dorvik::planning
