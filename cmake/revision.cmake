# Writes the source revision the binary is built from into OUT (a header), at every build: `git
# describe --always --dirty` in SOURCE, or "unknown" outside a checkout. The header is replaced only
# when the revision changed, so an unchanged tree rebuilds nothing.
execute_process(COMMAND git describe --always --dirty
                WORKING_DIRECTORY ${SOURCE}
                OUTPUT_VARIABLE revision
                ERROR_QUIET
                RESULT_VARIABLE failed
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR revision STREQUAL "")
  set(revision "unknown")
endif()
file(WRITE ${OUT}.new "// Written at build time: the source revision of this build.\n#pragma once\n#define QSB_SOURCE_REVISION \"${revision}\"\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
