#include <curl/curl.h>

#include <cstring>
#include <random>

#include "bench.h"

namespace bench {

std::vector<Figure>& Registry() {
  static std::vector<Figure> figures;
  return figures;
}

std::vector<std::function<void()>>& EndSteps() {
  static std::vector<std::function<void()>> steps;
  return steps;
}

void AtEndOfRun(std::function<void()> step) { EndSteps().push_back(std::move(step)); }

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

std::unique_ptr<torvane::ChildProcess> StartHelper(const std::filesystem::path& program,
                                                   const std::vector<std::string>& args, const std::string& readyPrefix,
                                                   std::string* restOfLine) {
  std::string error;
  auto child = torvane::ChildProcess::Start(program, args, &error);
  std::string line;
  if (!child || !child->ReadLine(&line, std::chrono::seconds(20)) || line.rfind(readyPrefix, 0) != 0) {
    std::fprintf(stderr, "%s did not start %s\n", program.c_str(), error.c_str());
    return nullptr;
  }
  *restOfLine = line.substr(readyPrefix.size());
  return child;
}

bool AdminPost(const std::string& url, const std::string& json) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(json.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK || status != 200) std::fprintf(stderr, "admin call %s failed\n", url.c_str());
  return code == CURLE_OK && status == 200;
}

}  // namespace bench

// Usage: torvane-bench [FILTER]  runs every figure whose name contains FILTER.
int main(int argc, char** argv) {
  const char* filter = argc > 1 ? argv[1] : "";
  for (auto& figure : bench::Registry()) {
    if (std::strstr(figure.name.c_str(), filter) == nullptr) continue;
    figure.run();
  }
  auto& steps = bench::EndSteps();
  while (!steps.empty()) {
    auto step = std::move(steps.back());
    steps.pop_back();
    step();
  }
  return 0;
}
