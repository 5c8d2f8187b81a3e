// SPDX-License-Identifier: BSD-3-Clause
#include "support/run_cli.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/files.h"

namespace vornek::test {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string WaitForFileUnderWay(int pid, const std::string& folder, std::uintmax_t bytes,
                                std::chrono::seconds limit) {
  namespace fs = std::filesystem;
  const std::string prefix = fs::weakly_canonical(folder).string() + "/";
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const fs::directory_entry& fd : fs::directory_iterator(fds, error)) {
      std::error_code gone;
      const std::string target = fs::read_symlink(fd.path(), gone).string();
      if (gone || target.rfind(prefix, 0) != 0) continue;
      const std::string name = target.substr(prefix.size());
      if (name.empty() || (name[0] != '#' && name[0] != '.')) continue;
      struct stat info {};
      if (::stat(fd.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          static_cast<std::uintmax_t>(info.st_size) > bytes)
        return target;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {};
}

CliRun RunVornek(const std::string& program, const std::string& folder,
                 const std::vector<std::string>& args,
                 const std::function<void(int pid)>& while_running, std::chrono::seconds limit,
                 const std::function<void()>& in_child) {
  // Its output goes to a folder of its own: the input's folder holds only the case.
  const TempDir logs;
  const std::string out_path = logs.File("stdout"), err_path = logs.File("stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(99);
    if (!std::freopen(out_path.c_str(), "w", stdout) || !std::freopen(err_path.c_str(), "w", stderr))
      ::_exit(98);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (in_child) in_child();
    ::execv(program.c_str(), argv.data());
    ::_exit(97);
  }
  CliRun run;
  if (pid < 0) return run;
  if (while_running) while_running(pid);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      run.hung = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!run.hung && WIFEXITED(status)) {
    run.exited = true;
    run.status = WEXITSTATUS(status);
  } else if (!run.hung && WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
  }
  run.out = Slurp(out_path);
  run.err = Slurp(err_path);
  return run;
}

}  // namespace vornek::test
