# Run by CPack on the files laid out for the Debian package, before it splits the debugging
# information off: takes the compiler's .comment and .note sections out of the ELF programs, which
# nothing reads at run time.
find_program(KORVANE_OBJCOPY objcopy REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND ${KORVANE_OBJCOPY} --remove-section=.comment --remove-section=.note "${file}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy could not clean ${file}")
    endif()
  endif()
endforeach()
