// What the check of a finished output costs: the expectation read from the source's probe and
// the output opened and checked, as the batch does once per converted file.
//   outputcheck_bench SOURCE OUTPUT [RUNS]
// Prints the median time per file in milliseconds and the check's verdict; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/outputcheck.h"
#include "batch/sourcefacts.h"
#include "media/avprobe.h"
#include "media/ffloader.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: outputcheck_bench SOURCE OUTPUT [RUNS]\n");
    return 2;
  }
  const std::string source = argv[1], output = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 21;
  if (!media::FFLoader().Load(media::EngineLibraries)) {
    std::fprintf(stderr, "outputcheck_bench: %s\n", media::FFLoader().LastErrMsg().c_str());
    return 1;
  }
  media::TAVProbe probe;
  if (!probe.LoadFile(source)) {
    std::fprintf(stderr, "outputcheck_bench: %s\n", probe.LastErrMsg().c_str());
    return 1;
  }
  // The source's facts are at hand when the batch takes its expectation (probed when the file
  // was added, or at Start): only the expectation and the output's opening and check count here.
  const batch::TSourceFacts facts = batch::FactsOf(probe, {});
  std::vector<double> ms;
  std::string problem;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const batch::TOutputExpectation expected = batch::ExpectedOutput(facts, true, true, -1, 0);
    problem = batch::CheckOutput(output, expected).Problem;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.2f ms per file (median of %d); verdict: %s\n", ms[ms.size() / 2], runs,
              problem.empty() ? "as asked" : problem.c_str());
  return 0;
}
