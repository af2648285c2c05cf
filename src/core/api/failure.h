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

// True when a request that failed may still have been carried out by the server: a server error (5xx), an answer
// that could not be read, or a connection lost or timed out once the request could have gone out. A refusal
// (4xx), a host never reached and a local failure did nothing.
bool outcomeUnknown(std::exception_ptr failure);

// The text to show for a failed write of a record: as failureText, followed by kMaybeSaved when the outcome is
// unknown (so nobody types the record again into a duplicate).
inline constexpr const char* kMaybeSaved = "Запись могла сохраниться: проверьте список после восстановления связи.";
std::optional<std::string> writeFailureText(std::exception_ptr failure);

}  // namespace dorvik
