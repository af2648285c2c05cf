// Dorvik: entry point. "--preview" opens the demo workspace.
#include <string_view>
#include <vector>

#include "app/page_catalogue.h"
#include "core/engine/script_context.h"
#include "shell/application.h"

int main(int argc, char* argv[]) {
  dorvik::ScriptContext::sizeHeapForTheProgram();
  bool preview = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--preview") {
      preview = true;
      continue;
    }
    args.push_back(argv[i]);
  }
  args.push_back(nullptr);
  dorvik::DorvikApp app(dorvik::makePanelContent, preview);
  return app.run(static_cast<int>(args.size()) - 1, args.data());
}
