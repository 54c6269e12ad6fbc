// Runs a fuzz target without libFuzzer, under ctest in every build: each seed of its corpus,
// then inputs made from the seeds by random cuts, splices and stray bytes (the same ones every
// run). A target that finds a fault aborts, which fails the test.
//   replay CORPUS_FOLDER [COUNT]
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Mutated(const std::vector<Bytes>& seeds, std::mt19937& random) {
  Bytes input = seeds[random() % seeds.size()];
  for (int changes = 1 + random() % 8; changes > 0; --changes) {
    const auto at = input.begin() + (input.empty() ? 0 : random() % (input.size() + 1));
    switch (random() % 4) {
      case 0:  // a stray byte
        input.insert(at, static_cast<std::uint8_t>(random()));
        break;
      case 1:  // a cut
        input.erase(at, at + std::min<std::ptrdiff_t>(input.end() - at, random() % 16));
        break;
      case 2: {  // a piece of another seed
        const Bytes& other = seeds[random() % seeds.size()];
        const auto from = other.begin() + (other.empty() ? 0 : random() % other.size());
        input.insert(at, from, from + std::min<std::ptrdiff_t>(other.end() - from, random() % 64));
        break;
      }
      default:  // a repeat, which runs records and lines past their limits
        input.insert(at, input.begin(), at);
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::vector<Bytes> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream file(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  if (seeds.empty()) return 2;
  for (const Bytes& seed : seeds) LLVMFuzzerTestOneInput(seed.data(), seed.size());
  std::mt19937 random(7);
  for (long i = 0, count = argc > 2 ? std::atol(argv[2]) : 2000; i < count; ++i) {
    const Bytes input = Mutated(seeds, random);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  return 0;
}
