// Checks of Velquorn.CpuInfo against the module: one set, run on two runtimes
// by the package-nuget workflow (bindings/dotnet/CMakeLists.txt):
//   .NET  compiled with XUNIT defined into a project that takes the package
//         Velquorn.CpuInfo by name; `dotnet test` runs them (VELQUORN_ANSWERS
//         names ANSWERS);
//   Mono  compiled by mcs with VelquornCpuInfo.cs, the route of hosts that take
//         no packages: mono velquorn-cpuinfo-cs-tests.exe ANSWERS
// ANSWERS is a C program linked to the same module that prints its answers
// (bindings/tests/answers.c). Prints a line per check and "N passed, N failed".
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Text;
using System.Text.RegularExpressions;
using System.Threading;
using Velquorn;

public static class CpuInfoChecks {
  // Names the module does not know, each close to a known one.
  static readonly string[] UnknownNames = {
    "", "SSE", "Sse2", "avx3", " sse", "sse2 ", "x86-64", "hypervisor2", "sse\u00b2", "\u017fse",
  };

  static int passed;
  static readonly List<string> failed = new List<string>();

  static void Check(string what, bool ok, string detail = "") {
    if (ok) {
      passed++;
      Console.WriteLine("ok   " + what);
    } else {
      failed.Add(what + (detail.Length > 0 ? ": " + detail : ""));
      Console.WriteLine("FAIL " + failed.Last());
    }
  }

  class Answers {
    public Dictionary<string, string> Values = new Dictionary<string, string>();
    public Dictionary<string, int> Has = new Dictionary<string, int>();
  }

  static Answers AskTheCHost(string program, IEnumerable<string> names) {
    var start = new ProcessStartInfo(program) {
      UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true,
      StandardOutputEncoding = Encoding.UTF8,
    };
    using (Process host = Process.Start(start)) {
      byte[] input = Encoding.UTF8.GetBytes(string.Join("\n", names) + "\n");
      host.StandardInput.BaseStream.Write(input, 0, input.Length);
      host.StandardInput.Close();
      string output = host.StandardOutput.ReadToEnd();
      host.WaitForExit();
      if (host.ExitCode != 0) throw new Exception(program + " exited with " + host.ExitCode);
      var answers = new Answers();
      foreach (string line in output.Split('\n').Where(l => l.Length > 0)) {
        string[] fields = line.Split('\t');
        if (fields[0] == "has") {
          answers.Has[fields[1]] = int.Parse(fields[2]);
        } else {
          answers.Values[fields[0]] = fields[1];
        }
      }
      return answers;
    }
  }

  // The clocks move between runs: the report's measured and recorded clocks
  // are compared apart from the rest.
  static string WithoutClocks(string report) {
    return Regex.Replace(report, "\"(base_mhz|current_mhz)\":-?[0-9]+", "\"$1\":#");
  }

  static int CurrentMhzOf(string report) {
    return int.Parse(Regex.Match(report, "\"current_mhz\":(-?[0-9]+)").Groups[1].Value);
  }

  // Both measurements failed the same way, or both are rates within a fifth
  // of each other.
  static bool SameKindOfClock(int ours, int theirs) {
    int[] failures = { CpuInfo.NoInterval, CpuInfo.NoRate };
    if (failures.Contains(ours) || failures.Contains(theirs)) return ours == theirs;
    return ours > 0 && theirs > 0 && Math.Abs(ours - theirs) <= theirs / 5;
  }

  static void CheckThrows<T>(string what, Action call, Func<T, bool> ok) where T : Exception {
    try {
      call();
      Check(what, false, "nothing was thrown");
    } catch (T e) {
      Check(what, e.GetType() == typeof(T) && ok(e), e.GetType().Name + ": " + e.Message);
    } catch (Exception e) {
      Check(what, false, "threw " + e.GetType().Name + ": " + e.Message);
    }
  }

  // Runs every check; returns the failures.
  public static List<string> Run(string answers) {
    Answers c = AskTheCHost(answers, CpuInfo.FeatureNames.Concat(UnknownNames));
    string cReport = c.Values["report"];

    // The cheap answers.
    var cheap = new[] {
      Tuple.Create("Version", CpuInfo.Version, c.Values["version"]),
      Tuple.Create("LastError", CpuInfo.LastError, c.Values["last_error"]),
      Tuple.Create("LogicalCores", CpuInfo.LogicalCores.ToString(), c.Values["logical_cores"]),
    };
    foreach (var row in cheap) {
      Check(row.Item1 + " equals the C host's", row.Item2 == row.Item3,
            "\"" + row.Item2 + "\" against \"" + row.Item3 + "\"");
    }

    // Every accepted name, against the C host and the report's order.
    Check("21 distinct feature names",
          CpuInfo.FeatureNames.Count == 21 && CpuInfo.FeatureNames.Distinct().Count() == 21);
    var present = new List<string>();
    foreach (string name in CpuInfo.FeatureNames) {
      int theirs = c.Has[name];
      bool ours = CpuInfo.HasFeature(name);
      Check("HasFeature(\"" + name + "\") equals the C host's",
            (theirs == 0 || theirs == 1) && ours == (theirs == 1), ours + " against " + theirs);
      if (ours && name != "hypervisor" && name != "x64") present.Add("\"" + name + "\"");
    }
    string listed = "\"features\":[" + string.Join(",", present) + "]";
    Check("the report lists the present features in FeatureNames order",
          cReport.Contains(listed), listed + " is not in " + cReport);

    // Names the module does not know.
    var unknown = UnknownNames.Concat(new[] { "sse\0", "avx2\0avx3" });
    foreach (string name in unknown) {
      string shown = name.Replace("\0", "\\0");
      if (c.Has.ContainsKey(name)) {
        Check("the C host answers -1 for \"" + shown + "\"", c.Has[name] == -1);
      }
      CheckThrows<ArgumentException>(
          "HasFeature(\"" + shown + "\") throws ArgumentException", () => CpuInfo.HasFeature(name),
          e => e.ParamName == "name" && e.Message.Contains("\"" + name + "\"") &&
               CpuInfo.FeatureNames.All(n => e.Message.Contains(" " + n)));
    }
    CheckThrows<ArgumentNullException>("HasFeature(null) throws ArgumentNullException",
                                       () => CpuInfo.HasFeature(null), e => e.ParamName == "name");

    // The report and the clock.
    string report = CpuInfo.ReportJson();
    Check("ReportJson equals the C host's apart from the clocks",
          WithoutClocks(report) == WithoutClocks(cReport), report + " against " + cReport);
    Check("the report's clock is of the C host's kind",
          SameKindOfClock(CurrentMhzOf(report), CurrentMhzOf(cReport)));
    int mhz = CpuInfo.CurrentMhz;
    int cMhz = int.Parse(c.Values["current_mhz"]);
    Check("CurrentMhz is of the C host's kind", SameKindOfClock(mhz, cMhz),
          mhz + " against " + cMhz);

    // The module's texts are read, never freed: freeing one of them crashes
    // or corrupts the heap long before a thousand calls.
    string expected = WithoutClocks(report);
    int whole = 0;
    for (int i = 0; i < 1000; i++) {
      if (WithoutClocks(CpuInfo.ReportJson()) == expected &&
          CpuInfo.Version == c.Values["version"] && CpuInfo.LastError == c.Values["last_error"]) {
        whole++;
      }
    }
    Check("1000 reports in a row, each whole", whole == 1000, whole + " of 1000");

    // Threads share the report buffer through the lock.
    var reports = new List<string>();
    var threads = Enumerable.Range(0, 4).Select(_ => new Thread(() => {
      for (int i = 0; i < 5; i++) {
        string text = CpuInfo.ReportJson();
        lock (reports) reports.Add(text);
      }
    })).ToList();
    threads.ForEach(t => t.Start());
    threads.ForEach(t => t.Join());
    Check("4 threads get 20 whole reports",
          reports.Count == 20 && reports.All(r => WithoutClocks(r) == expected),
          reports.Count + " reports");

    Console.WriteLine(passed + " passed, " + failed.Count + " failed");
    return failed;
  }
}

#if XUNIT
public class CpuInfoTests {
  [Xunit.Fact]
  public void AnswersEqualTheCHosts() {
    string answers = Environment.GetEnvironmentVariable("VELQUORN_ANSWERS");
    List<string> failed = CpuInfoChecks.Run(answers);
    Xunit.Assert.True(failed.Count == 0, string.Join("\n", failed));
  }

  // The package's assembly says which of its texts may be null: none.
  [Xunit.Fact]
  public void NullableAnnotationsShipped() {
    Xunit.Assert.Contains(typeof(CpuInfo).GetCustomAttributesData(),
                    a => a.AttributeType.Name == "NullableContextAttribute");
  }
}
#else
static class Program {
  static int Main(string[] args) {
    if (args.Length != 1) {
      Console.Error.WriteLine("usage: velquorn-cpuinfo-cs-tests.exe ANSWERS-PROGRAM");
      return 2;
    }
    return CpuInfoChecks.Run(args[0]).Count == 0 ? 0 : 1;
  }
}
#endif
