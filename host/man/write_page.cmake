# Writes bvhost's manual page from the program itself ('bvhost --man', the
# text of its --help), so the page cannot say other than the program does.
# Run after every link of bvhost, with BVHOST and OUTPUT set.
execute_process(COMMAND ${BVHOST} --man
  OUTPUT_FILE ${OUTPUT}.new
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.new)
  message(FATAL_ERROR "'${BVHOST} --man' failed (${result}); no manual page written")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
# Debian keeps manual pages compressed, without a name or time in the gzip
# header, so the package stays the same from build to build.
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9 -n -c ${OUTPUT}
  OUTPUT_FILE ${OUTPUT}.gz
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip of ${OUTPUT} failed (${result})")
endif()
