#include "db/IBSQL.h"

#include <gtest/gtest.h>

#include "LayerTest.h"

namespace korvane::testing {
namespace {

class StatementTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    Prepare(database_, Path());
    database_.Open();
    transaction_.StartTransaction();
  }

  // A statement on the test's connection and transaction.
  std::unique_ptr<TIBSQL> Statement(const std::string& text) {
    auto sql = std::make_unique<TIBSQL>(&database_);
    sql->SetTransaction(&transaction_);
    sql->AddLine(text);
    return sql;
  }

  void Insert(const std::string& column, const std::string& value, int id = 1) {
    auto insert = Statement("INSERT INTO T (ID, " + column + ") VALUES (:ID, :VALUE)");
    insert->ParamByName("ID").SetAsString(std::to_string(id));
    insert->ParamByName("value").SetAsString(value);
    insert->ExecQuery();
  }

  TIBDatabase database_;
  TIBTransaction transaction_{&database_};
};

TEST_F(StatementTest, TextRoundTripsInWindows1252) {
  const std::string accented = "àè€ Perché";
  Insert("V", accented, 1);
  Insert("C", "é€", 2);
  auto select = Statement("SELECT V, C FROM T ORDER BY ID");
  select->ExecQuery();
  EXPECT_EQ(select->FieldByName("v").AsString(), accented);
  select->Next();
  EXPECT_EQ(select->Fields(1).AsString(), "é€  ");
  transaction_.Commit();
  database_.Close();
  // The bytes stored are Windows-1252 ones: isql reads them back as such.
  EXPECT_EQ(QueryColumn(Path(), "SELECT '[' || V || ']' FROM T WHERE ID = 1"),
            std::vector<std::string>{"[" + accented + "]"});
}

TEST_F(StatementTest, TextLengthIsCountedInDatabaseBytes) {
  Insert("V", std::string(64, 'x'), 1);
  std::string euros;  // 64 bytes in the database, 192 in UTF-8
  for (int i = 0; i < 64; ++i) euros += "€";
  Insert("V", euros, 2);
  auto insert = Statement("INSERT INTO T (V, C) VALUES (:V, :C)");
  EXPECT_CLIENT_ERROR(insert->ParamByName("V").SetAsString(std::string(65, 'x')), 119,
                      "Trying to store a string of length 65 into a field that can only contain 64");
  EXPECT_CLIENT_ERROR(insert->ParamByName("C").SetAsString("abcdè"), 119,
                      "Trying to store a string of length 5 into a field that can only contain 4");
  EXPECT_TRUE(insert->ParamByName("V").IsNull());  // a refused value leaves nothing behind
  auto count = Statement("SELECT COUNT(*), MIN(CHAR_LENGTH(V)) FROM T");
  count->ExecQuery();
  EXPECT_EQ(count->Fields(0).AsInteger(), 2);
  EXPECT_EQ(count->Fields(1).AsInteger(), 64);
}

TEST_F(StatementTest, CharColumnsAreCutToTheirCharactersWhateverTheCharacterSet) {
  Statement("INSERT INTO WIDE (U, G, S, K) VALUES ('ab', 'ab', 'ab', 'ab')")->ExecQuery();
  auto select = Statement("SELECT U, G, S, K FROM WIDE");
  select->ExecQuery();
  for (int i = 0; i < select->FieldCount(); ++i) {
    EXPECT_EQ(select->Fields(i).AsString(), "ab") << select->Fields(i).Name();
  }
}

TEST_F(StatementTest, EmptyTextIsEmptyForTextAndNullOtherwise) {
  auto insert = Statement("INSERT INTO T (ID, V, N) VALUES (1, :V, :N)");
  insert->ParamByName("V").SetAsString("");
  insert->ParamByName("N").SetAsString("");
  insert->ExecQuery();
  auto select = Statement("SELECT V, N, C FROM T");
  select->ExecQuery();
  EXPECT_FALSE(select->FieldByName("V").IsNull());
  EXPECT_EQ(select->FieldByName("V").AsString(), "");
  EXPECT_TRUE(select->FieldByName("N").IsNull());
  EXPECT_EQ(select->FieldByName("N").AsInteger(), 0);
  EXPECT_TRUE(select->FieldByName("C").IsNull());  // never set: NULL
}

TEST_F(StatementTest, IntegerConversions) {
  Insert("C", "7", 1);
  Insert("V", "  -42", 2);
  Insert("N", "12", 3);
  auto select = Statement("SELECT C, V, N, CAST(N AS NUMERIC(9,2)) / 8 AS Q, 3000000000 AS BIG FROM T ORDER BY ID");
  select->ExecQuery();
  EXPECT_EQ(select->FieldByName("C").AsString(), "7   ");
  EXPECT_CLIENT_ERROR(select->FieldByName("C").AsInteger(), 38, "Invalid data conversion");
  EXPECT_CLIENT_ERROR(select->FieldByName("BIG").AsInteger(), 38, "Invalid data conversion");
  select->Next();
  EXPECT_EQ(select->FieldByName("V").AsInteger(), -42);
  select->Next();
  EXPECT_EQ(select->FieldByName("N").AsInteger(), 12);
  EXPECT_EQ(select->FieldByName("N").AsString(), "12");
  EXPECT_EQ(select->FieldByName("Q").AsString(), "1.5");
  EXPECT_EQ(select->FieldByName("Q").AsInteger(), 1);
}

TEST_F(StatementTest, SettingTheWholeTextSplitsItAndUnprepares) {
  auto select = Statement("SELECT V FROM T");
  select->Prepare();
  select->SetSQLText("SELECT W\r\nFROM T\nWHERE ID = :ID\n");
  EXPECT_FALSE(select->Prepared());
  EXPECT_EQ(select->SQL(), (std::vector<std::string>{"SELECT W", "FROM T", "WHERE ID = :ID"}));
  select->Prepare();
  EXPECT_EQ(select->Fields(0).Name(), "W");
  EXPECT_EQ(select->ParamCount(), 1);
}

TEST_F(StatementTest, SameNamedMarkersTakeOneValue) {
  auto insert = Statement("INSERT INTO T (V, W) VALUES (:X, :x)");
  insert->ParamByName("x").SetAsString("both");
  EXPECT_EQ(insert->ParamCount(), 2);
  insert->ExecQuery();
  auto select = Statement("SELECT V, W FROM T");
  select->ExecQuery();
  EXPECT_EQ(select->Fields(0).AsString(), "both");
  EXPECT_EQ(select->Fields(1).AsString(), "both");
}

TEST_F(StatementTest, ProcessedTextAndColumnNames) {
  auto select = Statement("SELECT V AS alias, V, V, 1, 2 FROM T");
  select->AddLine("WHERE V <> ':no' AND ID = :id");
  select->Prepare();
  EXPECT_EQ(select->ProcessedSQL(), "SELECT V AS alias, V, V, 1, 2 FROM T\r\nWHERE V <> ':no' AND ID = ?\r\n");
  EXPECT_EQ(select->SQLType(), TIBSQLTypes::SQLSelect);
  std::vector<std::string> names;
  for (int i = 0; i < select->FieldCount(); ++i) names.push_back(select->Fields(i).Name());
  EXPECT_EQ(names, (std::vector<std::string>{"ALIAS", "V", "V1", "CONSTANT", "CONSTANT1"}));
  EXPECT_EQ(select->ParamByName(" Id ").Name(), "ID");
  EXPECT_CLIENT_ERROR(select->FieldByName("NOPE"), 46, "Field \"NOPE\" not found");
  EXPECT_CLIENT_ERROR(select->Fields(5), 46, "Field \"5\" not found");
  EXPECT_CLIENT_ERROR(select->ParamByName("V"), 46, "Field \"V\" not found");
}

TEST_F(StatementTest, RecordCountAndEndOfRows) {
  auto empty = Statement("SELECT K FROM EMPTY_T");
  empty->ExecQuery();
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_TRUE(empty->Eof());
  empty->Next();  // stays at the end
  EXPECT_EQ(empty->RecordCount(), 0);

  Insert("V", "a", 1);
  Insert("V", "b", 2);
  auto select = Statement("SELECT V FROM T ORDER BY ID");
  select->ExecQuery();
  EXPECT_EQ(select->RecordCount(), 1);
  EXPECT_FALSE(select->Eof());
  select->Next();
  select->Next();
  EXPECT_TRUE(select->Eof());
  EXPECT_EQ(select->RecordCount(), 2);
  EXPECT_CLIENT_ERROR(select->ExecQuery(), 31, "IBSQL Open");
  EXPECT_CLIENT_ERROR(select->Prepare(), 31, "IBSQL Open");
  select->Close();
  EXPECT_CLIENT_ERROR(select->Next(), 32, "IBSQL Closed");
}

TEST_F(StatementTest, CommitClosesCursorsThatRunAgainLater) {
  Insert("V", "kept", 1);
  auto select = Statement("SELECT V FROM T");
  select->ExecQuery();
  transaction_.Commit();
  EXPECT_FALSE(select->Open());
  EXPECT_TRUE(select->Prepared());
  EXPECT_CLIENT_ERROR(select->ExecQuery(), 18, "Transaction is not active");
  transaction_.StartTransaction();
  select->ExecQuery();
  EXPECT_EQ(select->Fields(0).AsString(), "kept");
}

TEST_F(StatementTest, PrepareChecksInOrder) {
  TIBSQL loose;
  loose.AddLine("SELECT 1 FROM RDB$DATABASE");
  EXPECT_CLIENT_ERROR(loose.Prepare(), 24, "Database not assigned");
  TIBDatabase closed;
  loose.SetDatabase(&closed);
  EXPECT_CLIENT_ERROR(loose.Prepare(), 15, "Cannot perform operation -- DB is not open");
  loose.SetDatabase(&database_);
  EXPECT_CLIENT_ERROR(loose.ExecQuery(), 25, "Transaction not assigned");
  TIBTransaction idle(&database_);
  loose.SetTransaction(&idle);
  EXPECT_CLIENT_ERROR(loose.ExecQuery(), 18, "Transaction is not active");
  loose.SetTransaction(&transaction_);
  loose.ClearSQL();
  EXPECT_CLIENT_ERROR(loose.Prepare(), 42, "Empty query");
  loose.AddLine("SELECT 'open FROM T");
  EXPECT_CLIENT_ERROR(loose.Prepare(), 55, "SQL Parse Error:\r\n\r\nEOF in string detected");
  loose.SetParamCheck(false);
  const RaisedError raised = Raised([&] { loose.Prepare(); });
  EXPECT_EQ(raised.kind, "interbase");
  EXPECT_FALSE(loose.Prepared());
}

TEST_F(StatementTest, ServerErrorTextAndCodes) {
  auto select = Statement("SELECT * FROM NOPE");
  const RaisedError raised = Raised([&] { select->Prepare(); });
  EXPECT_EQ(raised.kind, "interbase");
  EXPECT_EQ(raised.message,
            "Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nNOPE\r\n"
            "At line 1, column 15");
  EXPECT_EQ(raised.sqlCode, -204);
  EXPECT_EQ(raised.ibErrorCode, 335544569);  // isc_dsql_error
  EXPECT_FALSE(select->Prepared());
}

TEST_F(StatementTest, ReleasingTheStatementCommitsItsOwnTransaction) {
  {
    TIBSQL insert(&database_);
    TIBTransaction& own =
        insert.OwnTransaction(std::make_unique<TIBTransaction>(&database_, TIBTransactionLevel::ibtrSnapshot));
    EXPECT_EQ(insert.Transaction(), &own);
    own.StartTransaction();
    insert.AddLine("INSERT INTO T (V) VALUES ('released')");
    insert.ExecQuery();
  }
  transaction_.Commit();
  database_.Close();
  EXPECT_EQ(QueryColumn(Path(), "SELECT V FROM T"), std::vector<std::string>{"released"});
}

}  // namespace
}  // namespace korvane::testing
