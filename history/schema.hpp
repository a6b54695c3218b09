// The history's tables, written once for SQLite and PostgreSQL; what differs between the two
// (types, the PostgreSQL schema's name, SQLite's defaults for columns an upgrade adds) is said in one
// place. Private to history/.
#pragma once

#include <string>


enum class sql_dialect { sqlite, postgres };

// The statements that create an empty history at the current schema version.
std::string schema_sql(sql_dialect dialect);
