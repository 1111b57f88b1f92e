// A scriptable HTTP server on 127.0.0.1 for tests: it records every request's bytes exactly as received
// and answers with scripted raw bytes, so tests can check request lines, headers and bodies byte for byte
// and serve what no well-behaved server would (floods, zero bytes, endless bodies, silence).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace torvane::test {

// One request as it arrived.
struct RecordedRequest {
  std::string raw;          // request line, headers and body, byte for byte
  std::string requestLine;  // without CR LF
  std::string head;         // everything before the empty line, CR LF kept
  std::string body;

  // Value of the first header of that name (case-insensitive), "" when absent.
  std::string Header(std::string_view name) const;
  // Number of header lines of that name.
  int HeaderCount(std::string_view name) const;
  // Header lines (without CR LF) in order, request line excluded.
  std::vector<std::string> HeaderLines() const;
};

// What to do with one request.
struct RawReply {
  std::string bytes;             // sent as they are
  std::uint64_t streamBytes = 0; // then this many filler bytes, in chunks, until sent or the client leaves
  int pauseMsBetweenChunks = 0;  // pause between chunks of bytes and filler (a slow server)
  std::size_t chunkSize = 64 * 1024;
  bool neverAnswer = false;      // keep the connection open and send nothing until the server stops
  bool close = true;             // close the connection after the reply

  // A complete response with Content-Length and "Connection: close"; extraHeaders are lines ended by CR LF.
  static RawReply Http(int status, std::string_view body, std::string_view extraHeaders = {});
  // A redirect to location.
  static RawReply Redirect(int status, std::string_view location, std::string_view extraHeaders = {});
};

class RawHttpServer {
 public:
  using Handler = std::function<RawReply(const RecordedRequest&)>;

  // Listens on 127.0.0.1 at a free port; requests are answered from the queue, then by the handler,
  // else with 404.
  RawHttpServer();
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;

  void Enqueue(RawReply reply);
  void SetHandler(Handler handler);

  // Requests received so far, in arrival order.
  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  // Number of connections accepted.
  int Connections() const { return connections_.load(); }

  // Stops listening, closes every connection and joins the threads (also done by the destructor).
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd);
  RawReply NextReply(const RecordedRequest& request);
  bool Stopping() const { return stopping_.load(); }

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  std::deque<RawReply> queue_;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
  std::vector<int> openFds_;
  std::vector<std::thread> workers_;
  std::thread acceptThread_;
};

}  // namespace torvane::test
