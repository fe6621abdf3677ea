#include "faulty_mount.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace quorvel::test {

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// In a forked child: runs words[0] (found on PATH) with the rest as its
// arguments; never returns.
[[noreturn]] void Exec(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// Runs a program with arguments, no shell; returns its exit status (-1 when
// it could not run). Output is discarded unless out is given.
int Run(const std::vector<std::string>& words, std::string* out = nullptr) {
  int pipeFds[2] = {-1, -1};
  if (out && ::pipe(pipeFds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (out) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
    } else {
      std::freopen("/dev/null", "w", stdout);
    }
    std::freopen("/dev/null", "w", stderr);
    Exec(words);
  }
  if (out) {
    ::close(pipeFds[1]);
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) out->append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string FaultyMount::Unavailable() {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is missing or not usable: no FUSE here";
  if (std::string(QUORVEL_FAULTY_FS).empty()) return "faulty_image_fs was not built (libfuse3-dev missing)";
  if (::access(QUORVEL_FAULTY_FS, X_OK) != 0) return std::string("the helper ") + QUORVEL_FAULTY_FS + " is missing";
  return std::string();
}

bool FaultyMount::Required() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

FaultyMount::FaultyMount(const std::string& image, const std::string& folder, const std::vector<BadRun>& bad,
                         int delayMs, const std::string& log, int errorDelayMs)
    : folder_(folder) {
  error_ = Unavailable();
  if (!error_.empty()) return;
  ::mkdir(folder.c_str(), 0755);
  std::vector<std::string> words{QUORVEL_FAULTY_FS, image, folder};
  for (const BadRun& run : bad) {
    words.push_back("--bad");
    words.push_back(std::to_string(run.first) + "-" + std::to_string(run.first + run.count - 1));
  }
  if (delayMs) words.insert(words.end(), {"--delay-ms", std::to_string(delayMs)});
  if (errorDelayMs) words.insert(words.end(), {"--error-delay-ms", std::to_string(errorDelayMs)});
  if (!log.empty()) words.insert(words.end(), {"--log", log});
  pid_ = ::fork();
  if (pid_ < 0) {
    error_ = "fork failed";
    return;
  }
  if (pid_ == 0) {
    // The file system goes away with the test, even when the test crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    Exec(words);
  }
  struct stat st {};
  for (int i = 0; i < 500; ++i) {
    if (::stat(path().c_str(), &st) == 0) {
      ok_ = true;
      return;
    }
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "faulty_image_fs ended before the mount appeared";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error_ = "the faulty mount did not appear";
  Unmount();
}

FaultyMount::~FaultyMount() { Unmount(); }

void FaultyMount::Unmount() {
  if (pid_ <= 0) return;
  Run({"fusermount3", "-u", folder_});
  for (int i = 0; i < 250; ++i) {
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Still busy: force it.
  ::kill(pid_, SIGTERM);
  Run({"fusermount3", "-uz", folder_});
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

LoopDevice::LoopDevice(const std::string& file) {
  std::string out;
  if (Run({"losetup", "--read-only", "--find", "--show", file}, &out) != 0) return;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  if (Exists(out)) path_ = out;
}

LoopDevice::~LoopDevice() {
  if (!path_.empty()) Run({"losetup", "--detach", path_});
}

}  // namespace quorvel::test
