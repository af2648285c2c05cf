#include "core/api/failure.h"

#include "core/api/transport_error.h"
#include "core/base/errors.h"

namespace dorvik {

bool isCancellation(std::exception_ptr failure) {
  if (!failure) return false;
  try {
    std::rethrow_exception(failure);
  } catch (const CancelledError&) {
    return true;
  } catch (const TransportError& e) {
    return e.code() == TransportError::Code::Cancelled;
  } catch (...) {
    return false;
  }
}

std::optional<std::string> failureText(std::exception_ptr failure) {
  if (!failure || isCancellation(failure)) return std::nullopt;
  try {
    std::rethrow_exception(failure);
  } catch (const DorvikError& e) {
    return e.message();
  } catch (const TransportError& e) {
    return e.message();
  } catch (const std::exception& e) {
    return std::string(e.what());
  } catch (...) {
    return std::string("Не удалось завершить действие.");
  }
}

bool outcomeUnknown(std::exception_ptr failure) {
  if (!failure) return false;
  try {
    std::rethrow_exception(failure);
  } catch (const DorvikError& e) {
    return e.status() >= 500;
  } catch (const TransportError& e) {
    switch (e.code()) {
      case TransportError::Code::TimedOut:
      case TransportError::Code::NetworkConnectionLost:
      case TransportError::Code::BadServerResponse:
      case TransportError::Code::Unknown:
        return true;
      default:
        return false;
    }
  } catch (...) {
    return false;
  }
}

std::optional<std::string> writeFailureText(std::exception_ptr failure) {
  std::optional<std::string> text = failureText(failure);
  if (text && outcomeUnknown(failure)) *text += std::string(" ") + kMaybeSaved;
  return text;
}

}  // namespace dorvik
