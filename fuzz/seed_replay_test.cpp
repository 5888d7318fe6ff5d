// The target the seed replay's own test runs: a seed whose first byte is
// '!' breaks its property, as a fuzz target stops on one; any other passes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == '!') {
    std::fprintf(stderr, "property broken: the seed starts with '!'\n");
    std::abort();
  }
  return 0;
}
