#include "config/TableRights.h"

#include <string>

#include "config/ReadTransaction.h"
#include "config/SqlLiteral.h"
#include "platform/Exception.h"

namespace korvane::config {

namespace {

// `privilege` as the engine's table of privileges spells it ('I', 'U'), `word` as its errors do.
void CheckTableRight(TIBDatabase& database, std::string_view table, char privilege, std::string_view word) {
  const std::string name = "'" + DoubleApostrophes(table) + "'";
  const bool allowed = ReadInTransaction(database, TIBTransactionLevel::ibtrDefault, [&](TIBSQL& sql) {
    sql.SetParamCheck(false);
    // The relation RDB$DATABASE is owned by the database's owner. A user's right lies in a row of
    // type 8 (PUBLIC is one too), a role's in a row of type 13.
    sql.AddLine("SELECT CASE WHEN CURRENT_USER = 'SYSDBA' OR CURRENT_ROLE = 'RDB$ADMIN'");
    sql.AddLine("OR EXISTS (SELECT 1 FROM RDB$RELATIONS R WHERE R.RDB$OWNER_NAME = CURRENT_USER");
    sql.AddLine("  AND R.RDB$RELATION_NAME IN ('RDB$DATABASE', " + name + "))");
    sql.AddLine("OR EXISTS (SELECT 1 FROM RDB$USER_PRIVILEGES P WHERE P.RDB$RELATION_NAME = " + name);
    sql.AddLine(std::string("  AND P.RDB$PRIVILEGE = '") + privilege + "'");
    sql.AddLine("  AND ((P.RDB$USER_TYPE = 8 AND P.RDB$USER IN (CURRENT_USER, 'PUBLIC'))");
    sql.AddLine("    OR (P.RDB$USER_TYPE = 13 AND P.RDB$USER = CURRENT_ROLE)))");
    sql.AddLine("THEN 1 ELSE 0 END AS CONCESSO FROM RDB$DATABASE");
    sql.ExecQuery();
    return sql.FieldByName("CONCESSO").AsInteger() != 0;
  });
  if (!allowed) throw Exception("no permission for " + std::string(word) + " access to TABLE " + std::string(table));
}

}  // namespace

void CheckInsertRight(TIBDatabase& database, std::string_view table) {
  CheckTableRight(database, table, 'I', "INSERT");
}

void CheckUpdateRight(TIBDatabase& database, std::string_view table) {
  CheckTableRight(database, table, 'U', "UPDATE");
}

}  // namespace korvane::config
