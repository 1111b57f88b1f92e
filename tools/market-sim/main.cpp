// market-sim: serves the simulated marketplace, update page and IM service on 127.0.0.1.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "app/version.h"
#include "sim.h"
#include "tls_server.h"

namespace {

struct Options {
  int port = 0;
  std::string host = "127.0.0.1";
  bool demo = false;
  int demoIntervalMs = 5000;
  int demoMaxOrders = 500;
  bool seedGiven = false;
  std::uint64_t seed = 0;
  bool help = false;
  bool version = false;
  std::string tlsCertificate, tlsKey;  // both set: serve https
  std::string linkScheme;              // "http" or "https": how pages write their links; "": as served
};

void Usage(std::ostream& out) {
  out << "usage: market-sim [--port N] [--host 127.0.0.1] [--demo] [--demo-interval-ms N] "
         "[--demo-orders N] [--seed S] [--tls CERT KEY] [--links http|https]\n"
         "       market-sim --version | --help\n"
         "Serves the simulated marketplace on 127.0.0.1 (port 0 or none: a free port) and prints\n"
         "\"market-sim listening on http://127.0.0.1:PORT\" (https with --tls); SIGINT or SIGTERM stops it.\n"
         "See market-sim(1).\n";
}

bool ParseNumber(const char* text, long long low, long long high, long long& out) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno || end == text || *end || v < low || v > high) return false;
  out = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](long long low, long long high, long long& out) {
      return i + 1 < argc && ParseNumber(argv[++i], low, high, out);
    };
    long long v = 0;
    if (a == "--port") {
      if (!next(0, 65535, v)) return false;
      o.port = static_cast<int>(v);
    } else if (a == "--host") {
      if (i + 1 >= argc) return false;
      o.host = argv[++i];
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--demo-interval-ms") {
      if (!next(10, 3600000, v)) return false;
      o.demoIntervalMs = static_cast<int>(v);
    } else if (a == "--demo-orders") {
      if (!next(0, 1000000, v)) return false;
      o.demoMaxOrders = static_cast<int>(v);
    } else if (a == "--tls") {
      if (i + 2 >= argc) return false;
      o.tlsCertificate = argv[++i];
      o.tlsKey = argv[++i];
    } else if (a == "--links") {
      if (i + 1 >= argc) return false;
      o.linkScheme = argv[++i];
      if (o.linkScheme != "http" && o.linkScheme != "https") return false;
    } else if (a == "--seed") {
      if (!next(0, INT64_MAX, v)) return false;
      o.seed = static_cast<std::uint64_t>(v);
      o.seedGiven = true;
    } else {
      return false;
    }
  }
  return true;
}

std::map<std::string, std::string> ParseCookies(const std::string& header) {
  std::map<std::string, std::string> out;
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    std::string piece = header.substr(start, end - start);
    std::size_t a = piece.find_first_not_of(' ');
    if (a != std::string::npos) {
      piece = piece.substr(a);
      std::size_t eq = piece.find('=');
      if (eq != std::string::npos) {
        std::string name = piece.substr(0, eq);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        // The first cookie of a name wins, as a browser sends the most specific first.
        out.emplace(name, piece.substr(eq + 1));
      }
    }
    start = end + 1;
  }
  return out;
}

marketsim::SimRequest ToSimRequest(const httplib::Request& req) {
  marketsim::SimRequest r;
  r.method = req.method;
  const std::string& target = req.target.empty() ? req.path : req.target;
  std::size_t q = target.find('?');
  r.path = target.substr(0, q);
  r.query = q == std::string::npos ? std::string() : target.substr(q + 1);
  r.body = req.body;
  std::string cookie;
  for (auto it = req.headers.find("Cookie"); it != req.headers.end() && it->first == "Cookie"; ++it) {
    if (!cookie.empty()) cookie += "; ";
    cookie += it->second;
  }
  r.cookies = ParseCookies(cookie);
  auto [typeFrom, typeTo] = req.headers.equal_range("Content-Type");
  for (auto it = typeFrom; it != typeTo; ++it) r.contentTypes.push_back(it->second);
  return r;
}

// Why an admin request is refused; "" when it may go on. A page in a browser on this machine can send a
// form or a text/plain POST to 127.0.0.1, or reach it under another name through DNS rebinding: the admin
// interface takes only requests naming exactly its own address and, for POST, a JSON body type that a
// page cannot send without the server's consent.
std::string AdminRefusal(const httplib::Request& req, const std::string& ownHost) {
  if (req.get_header_value_count("Host") != 1 || req.get_header_value("Host") != ownHost) return "wrong Host";
  if (req.method == "POST") {
    std::string type = req.get_header_value("Content-Type");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    if (req.get_header_value_count("Content-Type") != 1 || type != "application/json") return "Content-Type must be application/json";
  }
  return {};
}

void Apply(const marketsim::SimResponse& from, httplib::Response& to) {
  to.status = from.status;
  for (const auto& c : from.setCookies) to.set_header("Set-Cookie", c);
  if (!from.location.empty()) to.set_header("Location", from.location);
  to.set_content(from.body, from.contentType.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage(std::cerr);
    return 2;
  }
  if (options.help) {
    Usage(std::cout);
    return 0;
  }
  if (options.version) {
    std::cout << "market-sim " << torvane::kProgramVersion << "\n";
    return 0;
  }
  if (options.host != "127.0.0.1" && options.host != "localhost") {
    std::cerr << "market-sim serves 127.0.0.1 only\n";
    return 2;
  }
  if (!options.seedGiven) options.seed = std::random_device{}();

  // Signals are taken by one waiting thread, which stops the server.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<httplib::Server> served = marketsim::MakeServer(options.tlsCertificate, options.tlsKey);
  if (!served) {
    std::cerr << "market-sim: cannot use the certificate " << options.tlsCertificate << " and key " << options.tlsKey << "\n";
    return 1;
  }
  httplib::Server& server = *served;
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(1000);
  // Idle connections close soon, so that a stop is not held up by a client keeping one open.
  server.set_keep_alive_timeout(1);
  server.set_payload_max_length(16u << 20);
  int port = options.port == 0 ? server.bind_to_any_port("127.0.0.1")
                               : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
  if (port <= 0) {
    std::cerr << "market-sim: cannot bind 127.0.0.1:" << options.port << "\n";
    return 1;
  }
  const std::string scheme = options.tlsCertificate.empty() ? "http" : "https";
  const std::string base = scheme + "://127.0.0.1:" + std::to_string(port);
  const std::string linkBase =
      options.linkScheme.empty() ? base : options.linkScheme + "://127.0.0.1:" + std::to_string(port);
  marketsim::Simulator sim(base, options.seed, linkBase);

  const std::string ownHost = "127.0.0.1:" + std::to_string(port);
  auto handler = [&sim, &ownHost](const httplib::Request& req, httplib::Response& res) {
    marketsim::SimRequest request = ToSimRequest(req);
    if (request.path.rfind("/admin/", 0) == 0) {
      if (std::string refusal = AdminRefusal(req, ownHost); !refusal.empty()) {
        res.status = 403;
        res.set_content("{\"error\":\"" + refusal + "\"}", "application/json");
        return;
      }
      bool shutdown = false;
      Apply(sim.HandleAdmin(request, shutdown), res);
      if (shutdown) kill(getpid(), SIGTERM);
      return;
    }
    const marketsim::Faults faults = sim.TakeFaults(request.path);
    const bool faulty = faults.Any();
    if (faulty && faults.slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(faults.slowMs));
    if (faulty && faults.status500) {
      res.status = 500;
      res.set_content("<html><body>500 Internal Server Error</body></html>", "text/html; charset=GBK");
      return;
    }
    if (faulty && faults.drop) {
      // Headers go out, then the connection closes before any of the promised body.
      res.set_content_provider(4096, "text/html; charset=GBK",
                               [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
      return;
    }
    marketsim::SimResponse response = sim.Handle(request);
    if (faulty && faults.noMarkers)
      response.body = "<html><head><title>系统繁忙</title></head><body><p>系统繁忙，请稍后再试。</p></body></html>\r\n";
    if (faulty && faults.truncate) response.body.resize(response.body.size() / 2);
    Apply(response, res);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);

  std::mutex demoMutex;
  std::condition_variable demoWake;
  bool stopping = false;
  std::thread demo;
  if (options.demo) {
    sim.SeedDemoShop();
    demo = std::thread([&] {
      std::unique_lock lock(demoMutex);
      while (!stopping) {
        lock.unlock();
        bool more = sim.AddDemoOrder(options.demoMaxOrders);
        lock.lock();
        if (!more) break;
        demoWake.wait_for(lock, std::chrono::milliseconds(options.demoIntervalMs), [&] { return stopping; });
      }
    });
  }

  std::thread signalWaiter([&] {
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    server.stop();
  });

  std::printf("market-sim listening on %s\n", base.c_str());
  std::fflush(stdout);
  if (options.demo)
    std::fprintf(stderr, "market-sim demo shop: log in at %s/member/login.jhtml with any user name and password \"secret\"\n",
                 base.c_str());

  server.listen_after_bind();

  {
    std::lock_guard lock(demoMutex);
    stopping = true;
  }
  demoWake.notify_all();
  if (demo.joinable()) demo.join();
  // The waiter may still be waiting when the server stopped by itself.
  pthread_kill(signalWaiter.native_handle(), SIGTERM);
  signalWaiter.join();
  return 0;
}
