#include "support/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/file_text.h"

extern char** environ;

namespace tovik::test {
namespace {

// All that `fd` holds, read through a file description of its own (the offset of `fd` is
// the child's).
std::string contentsOf(int fd) { return fileText("/proc/self/fd/" + std::to_string(fd)); }

}  // namespace

std::vector<std::string> ChildResult::outLines() const {
  std::vector<std::string> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::string input) {
  for (int& fd : streams_) fd = ::memfd_create("tovik-child", MFD_CLOEXEC);
  if (*std::min_element(std::begin(streams_), std::end(streams_)) < 0 ||
      ::write(streams_[0], input.data(), input.size()) != std::ssize(input) || ::lseek(streams_[0], 0, SEEK_SET) != 0) {
    ADD_FAILURE() << "cannot make the standard streams of " << argv[0];
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int stream = 0; stream < 3; ++stream) posix_spawn_file_actions_adddup2(&actions, streams_[stream], stream);
  // The child starts with every signal at its default, whatever this process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  if (::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ) != 0) {
    ADD_FAILURE() << "cannot run " << argv[0];
    pid_ = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (const int fd : streams_) {
    if (fd >= 0) ::close(fd);
  }
}

bool ChildProcess::exited() {
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  return pid_ < 0;
}

bool ChildProcess::waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const bool ended = exited();  // first: all it wrote before the end is there for `done`
    if (done()) return true;
    if (ended || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::waitForLines(std::size_t count, std::chrono::milliseconds timeout) {
  return waitForOutput(
      [&](const std::string& out) { return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count; },
      timeout);
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& holds,
                                 std::chrono::milliseconds timeout) {
  return waitFor(timeout, [&] { return holds(contentsOf(streams_[1])); });
}

void ChildProcess::signal(int number) {
  if (pid_ > 0) ::kill(pid_, number);
}

ChildResult ChildProcess::finish(std::chrono::milliseconds timeout) {
  waitFor(timeout, [] { return false; });
  if (!exited()) {
    ADD_FAILURE() << "the child did not finish in time; killed";
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  result_.out = contentsOf(streams_[1]);
  result_.err = contentsOf(streams_[2]);
  return result_;
}

ChildResult runChild(std::vector<std::string> argv, const std::string& input, std::chrono::milliseconds timeout) {
  return ChildProcess(std::move(argv), input).finish(timeout);
}

}  // namespace tovik::test
