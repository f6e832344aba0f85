// Starting and stopping a child program (see child_process.hpp).
#include "tools/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

// Finds an executable the way a shell would, before fork (the child must not allocate).
std::string ResolveExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return name;  // execve reports ENOENT
}

std::vector<std::string> BuildEnvironment(const TEnvironment& changes) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

[[noreturn]] void ReportAndExit(int errorPipe) {
  int error = errno;
  (void)!write(errorPipe, &error, sizeof error);
  _exit(127);
}

// Child side of the start: only async-signal-safe calls from here to exec.
[[noreturn]] void ExecChild(int input, int output, bool stderrToOutput, int errorPipe, const char* directory,
                            const char* file, char* const* argv, char* const* envp) {
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD}) ::signal(signal, SIG_DFL);
  if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0) ReportAndExit(errorPipe);
  if (stderrToOutput && dup2(output, STDERR_FILENO) < 0) ReportAndExit(errorPipe);
  if (directory != nullptr && chdir(directory) != 0) ReportAndExit(errorPipe);
  execve(file, argv, envp);
  ReportAndExit(errorPipe);
}

}  // namespace

TStartedChild StartChild(const TChildCommand& command) {
  std::vector<std::string> argStrings{command.Executable};
  argStrings.insert(argStrings.end(), command.Arguments.begin(), command.Arguments.end());
  std::vector<char*> argv = PointersTo(argStrings);
  std::vector<std::string> envStrings = BuildEnvironment(command.Environment);
  std::vector<char*> envp = PointersTo(envStrings);
  const std::string file = ResolveExecutable(command.Executable);

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) ThrowErrno(errno, "pipe");
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    int error = errno;
    close(output[0]);
    close(output[1]);
    ThrowErrno(error, "pipe");
  }
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    int error = errno;
    for (int fd : {output[0], output[1], errorPipe[0], errorPipe[1]}) close(fd);
    ThrowErrno(error, "open");
  }

  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    int error = errno;
    for (int fd : {output[0], output[1], errorPipe[0], errorPipe[1], input}) close(fd);
    ThrowErrno(error, "fork");
  }
  if (pid == 0) {
    ExecChild(input, output[1], command.StderrToOutput, errorPipe[1],
              command.WorkingDirectory.empty() ? nullptr : command.WorkingDirectory.c_str(), file.c_str(), argv.data(),
              envp.data());
  }
  // Both sides set the group, so it exists whichever runs first; after exec the child's
  // call fails harmlessly.
  setpgid(pid, pid);
  close(output[1]);
  close(errorPipe[1]);
  close(input);

  // The error pipe closes on exec; before that, the child writes why it could not start.
  int childError = 0;
  ssize_t got;
  do {
    got = read(errorPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    close(output[0]);
    ThrowErrno(childError, "cannot start " + command.Executable);
  }
  return {pid, output[0]};
}

std::optional<int> StopProcessGroup(pid_t pid, std::chrono::milliseconds grace) {
  if (pid <= 0) return std::nullopt;
  // The leader is left unreaped (WNOWAIT) until the end, so the group id cannot be reused
  // while signals go to it.
  auto leaderEnded = [pid] {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
  };
  if (!leaderEnded()) {
    killpg(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!leaderEnded() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  killpg(pid, SIGKILL);
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got != pid) return std::nullopt;
  return status;
}
