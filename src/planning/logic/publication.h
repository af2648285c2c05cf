// The publication dialog: it asks the server what is already published for the plan's date, offers the modes
// that fit the answer, and sends the plan in the chosen mode through the model (which keeps the body and the
// idempotency key of a failed send for the retry).
//
//   state          existing  busy   shown                                  leaves by
//   checking       null      true   progress line; "Отправить" disabled    answer (ready), failure (check failed)
//   ready          answer    false  server line, modes; "Отправить"         send (sending)
//   sending        answer    true   modes and "Отправить" disabled          success (dismissed), failure (ready)
//   check failed   null      false  progress line, the message; only "Отмена"
//
// Main thread only. The check belongs to the dialog and is cancelled when it closes; a send is not: it finishes
// against the model after the dialog has gone.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/cancel_token.h"
#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"

namespace dorvik {
class AppModel;
}

namespace dorvik::planning {

struct PublicationMode {
  const char* tag;    // handed to the model and on to the server
  const char* label;  // the radio button's text
};
// Every mode in the order offered: "append", "keepStarted", "replace".
const std::vector<PublicationMode>& publicationModes();
// The modes offered for the server's answer: "replace" only while the date has no courier activity.
std::vector<PublicationMode> offeredModes(const JSONValue& existing);

// "/plans/existing?date=" with the date percent-encoded (a "yyyy-MM-dd" date reads the same).
std::string existingPlansPath(const std::string& routeDate);
// "<routes> маршрутов · <date>".
std::string publicationSummary(std::size_t routes, const std::string& routeDate);
// "На сервере: R. С отметками курьеров: S." of the answer (0 for what it lacks).
std::string serverLine(const JSONValue& existing);
// Said after the message of a send whose outcome is unknown (a server error, a connection lost): the model resends
// the same publication under the same key in the same mode, which the server takes once.
inline constexpr const char* kOutcomeUnknown =
    "План мог уже дойти до курьеров. Нажмите «Отправить» ещё раз в том же режиме: сервер узнает повторную отправку и "
    "не создаст маршруты дважды.";

// What the plan would send without a value: for every order on a route, each value that could not be read, as
// "№1003 · Кафе — «Места»: «три»", in route order. The dialog sends only once the user has confirmed them.
std::vector<std::string> valuesSentEmpty(const JSONValue& planner);

// The model's workflows the dialog calls: its own, or a test's stand-ins.
struct PublicationWork {
  std::function<async::Task<JSONValue>(std::string path)> fetch;  // a GET through the model's gateway
  std::function<async::Task<void>(std::string mode)> publish;
};
PublicationWork publicationWork(const std::shared_ptr<AppModel>& model);

class Publication : public std::enable_shared_from_this<Publication> {
 public:
  enum class Phase { checking, ready, sending, checkFailed };
  enum class Change { existing, mode, issue, busy, dismissed, confirmation };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<Publication> create(PublicationWork work);

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  Phase phase() const;
  // The server's answer; null until it has arrived.
  const JSONValue& existing() const { return existing_; }
  const std::string& mode() const { return mode_; }
  // Takes one of the offered modes.
  void setMode(const std::string& mode);
  const std::optional<std::string>& issue() const { return issue_; }
  bool busy() const { return busy_; }
  // The values the plan would send empty (valuesSentEmpty), and whether the user agreed to send them so. A new
  // list asks again.
  const std::vector<std::string>& sentEmpty() const { return sentEmpty_; }
  void setSentEmpty(std::vector<std::string> values);
  bool confirmed() const { return confirmed_; }
  void setConfirmed(bool confirmed);
  bool canSend() const { return !busy_ && !existing_.isNull() && (sentEmpty_.empty() || confirmed_); }
  bool canPickMode() const { return !busy_; }

  // Asks the server about the date (once, when the dialog shows).
  void check(const std::string& routeDate);
  void send();
  // The dialog went away: the check stops; a running send goes on.
  void close();

 private:
  explicit Publication(PublicationWork work) : work_(std::move(work)) {}
  static async::Task<void> runCheck(std::shared_ptr<Publication> self, std::string path, async::CancelToken token);
  static async::Task<void> runSend(std::shared_ptr<Publication> self, std::string mode);
  void setIssue(std::optional<std::string> issue);
  void setBusy(bool busy);
  void notify(Change change) { observers_.notify(change); }

  PublicationWork work_;
  std::string mode_ = "append";
  JSONValue existing_;
  std::optional<std::string> issue_;
  std::vector<std::string> sentEmpty_;
  bool confirmed_ = false;
  bool busy_ = true;
  async::CancelToken checkToken_;
  Observers<Change> observers_;
};

}  // namespace dorvik::planning
