#pragma once

#include <string>

#include "app/list/ListTable.h"

namespace korvane {

// Reads the first sheet of an .xlsx workbook as text: each row a record (its line the row's
// number), shared and inline strings as written, numbers as the digits they hold (a whole number
// stored as "1.2345678901E+10" gives "12345678901"). A record's raw form is its cells joined by
// ";". Raises "File della lista non leggibile (<path>: <reason>)".
ListTable ReadWorkbookSheet(const std::string& path);

}  // namespace korvane
