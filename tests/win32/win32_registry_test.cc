#include "platform/win32/win32_registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "win32_test_support.h"

namespace hhsync {
namespace {

class Win32RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { registry_.Delete(RegRoot::kCurrentUser, path_, std::nullopt); }

  Win32Registry registry_;
  const std::string path_ = win32_test::UniqueKeyPath("registry");
};

TEST_F(Win32RegistryTest, KeysAndValuesLiveInTheSystemRegistry) {
  EXPECT_FALSE(registry_.KeyExists(RegRoot::kCurrentUser, path_));
  EXPECT_FALSE(registry_.SetValue(RegRoot::kCurrentUser, path_, "", RegValue::String("x")))
      << "a value needs its key";
  ASSERT_TRUE(registry_.CreateKey(RegRoot::kCurrentUser, path_ + "\\Sub\\Deeper"));
  EXPECT_TRUE(registry_.KeyExists(RegRoot::kCurrentUser, path_ + "\\Sub"));

  ASSERT_TRUE(registry_.SetValue(RegRoot::kCurrentUser, path_ + "\\Sub", "",
                                 RegValue::String("caf\xe9 text")));
  ASSERT_TRUE(
      registry_.SetValue(RegRoot::kCurrentUser, path_ + "\\Sub", "lst", RegValue::Dword(1234567)));

  // What another program sees through the system's own calls.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + "\\Sub").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  char text[64] = {};
  DWORD type = 0, size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(text, "caf\xe9 text");
  DWORD number = 0;
  size = sizeof number;
  ASSERT_EQ(RegQueryValueExA(key, "lst", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 1234567u);
  RegCloseKey(key);

  // Read back, with the path in another case and with forward slashes.
  std::string upper = path_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto text_value = registry_.Query(RegRoot::kCurrentUser, upper + "/SUB", "");
  ASSERT_TRUE(text_value.has_value());
  EXPECT_EQ(text_value->type, RegType::kString);
  EXPECT_EQ(text_value->data, "caf\xe9 text");
  auto dword_value = registry_.Query(RegRoot::kCurrentUser, path_ + "\\Sub", "LST");
  ASSERT_TRUE(dword_value.has_value());
  EXPECT_EQ(dword_value->AsDword(), 1234567u);
  EXPECT_FALSE(registry_.Query(RegRoot::kCurrentUser, path_ + "\\Sub", "missing").has_value());
  EXPECT_FALSE(registry_.Query(RegRoot::kCurrentUser, path_ + "\\Nowhere", "").has_value());
}

TEST_F(Win32RegistryTest, ListsAKeyTreeAndDeletesValuesAndKeys) {
  ASSERT_TRUE(registry_.CreateKey(RegRoot::kCurrentUser, path_ + "\\b"));
  ASSERT_TRUE(registry_.CreateKey(RegRoot::kCurrentUser, path_ + "\\a\\inner"));
  ASSERT_TRUE(registry_.SetValue(RegRoot::kCurrentUser, path_, "top", RegValue::String("1")));
  ASSERT_TRUE(registry_.SetValue(RegRoot::kCurrentUser, path_ + "\\b", "", RegValue::String("2")));
  ASSERT_TRUE(
      registry_.SetValue(RegRoot::kCurrentUser, path_ + "\\a\\inner", "n", RegValue::Dword(3)));

  std::vector<RegEntry> all = registry_.List(RegRoot::kCurrentUser, path_);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].path, path_);
  EXPECT_EQ(all[0].name, "top");
  EXPECT_EQ(all[1].path, path_ + "\\a\\inner");
  EXPECT_EQ(all[1].value.AsDword(), 3u);
  EXPECT_EQ(all[2].path, path_ + "\\b");
  EXPECT_EQ(all[2].value.data, "2");

  EXPECT_TRUE(registry_.Delete(RegRoot::kCurrentUser, path_, std::string_view("top")));
  EXPECT_FALSE(registry_.Delete(RegRoot::kCurrentUser, path_, std::string_view("top")));
  EXPECT_TRUE(registry_.Delete(RegRoot::kCurrentUser, path_ + "\\a", std::nullopt));
  EXPECT_FALSE(registry_.KeyExists(RegRoot::kCurrentUser, path_ + "\\a\\inner"));
  EXPECT_TRUE(registry_.KeyExists(RegRoot::kCurrentUser, path_ + "\\b"));
  EXPECT_FALSE(registry_.Delete(RegRoot::kCurrentUser, "", std::nullopt)) << "a root stays";
}

}  // namespace
}  // namespace hhsync
