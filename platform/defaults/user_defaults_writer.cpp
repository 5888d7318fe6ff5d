// A second process for the defaults tests: sets `count` keys "<prefix><n>"
// in one domain, one save each, starting when a byte arrives on standard
// input so that two of these run their saves side by side.
//   user_defaults_writer <folder> <domain> <prefix> <count>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/defaults/user_defaults.hpp"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: user_defaults_writer <folder> <domain> <prefix> <count>\n";
    return 2;
  }
  auto defaults = platform::NSUserDefaults::make(argv[2], argv[1]);
  const std::string prefix = argv[3];
  const int count = std::atoi(argv[4]);
  char go;
  if (::read(STDIN_FILENO, &go, 1) != 1) return 3;
  for (int n = 0; n < count; ++n) defaults->setObject(n, prefix + std::to_string(n));
  // Every key of this process is still there at its end.
  for (int n = 0; n < count; ++n) {
    if (defaults->objectForKey(prefix + std::to_string(n)) != platform::PropertyListValue(n)) return 4;
  }
  return 0;
}
