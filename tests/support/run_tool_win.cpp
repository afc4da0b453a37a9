// SPDX-License-Identifier: MIT
// The Windows side of run_tool.h: CreateProcessW with the standard streams
// on pipes, each drained by a thread of its own.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/run_tool.h"

namespace {

std::wstring wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

// One argument as the C runtime splits the command line back: quoted, with
// backslashes doubled before a quote.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  line += L'"';
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
    } else if (c == L'"') {
      line.append(slashes + 1, L'\\');
      slashes = 0;
    } else {
      slashes = 0;
    }
    line += c;
  }
  line.append(slashes, L'\\');
  line += L'"';
}

std::wstring command_line(const std::string& exe, const std::vector<std::string>& args) {
  std::wstring line;
  append_quoted(line, wide(exe));
  for (const std::string& a : args) {
    line += L' ';
    append_quoted(line, wide(a));
  }
  return line;
}

void drain(HANDLE pipe, std::string& sink) {
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) sink.append(buf, got);
  CloseHandle(pipe);
}

// The exit status as POSIX gives it (0..255), or -1 for an exception (a
// crash), whose codes are NTSTATUS errors.
int exit_status(DWORD code) {
  return code >= 0xC0000000u && code < 0xD0000000u ? -1 : static_cast<int>(code & 0xFF);
}

}  // namespace

ToolRun run_tool(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd, long) {
  ToolRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return run;
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return run;
  }
  // Only the child's ends are inherited.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out_write;
  si.hStdError = err_write;
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line(exe, args);
  const std::wstring dir = wide(cwd);
  // Wine now and then fails to start a process under load (error 1359, an
  // internal error): a start that failed is tried again, as nothing ran.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             cwd.empty() ? nullptr : dir.c_str(), &si, &pi);
    if (!started) std::fprintf(stderr, "run_tool: %s did not start (error %lu)\n", exe.c_str(), GetLastError());
  }
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    return run;
  }
  // Both pipes drained together: a child that fills one while the other is
  // read would otherwise wait for ever.
  std::thread err_thread(drain, err_read, std::ref(run.errors));
  drain(out_read, run.output);
  err_thread.join();
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  run.status = exit_status(code);
  // Which exception, for a failure that does not repeat.
  if (run.status == -1) std::fprintf(stderr, "run_tool: %s ended by exception 0x%08lx\n", exe.c_str(), code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  pass_on_errors(run.errors);
  return run;
}

int spawn_tool(const std::string& exe, const std::vector<std::string>& args) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line(exe, args);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(pi.dwProcessId);
}

int wait_tool(int pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return -1;
  WaitForSingleObject(h, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(h, &code);
  CloseHandle(h);
  return static_cast<int>(code);
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path p =
        base / ("morvane-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(p, ec)) {
      path = p.generic_string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
