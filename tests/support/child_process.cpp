#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <thread>

extern char** environ;

namespace tovik::test {
namespace {

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

// Reads what is there; false at the end of the stream.
bool drain(int fd, std::string& into) {
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

}  // namespace

std::vector<std::string> ChildResult::outLines() const {
  std::vector<std::string> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::string input) : input_(std::move(input)) {
  // A child that exits before reading all its input must not take the test down with it.
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  const int spawned = ::posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << argv[0];
    pid_ = -1;
  }
  for (const int fd : {in_, out_, err_}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (input_.empty()) closeFd(in_);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  closeFd(in_);
  closeFd(out_);
  closeFd(err_);
}

bool ChildProcess::pump(std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds;
  if (out_ >= 0) fds.push_back({out_, POLLIN, 0});
  if (err_ >= 0) fds.push_back({err_, POLLIN, 0});
  if (in_ >= 0) fds.push_back({in_, POLLOUT, 0});
  if (out_ < 0 && err_ < 0) return false;
  if (::poll(fds.data(), fds.size(), static_cast<int>(timeout.count())) <= 0) return true;
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    if (p.fd == out_ && !drain(out_, result_.out)) closeFd(out_);
    else if (p.fd == err_ && !drain(err_, result_.err)) closeFd(err_);
    else if (p.fd == in_) {
      const ssize_t put = ::write(in_, input_.data() + written_, input_.size() - written_);
      if (put > 0) written_ += static_cast<std::size_t>(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written_ == input_.size()) closeFd(in_);
    }
  }
  return out_ >= 0 || err_ >= 0;
}

bool ChildProcess::waitForLines(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (static_cast<std::size_t>(std::count(result_.out.begin(), result_.out.end(), '\n')) < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !pump(std::min(left, std::chrono::milliseconds(100)))) return false;
  }
  return true;
}

void ChildProcess::signal(int number) {
  if (pid_ > 0) ::kill(pid_, number);
}

ChildResult ChildProcess::finish(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline && pump(std::chrono::milliseconds(100))) {
  }
  int status = 0;
  while (pid_ > 0) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "the child did not finish in time; killed";
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      result_.status = -1;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return result_;
}

ChildResult runChild(std::vector<std::string> argv, const std::string& input, std::chrono::milliseconds timeout) {
  return ChildProcess(std::move(argv), input).finish(timeout);
}

}  // namespace tovik::test
