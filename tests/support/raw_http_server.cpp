#include "support/raw_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace torvane::test {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Sends all bytes; false when the peer went away.
bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t ContentLength(const RecordedRequest& r) {
  std::string value = r.Header("Content-Length");
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

}  // namespace

std::vector<std::string> RecordedRequest::HeaderLines() const {
  std::vector<std::string> lines;
  std::size_t pos = head.find("\r\n");
  while (pos != std::string::npos) {
    std::size_t start = pos + 2;
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    lines.push_back(head.substr(start, end - start));
    pos = end;
  }
  return lines;
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const std::string& line : HeaderLines()) {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && EqualIgnoreCase(std::string_view(line).substr(0, colon), name)) {
      std::size_t v = colon + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      return line.substr(v);
    }
  }
  return {};
}

int RecordedRequest::HeaderCount(std::string_view name) const {
  int count = 0;
  for (const std::string& line : HeaderLines()) {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && EqualIgnoreCase(std::string_view(line).substr(0, colon), name)) ++count;
  }
  return count;
}

RawReply RawReply::Http(int status, std::string_view body, std::string_view extraHeaders) {
  RawReply reply;
  reply.bytes = "HTTP/1.1 " + std::to_string(status) + " Scripted\r\n" + std::string(extraHeaders) +
                "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                std::string(body);
  return reply;
}

RawReply RawReply::Redirect(int status, std::string_view location, std::string_view extraHeaders) {
  return Http(status, "moved", "Location: " + std::string(location) + "\r\n" + std::string(extraHeaders));
}

RawHttpServer::RawHttpServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listenFd_, 64) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return;
  }
  socklen_t len = sizeof(addr);
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawHttpServer::~RawHttpServer() { Stop(); }

std::string RawHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void RawHttpServer::Enqueue(RawReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(reply));
}

void RawHttpServer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> RawHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t RawHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

void RawHttpServer::Stop() {
  if (stopping_.exchange(true)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  stopped_.notify_all();
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
}

void RawHttpServer::AcceptLoop() {
  while (!Stopping()) {
    pollfd p{listenFd_, POLLIN, 0};
    int r = ::poll(&p, 1, 100);
    if (r <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (Stopping()) {
      ::close(fd);
      break;
    }
    openFds_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

RawReply RawHttpServer::NextReply(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    if (!queue_.empty()) {
      RawReply reply = std::move(queue_.front());
      queue_.pop_front();
      return reply;
    }
    handler = handler_;
  }
  if (handler) return handler(request);
  return RawReply::Http(404, "not scripted");
}

void RawHttpServer::Serve(int fd) {
  std::string pending;
  char buffer[64 * 1024];
  bool open = true;
  while (open && !Stopping()) {
    // Read one request: the head up to the empty line, then Content-Length bytes of body.
    RecordedRequest request;
    std::size_t headEnd = std::string::npos;
    std::size_t need = 0;
    bool haveHead = false;
    while (!Stopping()) {
      if (!haveHead) {
        headEnd = pending.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
          haveHead = true;
          request.head = pending.substr(0, headEnd + 2);
          request.requestLine = request.head.substr(0, request.head.find("\r\n"));
          need = headEnd + 4 + ContentLength(request);
        }
      }
      if (haveHead && pending.size() >= need) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) {
        open = false;
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    if (!open || Stopping() || !haveHead) break;
    request.raw = pending.substr(0, need);
    request.body = pending.substr(headEnd + 4, need - headEnd - 4);
    pending.erase(0, need);

    RawReply reply = NextReply(request);
    if (reply.neverAnswer) {
      std::unique_lock<std::mutex> lock(mutex_);
      stopped_.wait(lock, [this] { return Stopping(); });
      break;
    }
    auto pause = [&] {
      if (reply.pauseMsBetweenChunks > 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        stopped_.wait_for(lock, std::chrono::milliseconds(reply.pauseMsBetweenChunks), [this] { return Stopping(); });
      }
    };
    bool sent = true;
    std::size_t chunk = std::max<std::size_t>(1, reply.chunkSize);
    for (std::size_t off = 0; sent && off < reply.bytes.size() && !Stopping(); off += chunk) {
      if (off > 0) pause();
      sent = SendAll(fd, reply.bytes.data() + off, std::min(chunk, reply.bytes.size() - off));
    }
    std::string filler(std::min<std::uint64_t>(chunk, std::max<std::uint64_t>(reply.streamBytes, 1)), 'x');
    for (std::uint64_t left = reply.streamBytes; sent && left > 0 && !Stopping();) {
      pause();
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, filler.size()));
      sent = SendAll(fd, filler.data(), n);
      left -= n;
    }
    if (!sent || reply.close) break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
  }
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

}  // namespace torvane::test
