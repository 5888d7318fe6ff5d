#include "cursor/native/native_cursor_image_reader.hpp"

#include <cmath>
#include <thread>

#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/native/native_cursor_readback.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "cursor/native/native_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {
namespace {

using platform::CGImageRef;
using platform::CurrentCursor;
using Kind = NativeCursorImageReader::Result::Kind;

CGImageRef imageOf(size_t width, size_t height) {
  auto c = platform::CGBitmapContextCreate(nullptr, width, height, 8, 4 * width,
                                           platform::CGColorSpaceCreateDeviceRGB(),
                                           platform::kCGImageAlphaPremultipliedLast);
  platform::CGContextSetRGBFillColor(c, 0, 0, 0, 1);
  platform::CGContextFillRect(c, platform::CGRectMake(0, 0, double(width), double(height)));
  return platform::CGBitmapContextCreateImage(c);
}

platform::CursorImageSet cursorSet(std::vector<CGImageRef> images, double side, int64_t frames = 1,
                                   platform::CGPoint hotSpot = {4, 4}) {
  return {std::move(images), platform::CGSizeMake(side, side), hotSpot, frames, 0};
}

class ImageReaderTest : public testing::NativeTest {};

TEST_F(ImageReaderTest, FirstReadOpensTheOnlyConnectionEvenAfterAFailure) {
  auto& connections = platform::Connections::shared();
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails);
    const int before = connections.calls("CGSNewConnection");
    if (fails) connections.failNext("CGSNewConnection", platform::kCGErrorFailure);
    auto reader = NativeCursorImageReader::make();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->copyCurrent().kind, fails ? Kind::unavailable : Kind::cursor);
    EXPECT_EQ(reader->copyCurrent().kind, fails ? Kind::unavailable : Kind::cursor);
    EXPECT_EQ(connections.calls("CGSNewConnection"), before + 1);
  }
}

TEST_F(ImageReaderTest, ConcurrentFirstReadsShareOneConnection) {
  auto reader = NativeCursorImageReader::make();
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] { EXPECT_EQ(reader->copyCurrent().kind, Kind::cursor); });
  }
  for (auto& thread : readers) thread.join();
  EXPECT_EQ(platform::Connections::shared().calls("CGSNewConnection"), 1);
  reader.reset();  // its teardown closes the connection
  EXPECT_TRUE(platform::Connections::shared().openConnections().empty());
}

TEST_F(ImageReaderTest, OnlyWellFormedOneFrameCursorsAreRebuilt) {
  const auto small = imageOf(16, 16);
  struct Case {
    const char* name;
    platform::CursorImageSet set;
    Kind kind;
  };
  const std::vector<Case> cases = {
      {"two frames", cursorSet({imageOf(16, 32)}, 16, 2), Kind::animated},
      {"seventeen images", cursorSet(std::vector<CGImageRef>(17, small), 16), Kind::unavailable},
      {"1025 points", cursorSet({small}, 1025), Kind::unavailable},
      {"4097 pixels wide", cursorSet({imageOf(4097, 1)}, 16), Kind::unavailable},
      {"non-finite hot spot", cursorSet({small}, 16, 1, {NAN, 0}), Kind::unavailable},
      {"not an image array", cursorSet({small, nullptr}, 16), Kind::unavailable},
      {"sixteen images", cursorSet(std::vector<CGImageRef>(16, small), 16), Kind::cursor},
  };
  auto reader = NativeCursorImageReader::make();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CurrentCursor::shared().setCursorFromAnotherApplication(c.set);
    EXPECT_EQ(reader->copyCurrent().kind, c.kind);
  }
  platform::CoreCursors::shared().setCopyError(platform::kCGErrorFailure);
  EXPECT_EQ(reader->copyCurrent().kind, Kind::unavailable);
}

TEST_F(ImageReaderTest, ImagesBecomeRenditionsOfOneCursor) {
  const auto cursor = makeNativeCursor({imageOf(16, 16), imageOf(32, 32)}, 1, platform::CGSizeMake(16, 16),
                                       platform::CGPointMake(3, 5));
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->image()->size(), platform::CGSizeMake(16, 16));
  EXPECT_EQ(cursor->hotSpot(), platform::CGPointMake(3, 5));
  const auto reps = cursor->image()->representations();
  ASSERT_EQ(reps.size(), 2u);
  EXPECT_EQ(reps[1]->pixelsWide(), 32);
  EXPECT_EQ(reps[1]->size(), platform::CGSizeMake(16, 16));
  EXPECT_EQ(makeNativeCursor({}, 1, platform::CGSizeMake(16, 16), {}), nullptr);
  EXPECT_EQ(makeNativeCursor({imageOf(16, 16)}, 0, platform::CGSizeMake(16, 16), {}), nullptr);
}

TEST_F(ImageReaderTest, MissingFunctionsLeaveNoReader) {
  for (const char* name : {"CGSNewConnection", "CGSReleaseConnection", "CGSCopyRegisteredCursorImages"}) {
    SCOPED_TRACE(name);
    platform::resetProcessState();
    platform::SymbolRegistry::shared().remove(name);
    EXPECT_EQ(NativeCursorImageReader::make(), nullptr);
    EXPECT_EQ(NativeCursorImageReader::shared(), nullptr);
  }
}

TEST_F(ImageReaderTest, CurrentCursorFallsBackToAppKit) {
  NativeAnimatedCursors::shared();  // read while the window server answers
  const auto beam = platform::NSCursor::IBeamCursor();
  showApplicationCursor(beam);
  auto direct = readCurrentNativeCursor();
  ASSERT_EQ(direct.kind, Kind::cursor);
  EXPECT_EQ(direct.cursor->image()->size(), beam->image()->size());

  platform::CoreCursors::shared().setCopyError(platform::kCGErrorFailure);
  auto appkit = readCurrentNativeCursor();
  ASSERT_EQ(appkit.kind, Kind::cursor);
  EXPECT_EQ(appkit.cursor->hotSpot(), beam->hotSpot());

  // One frame of the busy cursor, as AppKit shows it, is still animated.
  CurrentCursor::shared().setCursorFromAnotherApplication(*platform::CoreCursors::waitAnimation(10, 32));
  EXPECT_EQ(readCurrentNativeCursor().kind, Kind::animated);

  CurrentCursor::shared().setAppKitReadable(false);
  EXPECT_EQ(readCurrentNativeCursor().kind, Kind::unavailable);
}

TEST(ReadbackText, GeometryIsWrittenWithFractions) {
  for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
           {16, "16.0"}, {1.5, "1.5"}, {0.1, "0.1"}, {-4, "-4.0"}, {12.25, "12.25"}}) {
    EXPECT_EQ(shortestDecimal(value), text);
  }
  const auto cursor = makeNativeCursor({imageOf(16, 16)}, 1, platform::CGSizeMake(16, 16), {4, 4.5});
  EXPECT_EQ(cursorGeometryText(*cursor), "(16.0, 16.0)/(4.0, 4.5)");
}

class ReadbackRecorderTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    recorder = NativeCursorReadbackRecorder::make(CursorTrace::shared(), [this] {
      ++reads;
      if (onRead) std::exchange(onRead, nullptr)();
      return NativeCursorReadbackSource::Reading{1, 2, "(1.0, 1.0)/(0.0, 0.0)", "animated"};
    });
  }
  void TearDown() override {
    recorder.reset();
    NativeTest::TearDown();
  }
  std::vector<std::optional<int32_t>> recordedSeeds() {
    std::vector<std::optional<int32_t>> seeds;
    for (const auto& event : events("native-selection-readback")) seeds.push_back(event.seed);
    return seeds;
  }

  int reads = 0;
  std::function<void()> onRead;
  std::shared_ptr<NativeCursorReadbackRecorder> recorder;
};

TEST_F(ReadbackRecorderTest, OneReadPerSessionAndSeed) {
  recorder->request(5, true, "none");
  recorder->request(5, true, "none");
  scope->runUntilIdle();
  recorder->request(6, false, "space-changed");
  scope->runUntilIdle();
  recorder->request(std::nullopt, false, "none");
  scope->runUntilIdle();
  recorder->request(std::nullopt, false, "none");
  scope->runUntilIdle();
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(recordedSeeds(), (std::vector<std::optional<int32_t>>{5, 6, std::nullopt}));

  const auto first = events("native-selection-readback").front();
  EXPECT_EQ(first.detail,
            "appkit=(1.0, 1.0)/(0.0, 0.0);direct=animated;overlay=true;blocked=none;async=true;queue-ms=0.0");
  EXPECT_EQ(first.seedBefore, 1);
  EXPECT_EQ(first.seedAfter, 2);

  // A new session reads the same seed again.
  CursorTrace::shared()->enable(2, false);
  recorder->request(5, true, "none");
  scope->runUntilIdle();
  EXPECT_EQ(reads, 4);
}

TEST_F(ReadbackRecorderTest, RequestsDuringAReadLeaveOneMoreForTheNewest) {
  onRead = [this] {
    recorder->request(2, true, "none");
    recorder->request(3, true, "none");
    recorder->request(4, true, "none");
  };
  recorder->request(1, true, "none");
  scope->runUntilIdle();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(recordedSeeds(), (std::vector<std::optional<int32_t>>{1, 4}));
}

TEST_F(ReadbackRecorderTest, DisabledTraceChangesNothing) {
  recorder->request(5, true, "none");
  scope->runUntilIdle();
  CursorTrace::shared()->disable();
  recorder->request(6, true, "none");
  scope->runUntilIdle();
  CursorTrace::shared()->enable(1, false);
  recorder->request(5, true, "none");  // still the last accepted request
  scope->runUntilIdle();
  EXPECT_EQ(reads, 1);
}

TEST_F(ReadbackRecorderTest, SourceReadsBothCursors) {
  const auto beam = platform::NSCursor::IBeamCursor();
  const int32_t shown = showApplicationCursor(beam);
  NativeCursorReadbackSource source;
  const auto reading = source.read();
  EXPECT_EQ(reading.before, shown);
  EXPECT_EQ(reading.after, shown);
  EXPECT_EQ(reading.appkitGeometry, cursorGeometryText(*beam));
  EXPECT_EQ(reading.directGeometry, cursorGeometryText(*beam));

  CurrentCursor::shared().setAppKitReadable(false);
  CurrentCursor::shared().setCursorFromAnotherApplication(*platform::CoreCursors::waitAnimation(10, 32));
  const auto busy = source.read();
  EXPECT_EQ(busy.appkitGeometry, "unavailable");
  EXPECT_EQ(busy.directGeometry, "animated");
}

}  // namespace
}  // namespace vurle
