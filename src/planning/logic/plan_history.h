// The plan history page: the snapshots of this workspace kept on the computer, searched, saved by hand and opened
// again. The snapshots themselves are the model's (saved, listed and restored by it); the page's work runs
// detached over the model alone, so that it finishes whatever happens to the page (opening a snapshot switches to
// the planning page, which destroys this one).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {
class AppModel;
}

namespace dorvik::planning {

inline constexpr const char* kDefaultSnapshotTitle = "Сохранённый план";
inline constexpr const char* kHistoryNote =
    "История этого компьютера сохраняется зашифрованно для выбранного аккаунта и склада. История браузера хранится "
    "отдельно.";
inline constexpr const char* kHistoryEmptyTitle = "Пока нет сохранённых планов";
inline constexpr const char* kHistoryEmptyDescription =
    "Расчёт маршрутов сохраняет снимок автоматически. Вы также можете сохранить его вручную.";
inline constexpr const char* kRestoreQuestion = "Открыть сохранённый план?";
inline constexpr const char* kRestoreMessage = "Текущее планирование будет сохранено отдельным снимком перед заменой.";

// The entries shown for a search, newest first: all of them for an empty query, else those whose title, route
// date or file name contains the query regardless of letter case (Cyrillic included). The query is not trimmed.
std::vector<Record> historyRows(const std::vector<JSONValue>& history, std::string_view query);

// "Сохранить текущий план" is available: the plan has orders and no snapshot, blocking work or search runs.
bool canSaveSnapshot(const AppModel& model);

// Saves the plan as a snapshot titled exactly as typed (an empty title too); a failure goes to the model's alert.
void saveSnapshot(const std::shared_ptr<AppModel>& model, std::string title);
// Opens a snapshot in place of the current plan (the model saves the current one first); a failure goes to the
// model's alert.
void restoreSnapshot(const std::shared_ptr<AppModel>& model, JSONValue entry);

}  // namespace dorvik::planning
