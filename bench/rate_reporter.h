// A console reporter that also keeps each benchmark's items per second, for a program's summary.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &run : reports) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && it->second.value > 0) {
        rates[run.benchmark_name()] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(reports);
  }
  std::map<std::string, double> rates;
};

}  // namespace bench
