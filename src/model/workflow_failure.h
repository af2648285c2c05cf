// How a workflow of the model turns a caught failure into the text it shows.
#pragma once

#include <exception>
#include <optional>
#include <string>

namespace dorvik {

// The text to put into the model's error for a failure: the Russian message of a DorvikError or of a transport
// error, the description of anything else. None for a cancellation, which is never shown.
std::optional<std::string> failureText(std::exception_ptr failure);

}  // namespace dorvik
