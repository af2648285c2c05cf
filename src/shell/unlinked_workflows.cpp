// Used while the model's workflows are not part of the build: every call reports that the action is not
// available yet, so the window, the settings and the demo layout can be run and tested on their own.
#include "core/base/errors.h"
#include "shell/shell_context.h"

namespace dorvik {

namespace {
constexpr const char* kUnavailable = "Это действие пока недоступно в этой сборке.";

class UnlinkedWorkflows final : public Workflows {
 public:
  explicit UnlinkedWorkflows(std::weak_ptr<AppModel> model) : model_(std::move(model)) {}
  async::Task<void> start(AppModel::LaunchOptions) override { co_return; }
  async::Task<void> login(std::string, std::string) override {
    report();
    co_return;
  }
  async::Task<void> changeRequiredPassword(std::string) override { throw DorvikError(kUnavailable); co_return; }
  async::Task<void> loadPreview() override { throw DorvikError(kUnavailable); co_return; }
  async::Task<void> logout() override { co_return; }
  async::Task<void> switchDepot(std::string) override { throw DorvikError(kUnavailable); co_return; }
  async::Task<void> refreshReferenceData() override { co_return; }
  async::Task<JSONValue> fetch(std::string, std::string, std::optional<JSONValue>) override {
    throw DorvikError(kUnavailable);
    co_return JSONValue();
  }
  async::Task<bool> mutate(std::string, JSONValue) override { co_return false; }
  async::Task<void> importWorkbook() override {
    report();
    co_return;
  }
  async::Task<void> exportWorkbook(std::string) override {
    report();
    co_return;
  }

 private:
  void report() {
    if (auto model = model_.lock()) model->setError(std::string(kUnavailable));
  }
  std::weak_ptr<AppModel> model_;
};
}  // namespace

std::shared_ptr<Workflows> modelWorkflows(std::shared_ptr<AppModel> model) {
  return std::make_shared<UnlinkedWorkflows>(model);
}

}  // namespace dorvik
