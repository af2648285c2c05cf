// How a caught failure reaches the user: the one rule shared by the model's workflows and the screens.
#pragma once

#include <exception>
#include <optional>
#include <string>

namespace dorvik {

// True for the failures that are never shown: a cancellation, and a transfer cancelled in flight.
bool isCancellation(std::exception_ptr failure);

// The text to show for a failure: the Russian message of a DorvikError or of a transport error, the description
// of anything else. None for a cancellation.
std::optional<std::string> failureText(std::exception_ptr failure);

// A write whose answer never came although the request may have reached the server (a time-out, a connection lost
// mid-way, an answer that could not be read): whether it was stored is unknown.
bool outcomeUnknown(std::exception_ptr failure);
inline constexpr const char* kMaybeSaved = "Запись могла сохраниться: проверьте список после восстановления связи.";
// The text to show for a failed write: kMaybeSaved when its outcome is unknown, else as failureText.
std::optional<std::string> writeFailureText(std::exception_ptr failure);

}  // namespace dorvik
