// The built module, loaded by file name at run time as a host program loads
// it, with every export resolved by name.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if !defined(_WIN32)
// This host defines functions of its own under three of the library's export
// names, visible to the dynamic linker; the module must keep calling its own.
extern "C" __attribute__((visibility("default"))) int cpuinfo_has_feature(const char*) { return 7; }
extern "C" __attribute__((visibility("default"))) int cpuinfo_current_mhz() { return -7; }
extern "C" __attribute__((visibility("default"))) int cpuinfo_logical_cores() { return -7; }
#endif

namespace {

using TextFn = const char* (*)();
using IntFn = int (*)();
using FeatureFn = int (*)(const char*);

struct Module {
#if defined(_WIN32)
  HMODULE handle = LoadLibraryA(VELQUORN_MODULE_FILE);
  void* find(const char* name) { return reinterpret_cast<void*>(GetProcAddress(handle, name)); }
  ~Module() {
    if (handle != nullptr) FreeLibrary(handle);
  }
#else
  void* handle = dlopen(VELQUORN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  void* find(const char* name) { return dlsym(handle, name); }
  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }
#endif
  template <typename Fn>
  Fn get(const char* name) {
    return reinterpret_cast<Fn>(find(name));
  }
};

// Whether the module is still mapped into this process.
bool module_is_loaded() {
#if defined(_WIN32)
  return GetModuleHandleA(VELQUORN_MODULE_FILE) != nullptr;
#else
  void* handle = dlopen(VELQUORN_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
#endif
}

TEST(Module, LoadsByNameAndAnswersThroughEveryExport) {
  Module m;
  ASSERT_NE(m.handle, nullptr) << VELQUORN_MODULE_FILE;
  auto version = m.get<TextFn>("cpuinfo_version");
  auto last_error = m.get<TextFn>("cpuinfo_last_error");
  auto logical = m.get<IntFn>("cpuinfo_logical_cores");
  auto has_feature = m.get<FeatureFn>("cpuinfo_has_feature");
  auto current_mhz = m.get<IntFn>("cpuinfo_current_mhz");
  auto get_json = m.get<TextFn>("cpuinfo_get_json");
  ASSERT_TRUE(version && last_error && logical && has_feature && current_mhz && get_json);

  // Before any report, the last-error text is already empty.
  const char* err = last_error();
  EXPECT_STREQ(err, "");
  EXPECT_STREQ(version(), "1.0.0");
  EXPECT_EQ(version(), version());
  EXPECT_EQ(has_feature("sse2"), 1);
  EXPECT_EQ(has_feature("x64"), 1);
  EXPECT_EQ(has_feature(nullptr), -1);
  EXPECT_GE(logical(), 1);
  EXPECT_GT(current_mhz(), 0);

  const char* first = get_json();
  const std::string first_text = first;
  const char* second = get_json();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first_text.front(), '{');
  EXPECT_EQ(std::string(second).back(), '}');
  EXPECT_EQ(last_error(), err);
  EXPECT_STREQ(last_error(), "");
}

// Loading runs nothing of the library's own, and releasing leaves nothing
// behind: a thousand cycles, every export called in each.
TEST(Module, LoadsAndUnloadsAThousandTimes) {
  constexpr int kCycles = 1000;
  int failures = 0;
  ASSERT_FALSE(module_is_loaded());
  for (int i = 0; i < kCycles; ++i) {
    {
      Module m;
      if (m.handle == nullptr) {
        ADD_FAILURE() << "cycle " << i << ": the module did not load";
        return;
      }
      const char* json = m.get<TextFn>("cpuinfo_get_json")();
      failures += std::string(m.get<TextFn>("cpuinfo_version")()) != "1.0.0";
      failures += m.get<TextFn>("cpuinfo_last_error")()[0] != '\0';
      failures += m.get<IntFn>("cpuinfo_logical_cores")() < 1;
      failures += m.get<FeatureFn>("cpuinfo_has_feature")("sse2") != 1;
      failures += m.get<IntFn>("cpuinfo_current_mhz")() <= 0;
      failures += json == nullptr || json[0] != '{';
    }
    failures += module_is_loaded();
  }
  EXPECT_EQ(failures, 0);
}

#if !defined(_WIN32)
TEST(Module, ReportCallsTheModulesOwnExportsNotTheHosts) {
  Module m;
  ASSERT_NE(m.handle, nullptr);
  const std::string report = m.get<TextFn>("cpuinfo_get_json")();
  for (const char* host_answer :
       {"\"x64\":7", "\"current_mhz\":-7", "\"logical_cores\":-7", "\"physical_cores\":-7"}) {
    EXPECT_EQ(report.find(host_answer), std::string::npos) << host_answer << " in " << report;
  }
  EXPECT_NE(report.find("\"x64\":1"), std::string::npos) << report;
  EXPECT_EQ(m.get<FeatureFn>("cpuinfo_has_feature")("sse2"), 1);
}
#endif

TEST(Module, InternalNamesAreNotExported) {
  Module m;
  ASSERT_NE(m.handle, nullptr);
  for (const char* name : {"cpuid_query", "read_tsc", "FEATS", "g_json", "g_err",
                           "build_feature_list", "read_identity", "count_physical_cores"}) {
    EXPECT_EQ(m.find(name), nullptr) << name;
  }
}

#if defined(_WIN32)
// The DLL's version resource, as Explorer and installers read it.
TEST(Module, CarriesItsVersionResource) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(VELQUORN_MODULE_FILE, &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(VELQUORN_MODULE_FILE, 0, size, &block[0]));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);  // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  const struct {
    const char* key;
    const char* value;
  } strings[] = {
      {"FileVersion", "1.0.0"},
      {"ProductVersion", "1.0.0"},
      {"OriginalFilename", "velquorn-cpuid-cpu-info.dll"},
      {"FileDescription", "Velquorn CPUID processor information"},
  };
  for (const auto& s : strings) {
    char* text = nullptr;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + s.key;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
        << s.key;
    EXPECT_STREQ(text, s.value) << s.key;
  }
}
#endif

}  // namespace
