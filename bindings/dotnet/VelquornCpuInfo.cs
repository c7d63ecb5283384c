// Velquorn.CpuInfo: describes the processor this program runs on, through the
// velquorn-cpuid-cpu-info module (CPUID, RDTSC and a few OS services).
//
// The NuGet package Velquorn.CpuInfo (Velquorn.CpuInfo.csproj) compiles this
// file and carries both modules. A host that takes no packages drops this file
// into its program and puts the module where the runtime's native-library
// search finds it: on Windows, velquorn-cpuid-cpu-info.dll beside the program;
// on Linux, libvelquorn-cpuid-cpu-info.so on the loader's path
// (LD_LIBRARY_PATH, the ld.so cache, or beside the program).
//
// Every text the module returns lives in the module's own storage. It is read
// from an IntPtr and copied, never freed: a `string` return type would make
// the marshaller free the module's memory after copying it.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Velquorn {

/// <summary>The processor this program runs on, as the velquorn-cpuid-cpu-info
/// module describes it.</summary>
public static class CpuInfo {
  private const string Module = "velquorn-cpuid-cpu-info";

  /// <summary>The feature names that HasFeature accepts, in the order of the
  /// report's "features" member ("hypervisor" and "x64" are members of their
  /// own there).</summary>
  public static readonly IReadOnlyList<string> FeatureNames = Array.AsReadOnly(new[] {
    "sse", "sse2", "htt", "sse3", "ssse3", "fma", "sse41", "sse42", "popcnt", "aes", "avx",
    "f16c", "rdrand", "hypervisor", "bmi1", "avx2", "bmi2", "rdseed", "sha", "avx512f", "x64",
  });

  /// <summary>What CurrentMhz (and the report's current_mhz) holds when the
  /// measured interval was not positive.</summary>
  public const int NoInterval = -1;

  /// <summary>What CurrentMhz holds when the rate is not a number or does not
  /// fit in 32 bits.</summary>
  public const int NoRate = int.MinValue;

  // The report buffer is one for the whole module: a report call and the copy
  // of its text happen under this lock.
  private static readonly object ReportLock = new object();

  /// <summary>The module's version, "1.0.0".</summary>
  public static string Version {
    get { return Copy(cpuinfo_version()); }
  }

  /// <summary>The module's last-error text (the module keeps it empty).</summary>
  public static string LastError {
    get { return Copy(cpuinfo_last_error()); }
  }

  /// <summary>The number of logical processors the operating system reports.</summary>
  public static int LogicalCores {
    get { return cpuinfo_logical_cores(); }
  }

  /// <summary>The rate of the time-stamp counter over a sleep of about 50 ms,
  /// in MHz, as the module gives it: NoInterval (-1) or NoRate
  /// (-2147483648) when no rate can be given. Takes about 50 ms.</summary>
  public static int CurrentMhz {
    get { return cpuinfo_current_mhz(); }
  }

  /// <summary>Whether the processor has the named feature (one of
  /// FeatureNames). Throws ArgumentException, naming the accepted names, for a
  /// name the module does not know, and ArgumentNullException for null.</summary>
  public static bool HasFeature(string name) {
    if (name == null) throw new ArgumentNullException("name");
    int answer = -1;
    // The module reads up to the first NUL; a name holding one is not a name
    // it knows, so it is not asked (it would answer for the prefix). The name
    // goes as UTF-8 bytes: no code-page conversion can turn it into another.
    if (name.IndexOf('\0') < 0) {
      byte[] bytes = new byte[Encoding.UTF8.GetByteCount(name) + 1];
      Encoding.UTF8.GetBytes(name, 0, name.Length, bytes, 0);
      answer = cpuinfo_has_feature(bytes);
    }
    if (answer == -1) {
      throw new ArgumentException("unknown feature name \"" + name +
                                      "\"; the accepted names are: " +
                                      string.Join(", ", FeatureNames),
                                  "name");
    }
    return answer == 1;
  }

  /// <summary>The report as the module writes it: one line of JSON. Safe to
  /// call from any number of threads. Takes about 50 ms.</summary>
  public static string ReportJson() {
    lock (ReportLock) {
      return Copy(cpuinfo_get_json());
    }
  }

  private static string Copy(IntPtr text) {
    if (text == IntPtr.Zero) throw new InvalidOperationException(Module + " returned no text");
    return Marshal.PtrToStringAnsi(text);
  }

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern IntPtr cpuinfo_version();

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern IntPtr cpuinfo_last_error();

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern int cpuinfo_logical_cores();

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern int cpuinfo_has_feature(byte[] name);

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern int cpuinfo_current_mhz();

  [DllImport(Module, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
  private static extern IntPtr cpuinfo_get_json();
}

}  // namespace Velquorn
