// The three kinds of failure stay apart:
//  - DorvikError: a Russian sentence shown to the user unchanged, with the HTTP status of a server refusal
//    (0 for local, transport-independent and component failures);
//  - transport errors of the HTTP stack with their codes (see api/transport_error.h);
//  - CancelledError: work dropped because it was cancelled or its workspace changed. Never shown.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dorvik {

class DorvikError : public std::exception {
 public:
  explicit DorvikError(std::string message, std::int64_t status = 0) : message_(std::move(message)), status_(status) {}
  const std::string& message() const noexcept { return message_; }
  std::int64_t status() const noexcept { return status_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  std::int64_t status_;
};

class CancelledError : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace dorvik
