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

}  // namespace dorvik
