# The third-party libraries live in /usr/include, where no include view can hide them: this check
# keeps each one to the files that own it (hwloc to machine/, oneTBB to bench/ and references/, Boost.Sort and IPS4o to references/, CLI11 to the files
# of cli/ that parse the command line, SQLite and PostgreSQL to history/, nlohmann/json to the files that read and
# write JSON; elsewhere its declarations, json_fwd.hpp, do). It follows the project's quoted includes,
# so a header that reaches a library through another header counts as including it, and it needs
# no build.
cmake_minimum_required(VERSION 3.25)
set(owners
    "hwloc[.]h|hwloc/=^machine/"
    "oneapi/tbb|tbb/=^(bench|references)/"
    "boost/sort/|ips4o=^references/"
    "CLI/=^cli/(options[.]|option_rules[.]|run_settings_table[.]cpp|compare_command[.]|history_command[.]|ab_command[.])"
    "SQLiteCpp/|sqlite3[.]h|pqxx/|libpq-fe[.]h=^history/"
    "nlohmann/json[.]hpp=^(records/json_|records/record_json[.]|records/record_fields[.]|records/breakdown_json[.]|report/(json_report|gbench_report|trend_report)[.]|history/store[.]cpp|cli/(ab_round|child_process|compare_mode|history_import|history_mode|recording)[.]cpp)")
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/*.cpp ${ROOT}/*.hpp)
list(FILTER sources EXCLUDE REGEX "^(build|tests|fuzz)")

# Each file's own angle includes, and the project files it includes by quotes.
foreach(source ${sources})
  file(STRINGS ${ROOT}/${source} lines REGEX "^#include [<\"]")
  set(angles_${source} "")
  set(quoted_${source} "")
  foreach(line ${lines})
    if(line MATCHES "^#include <([^>]+)>")
      list(APPEND angles_${source} "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^#include \"([^\"]+)\"" AND EXISTS ${ROOT}/${CMAKE_MATCH_1})
      list(APPEND quoted_${source} "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()

set(wrong "")
foreach(source ${sources})
  # Every project file `source` reaches, itself included.
  set(reached ${source})
  set(queue ${source})
  while(queue)
    list(POP_FRONT queue current)
    foreach(next ${quoted_${current}})
      if(NOT next IN_LIST reached)
        list(APPEND reached ${next})
        list(APPEND queue ${next})
      endif()
    endforeach()
  endwhile()
  foreach(rule ${owners})
    string(REPLACE "=" ";" parts ${rule})
    list(GET parts 0 pattern)
    list(GET parts 1 owner)
    if(source MATCHES "${owner}")
      continue()
    endif()
    foreach(file ${reached})
      foreach(header ${angles_${file}})
        if(header MATCHES "^(${pattern})")
          if(file STREQUAL source)
            list(APPEND wrong "${source}: <${header}> (only ${owner} may)")
          else()
            list(APPEND wrong "${source}: <${header}> through ${file} (only ${owner} may)")
          endif()
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(wrong)
  list(REMOVE_DUPLICATES wrong)
  string(REPLACE ";" "\n" wrong "${wrong}")
  message(FATAL_ERROR "includes of another folder's library:\n${wrong}")
endif()
