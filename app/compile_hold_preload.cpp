// Test support, never linked into the program: the SIGTERM test preloads it
// into vurle (LD_PRELOAD) so that a stop is known to come while the renderer
// compiles its kernels, with no race against the driver's speed. The
// OpenCL compile the renderer asks for never ends: once it has begun, the
// file named by VURLE_TEST_COMPILE_HELD is made. From then on, an exit
// through exit(), as a return from main takes, makes the file named by
// VURLE_TEST_EXITED before anything else at exit runs (the scheduler then
// waits for its workers, this one among them, for good); std::_Exit, the
// quick end, skips it.
//
// The OpenCL header is not at hand here; these are its types (cl_int,
// cl_uint and pointers) and the call never returns anyway.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

void makeFileNamedBy(const char* variable) {
  const char* path = std::getenv(variable);
  if (path == nullptr) return;
  const int file = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (file >= 0) ::close(file);
}

}  // namespace

extern "C" std::int32_t clBuildProgram(void*, std::uint32_t, const void*, const char*, void (*)(void*, void*),
                                       void*) {
  // Registered after everything the program registered at its start, so it
  // runs first at exit.
  std::atexit([] { makeFileNamedBy("VURLE_TEST_EXITED"); });
  makeFileNamedBy("VURLE_TEST_COMPILE_HELD");
  for (;;) ::pause();
}
