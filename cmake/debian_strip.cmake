# Run by CPack on its staging folder before it builds the Debian packages
# (CPACK_PRE_BUILD_SCRIPTS): every program loses its symbols, as
# CPACK_STRIP_FILES would strip them, and the compiler's .comment and .note
# sections too, as Debian's dh_strip removes them.
file(GLOB_RECURSE programs LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/bin/*" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/sbin/*")
if(NOT programs)
  message(FATAL_ERROR "no programs in ${CPACK_TEMPORARY_INSTALL_DIRECTORY} to strip")
endif()
foreach(program ${programs})
  execute_process(COMMAND "${CPACK_OBJCOPY_EXECUTABLE}" --strip-all --remove-section=.comment --remove-section=.note
                          "${program}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "stripping ${program} failed")
  endif()
endforeach()
