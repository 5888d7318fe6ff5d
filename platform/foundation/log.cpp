#include "platform/foundation/log.hpp"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex& logMutex() {
  static std::mutex mutex;
  return mutex;
}

LogCapture* activeCapture = nullptr;

}  // namespace

void NSLog(const std::string& message) {
  std::lock_guard<std::mutex> guard(logMutex());
  if (activeCapture != nullptr) {
    activeCapture->lines_.push_back(message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
}

LogCapture::LogCapture() {
  std::lock_guard<std::mutex> guard(logMutex());
  previous_ = activeCapture;
  activeCapture = this;
}

LogCapture::~LogCapture() {
  std::lock_guard<std::mutex> guard(logMutex());
  activeCapture = previous_;
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> guard(logMutex());
  return lines_;
}

}  // namespace platform
