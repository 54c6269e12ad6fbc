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
    const std::size_t at = input.empty() ? 0 : random() % (input.size() + 1);
    switch (random() % 4) {
      case 0:  // a stray byte
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                     static_cast<std::uint8_t>(random()));
        break;
      case 1:  // a cut
        input.erase(input.begin() + static_cast<std::ptrdiff_t>(at),
                    input.begin() +
                        static_cast<std::ptrdiff_t>(std::min(input.size(), at + random() % 16)));
        break;
      case 2: {  // a piece of another seed
        const Bytes& other = seeds[random() % seeds.size()];
        const std::size_t from = other.empty() ? 0 : random() % other.size();
        const std::size_t length = std::min<std::size_t>(other.size() - from, random() % 64);
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), other.begin() + from,
                     other.begin() + static_cast<std::ptrdiff_t>(from + length));
        break;
      }
      default:  // a repeat, which runs records and lines past their limits
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), input.begin(),
                     input.begin() + static_cast<std::ptrdiff_t>(at));
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
  const long count = argc > 2 ? std::atol(argv[2]) : 2000;
  for (long i = 0; i < count; ++i) {
    const Bytes input = Mutated(seeds, random);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  return 0;
}
