// The server the simulator answers on: plain HTTP, or HTTPS with a certificate and key given on the
// command line (cpp-httplib's TLS server over OpenSSL).
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

namespace marketsim {

// A plain server when certificate is empty; else a TLS server with the PEM certificate (chain) and
// key, nullptr when they cannot be used.
std::unique_ptr<httplib::Server> MakeServer(const std::string& certificate, const std::string& key);

}  // namespace marketsim
