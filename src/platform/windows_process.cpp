#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <thread>

#include "platform/process.h"
#include "platform/windows_text.h"

namespace kv {
namespace {

// A command-line word quoted so that the C runtime's parser gives it back.
std::string Quote(const std::string& word) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory, const std::vector<std::string>& environment,
                      const std::string& input_path) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end, write_end;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = CreateFileA(input_path.empty() ? "NUL" : input_path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr);

  // The child inherits the environment; the settings are made for the
  // moment of its creation and then undone.
  std::vector<std::pair<std::string, std::string>> saved;
  for (const std::string& setting : environment) {
    std::string name = setting.substr(0, setting.find('='));
    char old[32767];
    DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    saved.emplace_back(name, n > 0 && n < sizeof old ? std::string(old, n) : std::string("\x01"));
    SetEnvironmentVariableA(name.c_str(), setting.substr(name.size() + 1).c_str());
  }

  // The words are UTF-8, as a shell gives them, and reach the program
  // through the wide command line whatever the ANSI code page.
  std::string command_line = Quote(program);
  for (const std::string& arg : args) command_line += " " + Quote(arg);
  std::wstring wide_command_line = Utf8ToWide(command_line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(Utf8ToWide(program).c_str(), wide_command_line.data(), nullptr,
                                nullptr, TRUE, 0, nullptr, Utf8ToWide(directory).c_str(), &startup,
                                &process);
  for (const auto& [name, value] : saved) {
    SetEnvironmentVariableA(name.c_str(), value == "\x01" ? nullptr : value.c_str());
  }
  CloseHandle(write_end);
  if (null_in != INVALID_HANDLE_VALUE) CloseHandle(null_in);
  if (started) {
    // Read beside the wait, which ends the program at the deadline; its end
    // of the pipe then closes and the reading ends.
    std::thread reader([&] {
      char buffer[4096];
      DWORD n = 0;
      while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        run.output.append(buffer, n);
      }
    });
    if (WaitForSingleObject(process.hProcess, kProgramDeadlineSeconds * 1000) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      run.timed_out = true;
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    reader.join();
    DWORD code = 0;
    if (!run.timed_out && GetExitCodeProcess(process.hProcess, &code)) {
      run.status = static_cast<int>(code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(read_end);
  return run;
}

std::string ExecutableDirectory() {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".\\";
  std::string directory(path, n);
  return directory.substr(0, directory.find_last_of('\\') + 1);
}

size_t PeakResidentMegabytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize >> 20;
}

}  // namespace kv
