// The SQLite layer the registry store and the handheld image share: failures
// come out as SqlError and a transaction left uncommitted is undone; the
// registry store turns those failures into its answers, and keeps the
// registry's rules.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/sqlite/sqlite_registry.h"
#include "platform/sqlite/sqlite_statement.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

class SqliteStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec(db_, "CREATE TABLE t(k TEXT PRIMARY KEY, v BLOB)");
  }
  void TearDown() override { sqlite3_close(db_); }

  int64_t Rows() {
    SqlStatement s(db_, "SELECT count(*) FROM t");
    s.Step();
    return s.Int(0);
  }

  sqlite3* db_ = nullptr;
};

TEST_F(SqliteStoreTest, FailuresAreThrownWithTheirCodeAndUncommittedWorkIsUndone) {
  SqlStatement insert(db_, "INSERT INTO t(k, v) VALUES(?1, ?2)");
  insert.Bind(1, "a").BindBlob(2, std::string_view()).Run();
  EXPECT_EQ(insert.Changes(), 1);
  insert.Reset();
  try {
    insert.Bind(1, "a").BindBlob(2, "x").Run();
    ADD_FAILURE() << "a duplicate key was accepted";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.code() & 0xFF, SQLITE_CONSTRAINT) << e.what();
    EXPECT_FALSE(e.diskFull());
  }
  EXPECT_THROW(SqlStatement(db_, "SELECT nothing FROM nowhere"), SqlError);

  // An empty value is an empty blob, not NULL; text keeps bytes past a zero.
  SqlStatement read(db_, "SELECT v IS NULL, length(v) FROM t WHERE k = 'a'");
  ASSERT_TRUE(read.Step());
  EXPECT_EQ(read.Int(0), 0);
  EXPECT_EQ(read.Int(1), 0);
  insert.Reset();
  insert.Bind(1, std::string_view("b\0c", 3)).BindBlob(2, "\x01\x00\x02").Run();
  SqlStatement key(db_, "SELECT k FROM t WHERE v = x'01'");
  ASSERT_TRUE(key.Step());
  EXPECT_EQ(key.Text(0), std::string("b\0c", 3));

  {
    SqlTransaction transaction(db_);
    Exec(db_, "DELETE FROM t");
    EXPECT_EQ(Rows(), 0);
  }  // ends without Commit
  EXPECT_EQ(Rows(), 2);
  {
    SqlTransaction transaction(db_);
    Exec(db_, "DELETE FROM t WHERE k = 'a'");
    transaction.Commit();
  }
  EXPECT_EQ(Rows(), 1);
}

// Drops a table of the store at path through a connection of its own.
void DropTable(const std::string& path, const char* table) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  Exec(other, (std::string("DROP TABLE ") + table).c_str());
  sqlite3_close(other);
}

// The rules of keys and values; the tests of the program run on the store in
// memory.
TEST(SqliteRegistryTest, KeysValuesCaseRootsAndDeletion) {
  SqliteRegistry store(":memory:");
  Registry& r = store;
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

TEST(SqliteRegistryTest, FailingStatementsAnswerFalseOrNothingAndNeverThrow) {
  test::TempDir dir;
  const std::string path = dir.File("registry.db");
  SqliteRegistry reg(path);
  ASSERT_TRUE(reg.CreateKey(RegRoot::kCurrentUser, "Software\\Co"));
  ASSERT_TRUE(reg.SetValue(RegRoot::kCurrentUser, "Software\\Co", "n", RegValue::Dword(7)));
  ASSERT_TRUE(reg.Query(RegRoot::kCurrentUser, "Software\\Co", "n"));
  EXPECT_EQ(reg.Trouble(), "") << "a missing value is no trouble";
  EXPECT_FALSE(reg.Query(RegRoot::kCurrentUser, "Software\\Co", "absent"));
  EXPECT_EQ(reg.Trouble(), "");

  // Another program breaks the store while it is open: a failed read is
  // told apart from a missing value by the store's trouble.
  DropTable(path, "vals");
  EXPECT_TRUE(reg.KeyExists(RegRoot::kCurrentUser, "software\\co"));
  EXPECT_FALSE(reg.Query(RegRoot::kCurrentUser, "Software\\Co", "n"));
  EXPECT_EQ(reg.Trouble().rfind("the registry store " + path + " failed: no such table", 0), 0u)
      << reg.Trouble();
  EXPECT_TRUE(reg.List(RegRoot::kCurrentUser, "").empty());
  EXPECT_FALSE(reg.SetValue(RegRoot::kCurrentUser, "Software\\Co", "n", RegValue::Dword(8)));
  // Not the count of an earlier statement: nothing was deleted.
  EXPECT_FALSE(reg.Delete(RegRoot::kCurrentUser, "Software\\Co", "n"));

  DropTable(path, "keys");
  EXPECT_FALSE(reg.KeyExists(RegRoot::kCurrentUser, "Software\\Co"));
  EXPECT_FALSE(reg.CreateKey(RegRoot::kCurrentUser, "Software\\Co\\New"));
  EXPECT_FALSE(reg.Delete(RegRoot::kCurrentUser, "Software\\Co", std::nullopt));

  // A store that is no database: opening it fails once, and says why.
  test::WriteFile(dir.File("broken.db"), std::string(4096, 'x'));
  SqliteRegistry broken(dir.File("broken.db"));
  EXPECT_FALSE(broken.Query(RegRoot::kLocalMachine, "Software\\Co", "n"));
  EXPECT_FALSE(broken.SetValue(RegRoot::kLocalMachine, "", "lst", RegValue::Dword(1)));
  EXPECT_NE(broken.Trouble().find("could not be opened: file is not a database"), std::string::npos)
      << broken.Trouble();
}

}  // namespace
}  // namespace hhsync
