# Run by CPack on the staged files before the package is made: strips the programs as Debian's
# dh_strip does, dropping the compiler's .comment and .note sections that a plain strip keeps.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(
      COMMAND "${CPACK_DECODUMP_STRIP}" --remove-section=.comment --remove-section=.note
              --strip-unneeded "${file}"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
