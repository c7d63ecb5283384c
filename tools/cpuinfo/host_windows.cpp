// The tool's host services on Windows.
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
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
