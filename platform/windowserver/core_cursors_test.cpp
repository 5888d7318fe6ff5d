#include "platform/windowserver/core_cursors.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class CoreCursorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  struct Read {
    CGError error;
    CGImageArrayRef images;
    CGSize size;
    CGPoint hotSpot;
    int64_t frames;
    double duration;
  };

  static Read core(int32_t id,
                   CGSConnectionID connection = WindowServer::shared().mainConnectionID()) {
    auto copy = dlsym<CoreCursorCopyImagesFn>(RTLD_DEFAULT, "CoreCursorCopyImages");
    EXPECT_TRUE(copy.has_value());
    Read r{};
    r.error = (*copy)(connection, id, &r.images, &r.size, &r.hotSpot, &r.frames, &r.duration);
    return r;
  }

  static Read registered(const char* name) {
    auto copy =
        dlsym<CGSCopyRegisteredCursorImagesFn>(RTLD_DEFAULT, "CGSCopyRegisteredCursorImages");
    EXPECT_TRUE(copy.has_value());
    Read r{};
    r.error = (*copy)(WindowServer::shared().mainConnectionID(), name, &r.size, &r.hotSpot,
                      &r.frames, &r.duration, &r.images);
    return r;
  }
};

TEST_F(CoreCursorsTest, DefaultAnimationsAreStripsOfEqualFramesAtTwoScales) {
  std::vector<Read> reads;
  for (int32_t id : {4, 14, 15, 16}) reads.push_back(core(id));
  reads.push_back(registered(kWaitCursorName));
  for (const auto& r : reads) {
    ASSERT_EQ(r.error, kCGErrorSuccess);
    EXPECT_GE(r.frames, 2);
    EXPECT_GT(r.duration, 0);
    ASSERT_NE(r.images, nullptr);
    ASSERT_EQ(r.images->size(), 2u);
    for (size_t scale : {1u, 2u}) {
      const auto& strip = (*r.images)[scale - 1];
      EXPECT_EQ(CGImageGetWidth(strip), size_t(std::lround(r.size.width * double(scale))));
      EXPECT_EQ(CGImageGetHeight(strip),
                size_t(r.frames) * size_t(std::lround(r.size.height * double(scale))));
    }
  }
}

TEST_F(CoreCursorsTest, FramesAndHeightsAreSettableAndFailuresLeaveOutputsAlone) {
  auto& cursors = CoreCursors::shared();
  auto tall = CoreCursors::animation(14, 120, 20);
  ASSERT_TRUE(tall.has_value());
  cursors.setCoreCursor(14, tall);
  const Read r = core(14);
  EXPECT_EQ(r.frames, 120);
  EXPECT_EQ(r.size.height, 20);
  EXPECT_EQ(CGImageGetHeight((*r.images)[1]), 120u * 40u);
  EXPECT_FALSE(CoreCursors::animation(14, 0, 20).has_value());
  EXPECT_FALSE(CoreCursors::animation(7, 10, 20).has_value());

  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::function<Read()> read;
  } cases[] = {
      {"unknown id", [] {}, [] { return core(5); }},
      {"no connection", [] {}, [] { return core(4, 0); }},
      {"removed", [&] { cursors.setCoreCursor(4, std::nullopt); }, [] { return core(4); }},
      {"unknown name", [] {}, [] { return registered("com.example.none"); }},
      {"error", [&] { cursors.setCopyError(kCGErrorFailure); },
       [] { return registered(kWaitCursorName); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    const Read failed = c.read();
    EXPECT_NE(failed.error, kCGErrorSuccess);
    EXPECT_EQ(failed.images, nullptr);
    EXPECT_EQ(failed.frames, 0);
  }
  resetProcessState();
  EXPECT_EQ(core(4).error, kCGErrorSuccess);
  EXPECT_NE(core(14).frames, 120);  // the default again
}

}  // namespace
}  // namespace platform
