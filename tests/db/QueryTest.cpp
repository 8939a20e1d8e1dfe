#include "db/IBQuery.h"

#include <gtest/gtest.h>

#include "LayerTest.h"

namespace korvane::testing {
namespace {

class QueryTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    RunIsql(Path(), "INSERT INTO T (ID, V, C) VALUES (1, 'uno', 'AB');");
    Prepare(database_, Path());
  }

  TIBDatabase database_;
};

TEST_F(QueryTest, OpensConnectionAndStartsTransactionThatOutliveIt) {
  TIBTransaction transaction(&database_, TIBTransactionLevel::ibtrSnapshot);
  {
    TIBQuery query;
    query.SetDatabase(&database_);
    query.SetTransaction(&transaction);
    query.AddLine("SELECT ID, V, C FROM T");
    query.Open();
    EXPECT_TRUE(query.Active());
    EXPECT_TRUE(database_.Connected());
    EXPECT_TRUE(transaction.InTransaction());
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.Fields(0).AsInteger(), 1);
    EXPECT_EQ(query.FieldByName("v").AsString(), "uno");
    EXPECT_EQ(query.FieldByName("C").AsString(), "AB  ");
    EXPECT_EQ(query.Fields(2).FieldName(), "C");
    query.Open();  // already open: nothing
    EXPECT_EQ(query.RecordCount(), 1);
    query.Close();
    EXPECT_FALSE(query.Active());
  }
  EXPECT_TRUE(database_.Connected());
  EXPECT_TRUE(transaction.InTransaction());
  database_.Close();  // commits it
  EXPECT_FALSE(transaction.InTransaction());
}

TEST_F(QueryTest, EmptyResultAndAggregateOverNothing) {
  TIBTransaction& transaction = database_.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot);
  TIBQuery query;
  query.SetDatabase(&database_);
  query.SetTransaction(&transaction);
  query.AddLine("SELECT K FROM EMPTY_T");
  query.Open();
  EXPECT_EQ(query.RecordCount(), 0);
  EXPECT_TRUE(query.Fields(0).IsNull());
  EXPECT_EQ(query.Fields(0).AsString(), "");

  query.ClearSQL();  // closes the query
  EXPECT_FALSE(query.Active());
  query.AddLine("SELECT MAX(CAST(K AS INTEGER)) AS CODICEMAX ");
  query.AddLine("FROM EMPTY_T");
  query.AddLine("WHERE K SIMILAR TO '[0-9]*' ");
  query.Open();
  EXPECT_EQ(query.RecordCount(), 1);
  EXPECT_TRUE(query.FieldByName("CodiceMax").IsNull());
  EXPECT_EQ(query.FieldByName("CODICEMAX").AsInteger(), 0);
}

TEST_F(QueryTest, Failures) {
  TIBQuery query;
  query.AddLine("SELECT V FROM T");
  EXPECT_CLIENT_ERROR(query.Open(), 24, "Database not assigned");
  query.SetDatabase(&database_);
  EXPECT_CLIENT_ERROR(query.Open(), 25, "Transaction not assigned");
  TIBTransaction transaction(&database_);
  query.SetTransaction(&transaction);

  query.ClearSQL();
  auto raised = Raised([&] { query.Open(); });
  EXPECT_EQ(raised.kind, "other");
  EXPECT_EQ(raised.message, "Empty SQL Statement");
  // The failed open still opened the connection and started the transaction.
  EXPECT_TRUE(database_.Connected());
  EXPECT_TRUE(transaction.InTransaction());

  query.AddLine("SELECT NOPE FROM T");
  raised = Raised([&] { query.Open(); });
  EXPECT_EQ(raised.kind, "interbase");
  EXPECT_FALSE(query.Active());

  query.ClearSQL();
  query.AddLine("SELECT V FROM T");
  query.Open();
  raised = Raised([&] { query.FieldByName("Nope"); });
  EXPECT_EQ(raised.kind, "other");
  EXPECT_EQ(raised.message, "Field 'Nope' not found");
}

TEST_F(QueryTest, ClosingTheConnectionClosesTheQuery) {
  TIBTransaction transaction(&database_);
  TIBQuery query;
  query.SetDatabase(&database_);
  query.SetTransaction(&transaction);
  query.AddLine("SELECT V FROM T");
  query.Open();
  database_.Close();
  EXPECT_FALSE(query.Active());
  EXPECT_FALSE(transaction.InTransaction());
  query.Open();  // opens and starts anew
  EXPECT_EQ(query.Fields(0).AsString(), "uno");
}

}  // namespace
}  // namespace korvane::testing
