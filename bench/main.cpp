#include <cstring>
#include <random>

#include "bench.h"

namespace bench {

std::vector<Figure>& Registry() {
  static std::vector<Figure> figures;
  return figures;
}

void Report(const std::string& name, double value, const std::string& unit) {
  std::printf("%s %.3f %s\n", name.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

std::filesystem::path ScratchDir(const std::string& tag) {
  static std::vector<std::filesystem::path> made;
  struct Cleanup {
    ~Cleanup() {
      std::error_code ec;
      for (auto& p : made) std::filesystem::remove_all(p, ec);
    }
  };
  static Cleanup cleanup;
  std::random_device rd;
  auto dir = std::filesystem::temp_directory_path() / ("torvane-bench-" + tag + "-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  made.push_back(dir);
  return dir;
}

}  // namespace bench

// Usage: torvane-bench [FILTER]  runs every figure whose name contains FILTER.
int main(int argc, char** argv) {
  const char* filter = argc > 1 ? argv[1] : "";
  for (auto& figure : bench::Registry()) {
    if (std::strstr(figure.name.c_str(), filter) == nullptr) continue;
    figure.run();
  }
  return 0;
}
