// A long shift at the bench in a minute: 1000 uploads and 200 script playbacks in one process
// against the simulated device that answers at once, each with a fault drawn at random. Each run
// must end as its fault implies, with the log's closing lines and, when complete, the image in
// the device's memory; across the runs the process's descriptors, threads and resident memory
// must stay level.
//
//   soak [--seed N] [--run K]   K: 0-999 are the uploads, 1000-1199 the playbacks
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "doubles/temp_folder.h"
#include "soak_run.h"

namespace kelvo::soak {
namespace {

constexpr int kUploads = 1000;
constexpr int kPlaybacks = 200;
constexpr int kCompared = 100;  // runs averaged at each end to see whether the process grows

struct Usage {
  std::size_t descriptors = 0, threads = 0, resident_kib = 0;
};

std::size_t Entries(const char* folder) {
  const auto it = std::filesystem::directory_iterator(folder);
  return static_cast<std::size_t>(std::distance(begin(it), end(it)));
}

Usage Measure() {
  Usage usage;
  usage.descriptors = Entries("/proc/self/fd");
  usage.threads = Entries("/proc/self/task");
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  usage.resident_kib = resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) / 1024;
  return usage;
}

Run OneRun(std::uint64_t seed, int index, const std::filesystem::path& folder) {
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                         static_cast<std::uint32_t>(index)};
  Random random(sequence);
  Run run;
  run.index = index;
  run.fault = static_cast<Fault>(Pick(random, 0, kFaultCount - 1));
  if (index < kUploads)
    Upload(random, run, folder);
  else
    Playback(random, run, folder);
  return run;
}

void PrintTable(const char* title, const std::map<std::pair<int, int>, int>& counts) {
  std::printf("\n%-16s %9s %9s %9s\n", title, kOutcomeNames[0], kOutcomeNames[1], kOutcomeNames[2]);
  for (int f = 0; f < kFaultCount; ++f) {
    std::printf("%-16s", kFaultNames[f]);
    for (int o = 0; o < 3; ++o) {
      const auto it = counts.find({f, o});
      std::printf(" %9d", it == counts.end() ? 0 : it->second);
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace kelvo::soak

int main(int argc, char** argv) {
  using namespace kelvo::soak;
  std::uint64_t seed = std::random_device{}();
  std::optional<int> only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seed") seed = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--run") only = std::atoi(argv[i + 1]);
  }
  std::printf("soak: seed %llu (one run again: --seed %llu --run K)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  kelvo::testing::TempFolder folder("kelvo-soak");

  std::map<std::pair<int, int>, int> uploads, playbacks;
  std::vector<Usage> usage;
  int failed = 0;
  const int first = only.value_or(0), last = only ? *only + 1 : kUploads + kPlaybacks;
  for (int index = first; index < last; ++index) {
    const Run run = OneRun(seed, index, folder.Path());
    (index < kUploads ? uploads : playbacks)[{run.fault, static_cast<int>(run.outcome)}]++;
    usage.push_back(Measure());
    if (run.problems.empty()) continue;
    ++failed;
    std::printf("run %d (%s, %s): FAILED:", index, index < kUploads ? "upload" : "playback",
                kFaultNames[run.fault]);
    for (const std::string& problem : run.problems) std::printf(" %s;", problem.c_str());
    std::printf("\n");
  }
  PrintTable("upload fault", uploads);
  PrintTable("playback fault", playbacks);

  bool level = true;
  if (usage.size() >= 2 * kCompared) {
    const auto average = [&](std::size_t from, auto field) {
      double sum = 0;
      for (std::size_t i = from; i < from + kCompared; ++i)
        sum += static_cast<double>(usage[i].*field);
      return sum / kCompared;
    };
    const std::size_t tail = usage.size() - kCompared;
    const double fds[] = {average(0, &Usage::descriptors), average(tail, &Usage::descriptors)};
    const double threads[] = {average(0, &Usage::threads), average(tail, &Usage::threads)};
    const double kib[] = {average(0, &Usage::resident_kib), average(tail, &Usage::resident_kib)};
    std::printf(
        "\nfirst vs last %d runs: descriptors %.1f / %.1f, threads %.1f / %.1f, "
        "resident memory %.0f / %.0f KiB\n",
        kCompared, fds[0], fds[1], threads[0], threads[1], kib[0], kib[1]);
    // Memory settles as each new thread's allocator pool fills, by about half a MiB; a leak of
    // a KiB a run would add a MiB over the thousand runs between the two ends.
    level = fds[1] <= fds[0] && threads[1] <= threads[0] && kib[1] <= kib[0] + 1024;
    if (!level) std::printf("FAILED: the process grows from run to run\n");
  }
  std::printf("%d of %d runs failed\n", failed, last - first);
  return failed == 0 && level ? 0 : 1;
}