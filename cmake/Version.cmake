# Writes the version header from TEMPLATE to OUTPUT: the project's VERSION and the commit the
# build is made from. Run by the build at every build (cmake -P), so that the commit is the one
# being built; the header is rewritten only when its text changes, so nothing recompiles
# otherwise.
#   VERSION        the project's version
#   COMMIT         the commit to report; when empty, git is asked (GIT_EXECUTABLE, SOURCE_DIR)
#   SOURCE_DIR     the source tree
#   TEMPLATE       the header's template
#   OUTPUT         the header to write
set(KORVANE_VERSION "${VERSION}")
set(KORVANE_COMMIT "${COMMIT}")

# Only a checkout whose top is this very tree names our commit: a tree unpacked inside another
# repository (a packaging repository, say) would otherwise report that one's.
if(KORVANE_COMMIT STREQUAL "" AND GIT_EXECUTABLE)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel --short=7 HEAD
                  OUTPUT_VARIABLE answer ERROR_QUIET RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(result EQUAL 0)
    string(REPLACE "\n" ";" answer "${answer}")
    list(LENGTH answer lines)
    if(lines EQUAL 2)
      list(GET answer 0 top)
      list(GET answer 1 commit)
      file(REAL_PATH "${top}" top)
      file(REAL_PATH "${SOURCE_DIR}" source)
      if(top STREQUAL source)
        set(KORVANE_COMMIT "${commit}")
      endif()
    endif()
  endif()
endif()

# Both go between quotes in C++ source.
foreach(value IN ITEMS "${KORVANE_VERSION}" "${KORVANE_COMMIT}")
  if(NOT value MATCHES "^[0-9A-Za-z.+~-]*$")
    message(FATAL_ERROR "version or commit '${value}': only letters, digits and . + ~ - may appear")
  endif()
endforeach()

configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
