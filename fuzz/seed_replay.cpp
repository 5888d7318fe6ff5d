// The main of a fuzz target outside the fuzz build: it runs the target's
// entry point once on every file of the folders it is given (a file given
// itself is run alone), in name order, as libFuzzer runs a seed. The
// sanitizer build registers one test per target over its seed folder, so a
// seed that stops passing fails the tests. A broken property or a sanitizer
// report ends the process; the seed's path is printed before it runs, so
// the output names the one at fault. A path that is missing or holds no
// file fails: a seed folder that went astray must not pass unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Defined only by the targets that need it; null otherwise.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The path's files: itself when it is one, else the files under it; none
// when it cannot be read.
std::vector<fs::path> seedsAt(const fs::path& path) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) return {path};
  std::vector<fs::path> seeds;
  for (fs::recursive_directory_iterator at(path, error), end; !error && at != end; at.increment(error)) {
    if (at->is_regular_file(error)) seeds.push_back(at->path());
  }
  if (error) return {};
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

// The seed's bytes in a buffer of exactly their size, as libFuzzer passes
// them, so that the sanitizer catches a read past the end.
bool replay(const fs::path& seed) {
  std::error_code error;
  const auto size = static_cast<size_t>(fs::file_size(seed, error));
  if (error) return false;
  const auto data = std::make_unique<uint8_t[]>(size);
  FILE* file = std::fopen(seed.c_str(), "rb");
  if (file == nullptr) return false;
  const bool read = std::fread(data.get(), 1, size, file) == size;
  std::fclose(file);
  if (!read) return false;
  LLVMFuzzerTestOneInput(data.get(), size);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SEED_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const auto seeds = seedsAt(argv[i]);
    if (seeds.empty()) {
      std::fprintf(stderr, "replay: no seed at %s\n", argv[i]);
      return 1;
    }
    for (const auto& seed : seeds) {
      std::fprintf(stderr, "replay: %s\n", seed.c_str());
      if (!replay(seed)) {
        std::fprintf(stderr, "replay: cannot read %s\n", seed.c_str());
        return 1;
      }
      ++replayed;
    }
  }
  std::fprintf(stderr, "replay: %zu seeds passed\n", replayed);
  return 0;
}
