#pragma once
// Runs a shell command line in the background and presses Ctrl-C (SIGINT)
// once it is ready, as a user stopping a long command would.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace quorvel::test {

// Starts `command` (sh -c), polls ready() every 50 ms for at most 30 s, then
// sends SIGINT and waits. Returns the exit status, or -1 when the command did
// not exit by itself (killed by the signal).
inline int RunThenInterrupt(const std::string& command, const std::function<bool()>& ready) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 600 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole text of a file (empty when it cannot be read).
inline std::string FileText(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

}  // namespace quorvel::test
