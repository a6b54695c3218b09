// The history's tables and the row of a stored run, written once for SQLite and PostgreSQL; what
// differs between the two (types, the PostgreSQL schema's name, SQLite's defaults for columns an
// upgrade adds) is said in one place. Private to history/.
#pragma once

#include <cstdint>
#include <string>

#include "history/store.hpp"

enum class sql_dialect { sqlite, postgres };

// The statements that create an empty history at the current schema version.
std::string schema_sql(sql_dialect dialect);

// The columns of a stored run as a query selects them, `r` the runs and `m` the machines joined.
inline constexpr const char* run_columns =
    "r.id, r.run_time, r.run_epoch, r.label, r.machine_id, m.name, r.kind, r.array_size, r.chunk_size, r.runs, "
    "r.processes, r.value_kind, r.cpus, m.cpu_model, r.compiler, r.kernel, r.tbb_version, r.program_version, "
    "r.source_revision";

// A stored run from a row of `run_columns`, whichever the backend: `text(k)` and `integer(k)`
// read column k as text and as a 64-bit integer.
template <typename Text, typename Integer>
stored_run run_from_columns(Text text, Integer integer) {
    stored_run r;
    r.id = integer(0);
    r.run_time = text(1);
    r.run_epoch = integer(2);
    r.label = text(3);
    r.machine_id = text(4);
    r.machine_name = text(5);
    r.kind = text(6);
    r.array_size = static_cast<std::uint64_t>(integer(7));
    r.chunk_size = integer(8);
    r.runs = static_cast<std::uint64_t>(integer(9));
    r.processes = static_cast<std::uint64_t>(integer(10));
    r.values = text(11);
    r.cpus = static_cast<unsigned>(integer(12));
    r.cpu_model = text(13);
    r.compiler = text(14);
    r.kernel = text(15);
    r.tbb_version = text(16);
    r.program_version = text(17);
    r.source_revision = text(18);
    return r;
}
