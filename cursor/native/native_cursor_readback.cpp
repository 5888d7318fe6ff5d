#include "cursor/native/native_cursor_readback.hpp"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/weak_block.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {

std::string shortestDecimal(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  std::string text(buffer, end);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string cursorGeometryText(const platform::NSCursor& cursor) {
  const platform::CGSize size = cursor.image() ? cursor.image()->size() : platform::CGSizeZero;
  const platform::CGPoint hotspot = cursor.hotSpot();
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
  // "literal" + std::string at -O3.
  std::string text = "(";
  text += shortestDecimal(size.width);
  text += ", ";
  text += shortestDecimal(size.height);
  text += ")/(";
  text += shortestDecimal(hotspot.x);
  text += ", ";
  text += shortestDecimal(hotspot.y);
  text += ')';
  return text;
}

NativeCursorReadbackSource::NativeCursorReadbackSource()
    : reader_(NativeCursorImageReader::make()),
      seed_(platform::dlsym<platform::CGSCurrentCursorSeedFn>(platform::RTLD_DEFAULT, "CGSCurrentCursorSeed")) {}

NativeCursorReadbackSource::Reading NativeCursorReadbackSource::read() {
  Reading reading;
  if (seed_) reading.before = (*seed_)();
  const auto appkit = platform::NSCursor::currentSystemCursor();
  const auto direct = reader_ ? reader_->copyCurrent() : NativeCursorImageReader::Result::unavailable();
  if (seed_) reading.after = (*seed_)();
  using Kind = NativeCursorImageReader::Result::Kind;
  switch (direct.kind) {
    case Kind::animated:
      reading.directGeometry = "animated";
      break;
    case Kind::unavailable:
      reading.directGeometry = "unavailable";
      break;
    case Kind::cursor:
      reading.directGeometry = cursorGeometryText(*direct.cursor);
      break;
  }
  reading.appkitGeometry = appkit ? cursorGeometryText(*appkit) : "unavailable";
  return reading;
}

std::shared_ptr<NativeCursorReadbackRecorder> NativeCursorReadbackRecorder::make(std::shared_ptr<CursorTrace> trace,
                                                                                 Read read) {
  if (!trace) throw std::invalid_argument("NativeCursorReadbackRecorder::make: no trace");
  return std::shared_ptr<NativeCursorReadbackRecorder>(new NativeCursorReadbackRecorder(std::move(trace), std::move(read)));
}

NativeCursorReadbackRecorder::NativeCursorReadbackRecorder(std::shared_ptr<CursorTrace> trace, Read read)
    : queue_(platform::DispatchQueue::make("mirt.vurle.cursor-readback", platform::QoS::utility)),
      trace_(std::move(trace)),
      read_(std::move(read)) {}

void NativeCursorReadbackRecorder::request(std::optional<int32_t> seed, bool overlay, const std::string& blocked) {
  // The trace's lock is never taken while the recorder's is held.
  const auto status = trace_->status();
  if (!status.enabled) return;
  bool wasRunning = false;
  {
    std::lock_guard<platform::NSLock> guard(lock_);
    if (lastSession_ == status.session && lastSeed_ == seed) return;  // one read-back per session and seed
    lastSession_ = status.session;
    lastSeed_ = seed;
    pending_ = Request{status.session, seed, overlay, blocked, platform::systemUptime()};
    wasRunning = running_;
    running_ = true;
  }
  if (!wasRunning) {
    queue_->async(platform::weakBlock(shared_from_this(), [](NativeCursorReadbackRecorder& self) { self.drain(); }));
  }
}

void NativeCursorReadbackRecorder::drain() {
  std::unique_lock<platform::NSLock> guard(lock_);
  auto request = std::exchange(pending_, std::nullopt);
  while (request) {
    guard.unlock();
    const auto status = trace_->status();
    if (status.enabled && status.session == request->session) {
      const double t0 = platform::systemUptime();
      const auto reading = read_ ? read_() : NativeCursorReadbackSource::Reading{};
      const double t1 = platform::systemUptime();
      const std::string detail = "appkit=" + reading.appkitGeometry + ";direct=" + reading.directGeometry +
                                 ";overlay=" + (request->overlay ? "true" : "false") + ";blocked=" +
                                 request->blocked + ";async=true;queue-ms=" +
                                 shortestDecimal((t0 - request->requestedAt) * 1000);
      trace_->record("native-selection-readback", {.seed = request->seed,
                                                    .value = (t1 - t0) * 1000,
                                                    .detail = detail,
                                                    .seedBefore = reading.before,
                                                    .seedAfter = reading.after,
                                                    .session = request->session});
    }
    guard.lock();
    request = std::exchange(pending_, std::nullopt);
  }
  running_ = false;
}

}  // namespace vurle
