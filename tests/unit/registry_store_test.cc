// The two registry stores, the stored one and the in-memory fake, follow the
// same rules: the tests of the program run on the fake and the program on
// the store.

#include <gtest/gtest.h>

#include <memory>

#include "platform/fake/memory_registry.h"
#include "platform/sqlite/sqlite_registry.h"

namespace hhsync {
namespace {

class RegistryStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      store_ = std::make_unique<SqliteRegistry>(":memory:");
    } else {
      store_ = std::make_unique<MemoryRegistry>();
    }
  }
  std::unique_ptr<Registry> store_;
};

TEST_P(RegistryStoreTest, KeysValuesCaseRootsAndDeletion) {
  Registry& r = *store_;
  constexpr RegRoot kMachine = RegRoot::kLocalMachine;
  EXPECT_TRUE(r.KeyExists(kMachine, "")) << "a root always exists";
  EXPECT_FALSE(r.SetValue(kMachine, "Software\\Acme", "", RegValue::String("x")))
      << "no value without its key";
  ASSERT_TRUE(r.CreateKey(kMachine, "\\Software\\Acme\\News\\"));
  EXPECT_TRUE(r.KeyExists(kMachine, "SOFTWARE/acme")) << "parents made, case and '/' ignored";
  EXPECT_FALSE(r.KeyExists(RegRoot::kCurrentUser, "Software"));
  ASSERT_TRUE(r.SetValue(kMachine, "software\\ACME\\news", "Lst", RegValue::Dword(7)));
  EXPECT_EQ(r.Query(kMachine, "Software\\Acme\\News", "lst")->AsDword(), 7u);
  ASSERT_TRUE(r.SetValue(kMachine, "", "lst", RegValue::Dword(9))) << "values of the root";
  EXPECT_EQ(r.Query(kMachine, "", "LST")->AsDword(), 9u);

  auto listed = r.List(kMachine, "software\\acme");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].path, "Software\\Acme\\News") << "the case the key was made with";
  EXPECT_EQ(listed[0].name, "Lst");
  EXPECT_EQ(r.List(kMachine, "").size(), 2u);

  EXPECT_TRUE(r.Delete(kMachine, "Software\\Acme\\News", std::string_view("LST")));
  EXPECT_FALSE(r.Query(kMachine, "Software\\Acme\\News", "lst").has_value());
  EXPECT_FALSE(r.Delete(kMachine, "", std::nullopt)) << "a root cannot be deleted";
  EXPECT_TRUE(r.Delete(kMachine, "software", std::nullopt));
  EXPECT_FALSE(r.KeyExists(kMachine, "Software\\Acme\\News")) << "with everything below";
  EXPECT_EQ(r.Query(kMachine, "", "lst")->AsDword(), 9u);

  ASSERT_TRUE(r.CreateKeyWithDefault(kMachine, "Software\\Acme\\tu", RegValue::String("0")));
  EXPECT_TRUE(r.KeyExists(kMachine, "software")) << "parents made with the key";
  EXPECT_EQ(r.Query(kMachine, "software\\acme\\TU", "")->data, "0");
  ASSERT_TRUE(r.CreateKeyWithDefault(kMachine, "Software\\Acme\\tu", RegValue::String("24")));
  EXPECT_EQ(r.Query(kMachine, "Software\\Acme\\tu", "")->data, "24") << "replaced in place";
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistryStoreTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Sqlite" : "Memory";
                         });

}  // namespace
}  // namespace hhsync
