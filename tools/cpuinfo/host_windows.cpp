// The tool's host services on Windows.
#define WIN32_LEAN_AND_MEAN
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <time.h>
#include <windows.h>

#include "host.h"

namespace {

// The number of the first processor of `group`: the processors of the groups
// before it come first.
unsigned first_of_group(WORD group) {
  unsigned first = 0;
  for (WORD g = 0; g < group; ++g) first += GetActiveProcessorCount(g);
  return first;
}

}  // namespace

bool host_pin_thread(unsigned cpu, std::string* error) {
  const WORD groups = GetActiveProcessorGroupCount();
  WORD group = 0;
  while (group < groups && cpu >= first_of_group(group) + GetActiveProcessorCount(group)) ++group;
  if (group == groups) {
    *error = "logical processor " + std::to_string(cpu) +
             " does not exist or this process may not use it";
    return false;
  }
  GROUP_AFFINITY affinity = {};
  affinity.Group = group;
  affinity.Mask = KAFFINITY{1} << (cpu - first_of_group(group));
  if (!SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr)) {
    *error = "cannot hold the thread on logical processor " + std::to_string(cpu);
    return false;
  }
  // A thread moved off its processor is moved before it runs again.
  SwitchToThread();
  return true;
}

int host_current_processor() {
  PROCESSOR_NUMBER now;
  GetCurrentProcessorNumberEx(&now);
  return static_cast<int>(first_of_group(now.Group) + now.Number);
}

std::vector<unsigned> host_usable_processors() {
  std::vector<unsigned> cpus(first_of_group(GetActiveProcessorGroupCount()));
  for (unsigned cpu = 0; cpu < cpus.size(); ++cpu) cpus[cpu] = cpu;
  return cpus;
}

std::string host_os_text() {
  // RtlGetVersion gives the true version; GetVersionEx answers what the
  // program's manifest declares.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  using WineVersionFn = const char*(CDECL*)(void);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  std::string text = "Windows";
  if (ntdll == nullptr) return text;
  const auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (get_version != nullptr && get_version(&info) == 0) {
    text += " " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
            " build " + std::to_string(info.dwBuildNumber);
  }
  // Under Wine, ntdll also names the Wine release.
  const auto wine_version = reinterpret_cast<WineVersionFn>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(ntdll, "wine_get_version")));
  if (wine_version != nullptr) text += std::string(" (Wine ") + wine_version() + ")";
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) text += " x86-64";
  return text;
}

std::string host_utc_date() {
  const time_t now = time(nullptr);
  tm utc;
  char text[32];
  if (gmtime_s(&utc, &now) != 0 || strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "unknown";
  return text;
}

int host_terminal_columns(FILE* out) {
  if (out != stdout || !_isatty(_fileno(out))) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool host_is_terminal(FILE* out) { return _isatty(_fileno(out)) != 0; }

double host_seconds() { return static_cast<double>(GetTickCount64()) / 1000.0; }

void host_binary_output(FILE* out) { _setmode(_fileno(out), _O_BINARY); }

FILE* host_open_replacement(const std::string& path, std::string* temp) {
  temp->clear();
  // Opened for writing as it stands, without emptying it: a file on disk
  // that may be written, or nothing at all, is replaced; anything else (a
  // device such as NUL, a folder, a read-only file) is opened as before.
  const HANDLE old = CreateFileA(path.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool replace = old == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  if (old != INVALID_HANDLE_VALUE) {
    replace = GetFileType(old) == FILE_TYPE_DISK;
    CloseHandle(old);
  }
  if (!replace) return fopen(path.c_str(), "wb");
  const std::string stem = path + "." + std::to_string(GetCurrentProcessId()) + "-";
  for (int n = 0; n < 100; ++n) {
    const std::string name = stem + std::to_string(n) + ".tmp";
    const int fd =
        _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
      _close(fd);
      _unlink(name.c_str());
      return nullptr;
    }
    *temp = name;
    return file;
  }
  return nullptr;  // errno is EEXIST
}

bool host_replace_file(const std::string& temp, const std::string& path) {
  // rename() of the C runtime fails when `path` exists.
  if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}
