#include "tls_server.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#error "market-sim needs cpp-httplib built with OpenSSL (CPPHTTPLIB_OPENSSL_SUPPORT)"
#endif

namespace marketsim {

std::unique_ptr<httplib::Server> MakeServer(const std::string& certificate, const std::string& key) {
  if (certificate.empty()) return std::make_unique<httplib::Server>();
  auto server = std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str());
  if (!server->is_valid()) return nullptr;
  return server;
}

}  // namespace marketsim
