#include "platform/window_system.h"

namespace torvane {
namespace {

class NoWindowSystem final : public WindowSystem {
 public:
  explicit NoWindowSystem(std::string winePrefix) : winePrefix_(std::move(winePrefix)) {}
  // Even with a wine prefix configured nothing here can reach the client's windows.
  bool Available() override { return false; }
  bool OpenAddress(const std::string&) override { return false; }
  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string&) override { return {}; }
  std::vector<WindowHandle> Descendants(WindowHandle, const std::string&) override { return {}; }
  bool SetText(WindowHandle, const std::string&) override { return false; }
  bool PostKey(WindowHandle, int) override { return false; }

 private:
  std::string winePrefix_;
};

}  // namespace

std::unique_ptr<WindowSystem> MakeWindowSystem(const Deployment& deployment) {
  return std::make_unique<NoWindowSystem>(deployment.chatWinePrefix);
}

}  // namespace torvane
