// Console reporter for benchmarks named "<impl>_<case>": prints the usual
// table, then one line per case with our time, each peer's time and the ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace varnel::bench {

class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  explicit SideBySideReporter(int caseWidth = 18) : caseWidth_(caseWidth) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      auto cut = name.find('_');
      if (cut == std::string::npos) continue;
      times_[name.substr(cut + 1)][name.substr(0, cut)] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [caseName, byImpl] : times_) {
      auto ours = byImpl.find("ours");
      if (ours == byImpl.end()) continue;
      std::printf("%-*s ours %10.1f us", caseWidth_, caseName.c_str(), ours->second / 1000);
      for (const auto& [impl, time] : byImpl) {
        if (impl == "ours") continue;
        std::printf(" | %s %10.1f us (x%.2f)", impl.c_str(), time / 1000, time / ours->second);
      }
      std::printf("\n");
    }
  }

 private:
  int caseWidth_;
  std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace varnel::bench
