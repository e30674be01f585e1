# Runs a command and stops the check, with what it printed, when it fails.
# Leaves its standard output in `output` and both streams in
# `output_with_errors` for the caller to match.
function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
  set(output_with_errors "${out}${err}" PARENT_SCOPE)
endfunction()
