// The workflows of AppModel, forwarded one to one.
#include "shell/shell_context.h"

namespace dorvik {

namespace {

class ModelWorkflows final : public Workflows {
 public:
  explicit ModelWorkflows(std::shared_ptr<AppModel> model) : model_(std::move(model)) {}

  async::Task<void> start(AppModel::LaunchOptions options) override { return model_->start(std::move(options)); }
  async::Task<void> login(std::string identity, std::string password) override {
    return model_->login(std::move(identity), std::move(password));
  }
  async::Task<void> changeRequiredPassword(std::string password) override {
    return model_->changeRequiredPassword(std::move(password));
  }
  async::Task<void> loadPreview() override { return model_->loadPreview(); }
  async::Task<void> logout() override { return model_->logout(); }
  async::Task<void> switchDepot(std::string depotId) override { return model_->switchDepot(std::move(depotId)); }
  async::Task<void> refreshReferenceData() override { return model_->refreshReferenceData(); }
  async::Task<JSONValue> fetch(std::string path, std::string method, std::optional<JSONValue> body) override {
    return model_->fetch(std::move(path), std::move(method), std::move(body));
  }
  async::Task<bool> mutate(std::string action, JSONValue payload) override {
    return model_->mutate(std::move(action), std::move(payload));
  }
  async::Task<void> importWorkbook() override { return model_->importWorkbook(); }
  async::Task<void> exportWorkbook(std::string kind) override { return model_->exportWorkbook(std::move(kind)); }

 private:
  std::shared_ptr<AppModel> model_;
};

}  // namespace

std::shared_ptr<Workflows> modelWorkflows(std::shared_ptr<AppModel> model) {
  return std::make_shared<ModelWorkflows>(std::move(model));
}

}  // namespace dorvik
