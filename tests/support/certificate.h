// Throwaway certificates for servers under test.
#pragma once

#include <filesystem>
#include <string>

namespace torvane::test {

// A self-signed certificate for 127.0.0.1 (PEM) and its key, made with the openssl command; false
// with its output in *error when it could not be made. A client trusts the server only when given
// the certificate file.
bool MakeTestCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key,
                         std::string* error = nullptr);

}  // namespace torvane::test
