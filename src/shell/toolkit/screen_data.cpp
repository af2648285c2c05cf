#include "shell/toolkit/screen_data.h"

#include <vector>

#include "core/api/failure.h"
#include "core/base/errors.h"

namespace dorvik {

void ScreenData::notify(Property property) { observers_.notify(property); }

void ScreenData::setValue(JSONValue value) {
  if (value_ == value && value_.kind() == value.kind()) return;
  value_ = std::move(value);
  notify(Property::value);
}

void ScreenData::setIssue(std::optional<std::string> issue) {
  if (issue_ == issue) return;
  issue_ = std::move(issue);
  notify(Property::issue);
}

void ScreenData::setLoading(bool on) {
  if (loading_ == on) return;
  loading_ = on;
  notify(Property::loading);
}

void ScreenData::setSaving(bool on) {
  if (saving_ == on) return;
  saving_ = on;
  notify(Property::saving);
}

async::Task<void> ScreenData::load(std::string path, ScreenSource source) {
  return runLoad(shared_from_this(), std::move(path), std::move(source));
}

async::Task<bool> ScreenData::write(std::string path, std::string method, JSONValue body, ScreenSource source) {
  return runWrite(shared_from_this(), std::move(path), std::move(method), std::move(body), std::move(source));
}

async::Task<void> ScreenData::runLoad(std::shared_ptr<ScreenData> self, std::string path, ScreenSource source) {
  const std::uint64_t token = ++self->request_;
  const std::string generation = source.generation();
  if (self->scope_ != generation) {
    self->setValue(JSONValue());
    self->setIssue(std::nullopt);
    self->scope_ = generation;
  }
  self->setLoading(true);
  const async::CancelToken cancel = co_await async::currentToken();
  std::optional<JSONValue> answer;
  std::exception_ptr failure;
  try {
    answer = co_await source.fetch(path, "GET", std::nullopt);
  } catch (...) {
    failure = std::current_exception();
  }
  const bool current = self->request_ == token && source.generation() == generation;
  if (answer) {
    if (current && !cancel.isCancelled()) {
      self->setValue(std::move(*answer));
      self->setIssue(std::nullopt);
    }
  } else if (current && !isCancellation(failure)) {
    self->setIssue(failureText(failure));
  }
  if (self->request_ == token) self->setLoading(false);
}

async::Task<bool> ScreenData::runWrite(std::shared_ptr<ScreenData> self, std::string path, std::string method,
                                       JSONValue body, ScreenSource source) {
  if (self->saving_) co_return false;
  const std::string generation = source.generation();
  self->setSaving(true);
  std::exception_ptr failure;
  try {
    JSONValue answer = co_await source.fetch(path, method, std::optional<JSONValue>(std::move(body)));
    (void)answer;
  } catch (...) {
    failure = std::current_exception();
  }
  const bool current = source.generation() == generation;
  if (!failure) {
    if (current) self->setIssue(std::nullopt);
    self->setSaving(false);
    co_return current;
  }
  if (current && !isCancellation(failure)) self->setIssue(writeFailureText(failure));
  self->setSaving(false);
  co_return false;
}

}  // namespace dorvik
