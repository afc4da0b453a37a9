// SPDX-License-Identifier: MIT
#include "support/run_tool.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

ToolRun run_tool(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                 long file_limit) {
  ToolRun run;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return run;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return run;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    if (file_limit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {static_cast<rlim_t>(file_limit), static_cast<rlim_t>(file_limit)};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Both pipes drained together: a child that fills one while the other is
  // read would otherwise wait for ever.
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.output, &run.errors};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buf[4096];
      ssize_t got = read(fds[k].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[k]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open_pipes;
      }
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  pass_on_errors(run.errors);
  return run;
}

int spawn_tool(const std::string& exe, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int wait_tool(int pid) {
  int wstatus = 0;
  return waitpid(pid, &wstatus, 0) == pid ? wstatus : -1;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/morvane-test-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr) path = name.data();
}

namespace {
void remove_tree(const std::string& path) {
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* ent = readdir(d)) {
      std::string name = ent->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      if (ent->d_type == DT_DIR) {
        remove_tree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(d);
  }
  rmdir(path.c_str());
}
}  // namespace

TempDir::~TempDir() {
  if (!path.empty()) remove_tree(path);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* ent = readdir(d)) {
      std::string name = ent->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}
