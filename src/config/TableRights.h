#pragma once

#include <string_view>

namespace korvane {
class TIBDatabase;
}  // namespace korvane

namespace korvane::config {

// Raises the engine's own error text, "no permission for INSERT access to TABLE <table>", when the
// login of `database` may not insert into `table`, as the engine's privileges say: a right granted
// to the user, to PUBLIC or to the role of the connection, or the user being the administrator,
// the database's owner or the table's. Lets a run whose insert would be refused stop before any
// costly step. Read in a transaction of its own.
void CheckInsertRight(TIBDatabase& database, std::string_view table);
// The same for UPDATE: "no permission for UPDATE access to TABLE <table>".
void CheckUpdateRight(TIBDatabase& database, std::string_view table);

}  // namespace korvane::config
