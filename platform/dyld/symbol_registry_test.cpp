#include "platform/dyld/symbol_registry.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

using AddFn = int(int, int);

class SymbolRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    auto& registry = SymbolRegistry::shared();
    registry.remove("TestAdd");
    registry.remove("TestFrameworkAdd");
    registry.removeImage("/Test/Framework");
  }
};

TEST_F(SymbolRegistryTest, DefaultScopeFindsRegisteredAndRemovedNamesVanish) {
  auto& registry = SymbolRegistry::shared();
  registry.add<AddFn>("TestAdd", [](int a, int b) { return a + b; });
  auto add = dlsym<AddFn>(RTLD_DEFAULT, "TestAdd");
  ASSERT_TRUE(add.has_value());
  EXPECT_EQ((*add)(2, 3), 5);

  registry.remove("TestAdd");
  EXPECT_FALSE(dlsym<AddFn>(RTLD_DEFAULT, "TestAdd").has_value());
  // A function resolved earlier stays usable: callers keep what they found.
  EXPECT_EQ((*add)(1, 1), 2);
}

TEST_F(SymbolRegistryTest, WrongSignatureIsAbsent) {
  SymbolRegistry::shared().add<AddFn>("TestAdd", [](int a, int b) { return a + b; });
  EXPECT_FALSE(dlsym<int(int)>(RTLD_DEFAULT, "TestAdd").has_value());
}

TEST_F(SymbolRegistryTest, FrameworkHandlesSearchOnlyTheirImage) {
  auto& registry = SymbolRegistry::shared();
  EXPECT_EQ(dlopen("/Test/Framework", RTLD_NOW), nullptr);

  registry.add<AddFn>("TestFrameworkAdd", [](int a, int b) { return a * b; }, "/Test/Framework");
  registry.add<AddFn>("TestAdd", [](int a, int b) { return a + b; });
  DLHandle handle = dlopen("/Test/Framework", RTLD_NOW);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(dlopen("/Test/Framework", RTLD_NOW), handle);
  ASSERT_TRUE(dlsym<AddFn>(handle, "TestFrameworkAdd").has_value());
  EXPECT_FALSE(dlsym<AddFn>(handle, "TestAdd").has_value());
  // The default scope sees every image of the process.
  EXPECT_TRUE(dlsym<AddFn>(RTLD_DEFAULT, "TestFrameworkAdd").has_value());

  registry.removeImage("/Test/Framework");
  EXPECT_EQ(dlopen("/Test/Framework", RTLD_NOW), nullptr);
  EXPECT_FALSE(dlsym<AddFn>(RTLD_DEFAULT, "TestFrameworkAdd").has_value());
}

TEST_F(SymbolRegistryTest, CountsLookupsByName) {
  auto& registry = SymbolRegistry::shared();
  const int before = registry.lookupCount("TestAdd");
  dlsym<AddFn>(RTLD_DEFAULT, "TestAdd");
  dlsym<AddFn>(RTLD_DEFAULT, "TestAdd");
  EXPECT_EQ(registry.lookupCount("TestAdd"), before + 2);
}

}  // namespace
}  // namespace platform
