// The workflows of AppModel, forwarded one to one. A workflow whose implementation is not part of dorvik_model
// yet (the build defines DORVIK_MODEL_HAS_<name> for each one it finds) reports that the action is not
// available instead, so the shell builds and runs while the model grows.
#include "core/base/errors.h"
#include "shell/shell_context.h"

namespace dorvik {

namespace {

[[maybe_unused]] constexpr const char* kUnavailable = "Это действие пока недоступно в этой сборке.";

class ModelWorkflows final : public Workflows {
 public:
  explicit ModelWorkflows(std::shared_ptr<AppModel> model) : model_(std::move(model)) {}

#ifdef DORVIK_MODEL_HAS_start
  async::Task<void> start(AppModel::LaunchOptions options) override { return model_->start(std::move(options)); }
#else
  async::Task<void> start(AppModel::LaunchOptions) override { co_return; }
#endif

#ifdef DORVIK_MODEL_HAS_login
  async::Task<void> login(std::string identity, std::string password) override {
    return model_->login(std::move(identity), std::move(password));
  }
#else
  async::Task<void> login(std::string, std::string) override {
    model_->setError(std::string(kUnavailable));
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_changeRequiredPassword
  async::Task<void> changeRequiredPassword(std::string password) override {
    return model_->changeRequiredPassword(std::move(password));
  }
#else
  async::Task<void> changeRequiredPassword(std::string) override {
    throw DorvikError(kUnavailable);
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_loadPreview
  async::Task<void> loadPreview() override { return model_->loadPreview(); }
#else
  async::Task<void> loadPreview() override {
    throw DorvikError(kUnavailable);
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_logout
  async::Task<void> logout() override { return model_->logout(); }
#else
  async::Task<void> logout() override {
    model_->setError(std::string(kUnavailable));
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_switchDepot
  async::Task<void> switchDepot(std::string depotId) override { return model_->switchDepot(std::move(depotId)); }
#else
  async::Task<void> switchDepot(std::string) override {
    throw DorvikError(kUnavailable);
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_refreshReferenceData
  async::Task<void> refreshReferenceData() override { return model_->refreshReferenceData(); }
#else
  async::Task<void> refreshReferenceData() override {
    model_->setError(std::string(kUnavailable));
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_fetch
  async::Task<JSONValue> fetch(std::string path, std::string method, std::optional<JSONValue> body) override {
    return model_->fetch(std::move(path), std::move(method), std::move(body));
  }
#else
  async::Task<JSONValue> fetch(std::string, std::string, std::optional<JSONValue>) override {
    throw DorvikError(kUnavailable);
    co_return JSONValue();
  }
#endif

#ifdef DORVIK_MODEL_HAS_mutate
  async::Task<bool> mutate(std::string action, JSONValue payload) override {
    return model_->mutate(std::move(action), std::move(payload));
  }
#else
  async::Task<bool> mutate(std::string, JSONValue) override {
    model_->setError(std::string(kUnavailable));
    co_return false;
  }
#endif

#ifdef DORVIK_MODEL_HAS_importWorkbook
  async::Task<void> importWorkbook() override { return model_->importWorkbook(); }
#else
  async::Task<void> importWorkbook() override {
    model_->setError(std::string(kUnavailable));
    co_return;
  }
#endif

#ifdef DORVIK_MODEL_HAS_exportWorkbook
  async::Task<void> exportWorkbook(std::string kind) override { return model_->exportWorkbook(std::move(kind)); }
#else
  async::Task<void> exportWorkbook(std::string) override {
    model_->setError(std::string(kUnavailable));
    co_return;
  }
#endif

 private:
  std::shared_ptr<AppModel> model_;
};

}  // namespace

std::shared_ptr<Workflows> modelWorkflows(std::shared_ptr<AppModel> model) {
  return std::make_shared<ModelWorkflows>(std::move(model));
}

}  // namespace dorvik
