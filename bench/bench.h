// Benchmark registry: each figure is a function that prints "name value unit" lines.
#pragma once
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <memory>
#include <vector>

#include "platform/child_process.h"

namespace bench {

struct Figure {
  std::string name;
  std::function<void()> run;
};

std::vector<Figure>& Registry();

struct Register {
  Register(std::string name, std::function<void()> run) { Registry().push_back({std::move(name), std::move(run)}); }
};

// Runs at the end of main, last registered first: what must go while the program is still whole
// (the Qt application object, whose teardown needs Qt's thread data).
void AtEndOfRun(std::function<void()> step);

// Prints one figure line.
void Report(const std::string& name, double value, const std::string& unit);

// A fresh empty directory under the system temporary directory, removed at exit.
std::filesystem::path ScratchDir(const std::string& tag);

// A helper program (market-sim, the mail server) started for one figure: its first standard-output
// line must start with readyPrefix; restOfLine gets what follows. nullptr when it did not come up.
std::unique_ptr<torvane::ChildProcess> StartHelper(const std::filesystem::path& program,
                                                   const std::vector<std::string>& args, const std::string& readyPrefix,
                                                   std::string* restOfLine);

// A JSON admin call to market-sim straight through libcurl (not the product's traffic); true on 200.
bool AdminPost(const std::string& url, const std::string& json);

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench

#define TORVANE_BENCH_CAT2(a, b) a##b
#define TORVANE_BENCH_CAT(a, b) TORVANE_BENCH_CAT2(a, b)
#define TORVANE_BENCH(name) \
  static void TORVANE_BENCH_CAT(bench_fn_, __LINE__)(); \
  static ::bench::Register TORVANE_BENCH_CAT(bench_reg_, __LINE__)(name, TORVANE_BENCH_CAT(bench_fn_, __LINE__)); \
  static void TORVANE_BENCH_CAT(bench_fn_, __LINE__)()
