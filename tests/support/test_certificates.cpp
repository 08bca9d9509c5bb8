#include "support/test_certificates.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace tovik::test {

namespace {

// Runs the openssl command with its output silenced; throws when it fails.
void runOpenssl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "openssl");
  std::vector<char*> argv;
  for (auto& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("TestCertificates: cannot run openssl");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("TestCertificates: lost the openssl process");
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("TestCertificates: openssl " + arguments.at(1) + " failed");
  }
}

}  // namespace

TestCertificates::TestCertificates() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovik-certs-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("TestCertificates: cannot make a temporary folder");
  }
  directory_ = pattern;
  const auto path = [this](const char* name) { return directory_ + "/" + name; };
  caFile_ = path("ca.pem");
  try {
    runOpenssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                path("ca.key"), "-out", caFile_, "-days", "3", "-subj", "/CN=Tovik Test CA", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    const Issued server = issue("server", "IP:127.0.0.1,IP:::1,DNS:localhost");
    serverCertificateFile_ = server.certificateFile;
    serverKeyFile_ = server.keyFile;
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
    throw;
  }
}

TestCertificates::Issued TestCertificates::issue(const std::string& host) const {
  return issue(host, (host.find_first_not_of("0123456789.") == std::string::npos ? "IP:" : "DNS:") + host);
}

TestCertificates::Issued TestCertificates::issue(const std::string& name, const std::string& subjectAltName) const {
  const auto path = [&](const char* suffix) { return directory_ + "/" + name + suffix; };
  Issued issued{path(".pem"), path(".key")};
  runOpenssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
              issued.keyFile, "-out", path(".csr"), "-subj", "/CN=" + name});
  std::ofstream(path(".ext")) << "subjectAltName=" << subjectAltName << "\n"
                              << "basicConstraints=critical,CA:FALSE\n"
                                 "keyUsage=critical,digitalSignature\n"
                                 "extendedKeyUsage=serverAuth\n"
                                 "subjectKeyIdentifier=hash\n"
                                 "authorityKeyIdentifier=keyid:always\n";
  runOpenssl({"x509", "-req", "-in", path(".csr"), "-CA", caFile_, "-CAkey", directory_ + "/ca.key",
              "-CAcreateserial", "-out", issued.certificateFile, "-days", "3", "-extfile", path(".ext")});
  return issued;
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

}  // namespace tovik::test
