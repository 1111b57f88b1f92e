#include "support/certificate.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace torvane::test {

bool MakeTestCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key,
                         std::string* error) {
  const std::filesystem::path log = certificate.string() + ".openssl.log";
  std::vector<std::string> args = {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                                   "subjectAltName=IP:127.0.0.1", "-keyout", key.string(), "-out", certificate.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  const bool made = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!made && error != nullptr) {
    std::ifstream in(log, std::ios::binary);
    *error = "openssl could not make a certificate: " +
             std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return made;
}

}  // namespace torvane::test
