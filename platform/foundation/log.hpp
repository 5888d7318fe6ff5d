#pragma once

#include <string>
#include <vector>

namespace platform {

// Writes one line to standard error, as the platform's console log does.
// While a LogCapture is alive the line goes to the capture instead, so tests
// can read what the system reported without scraping stderr.
void NSLog(const std::string& message);

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;

 private:
  friend void NSLog(const std::string& message);
  LogCapture* previous_;
  std::vector<std::string> lines_;
};

}  // namespace platform
