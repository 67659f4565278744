// The SQLite layer the registry store and the handheld image share: failures
// come out as SqlError and a transaction left uncommitted is undone; the
// registry store turns those failures into its answers.

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
