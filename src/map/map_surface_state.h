// What the map surface shows and how it reacts, without widgets: which layer stands (the map, "connecting", or
// the unavailable view), the loading card, the zoom controls, the issue panel, the page's status, the zoom and
// fit commands, and the retry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/json/json_value.h"

namespace dorvik {

inline constexpr const char* kMapTitle = "Карта 2ГИС";
inline constexpr const char* kMapLoading = "Загружаем карту 2ГИС…";
inline constexpr const char* kMapConnecting = "Подключаем 2ГИС…";
inline constexpr const char* kMapRetry = "Повторить";
inline constexpr const char* kMapPageFailed = "Карта 2ГИС не загрузилась. Проверьте соединение и доступ ключа к карте.";
inline constexpr const char* kMapPreviewText =
    "Войдите, чтобы использовать карту 2ГИС вашего склада. Пример доступен в таблице заказов.";
inline constexpr const char* kMapNoKeyText =
    "Добавьте ключ карты в разделе «Интеграции». Сохранённые адреса доступны в таблице.";

// The zoom group: title, icon, tooltip and command kind of each button, in order.
struct MapZoomButton {
  const char* title;
  const char* icon;
  const char* tooltip;
  const char* kind;
};
inline constexpr MapZoomButton kMapZoomButtons[] = {
    {"Ближе", "zoom-in-symbolic", "Приблизить карту", "zoomIn"},
    {"Дальше", "zoom-out-symbolic", "Отдалить карту", "zoomOut"},
    {"Все точки", "zoom-fit-best-symbolic", "Показать все точки", "fit"},
};

// The model's side of the surface: the web map's settings, their failure text and the demo flag.
struct MapSettings {
  JSONValue configuration;  // null until loaded
  std::optional<std::string> issue;
  bool preview = false;
};

// The surface's own state.
class MapSurfaceState {
 public:
  enum class Layer { map, connecting, unavailable };

  // What stands on screen for this state and the model's settings.
  struct Look {
    Layer layer = Layer::connecting;
    std::string unavailableText;       // the unavailable view's description
    bool loadingCard = false;          // "Загружаем карту 2ГИС…" over the map
    bool controls = false;             // the zoom group
    std::optional<std::string> panel;  // the issue panel's message
  };
  Look look(const MapSettings& settings) const;

  // The map key of the settings ("" when there is none).
  static std::string key(const JSONValue& configuration);

  // A status posted by the page: "ready", "loading" or "error".
  void onStatus(std::string_view state);
  // A zoom or fit press: a command {id: new upper-case UUID, kind}.
  void send(std::string_view kind);
  // The retry's own part: no issue, not ready, a new web view identity. The caller then replaces the web view
  // and forces a new settings load.
  void retry();

  const std::optional<std::string>& issue() const { return issue_; }
  bool ready() const { return ready_; }
  const std::string& reloadID() const { return reloadID_; }
  const JSONValue& command() const { return command_; }

 private:
  std::optional<std::string> issue_;
  bool ready_ = false;
  std::string reloadID_ = newID();
  JSONValue command_;

  static std::string newID();
};

// The page is asked to avoid animation when the desktop says so or the user turned map motion off.
inline bool mapReduceMotion(bool systemReducesMotion, bool extraMotion) { return systemReducesMotion || !extraMotion; }

}  // namespace dorvik
