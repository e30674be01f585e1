# Runs the README's MNE-Python and CSV snippets, as printed there, on a fresh
# recording at the path it names, so the quick start cannot drift from what
# bvhost writes or what MNE accepts. Needs README, BVHOST, PLUGIN, WORK_DIR.

execute_process(COMMAND /usr/bin/python3 -c "import mne" RESULT_VARIABLE code
  OUTPUT_QUIET ERROR_QUIET)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "MNE-Python (Debian python3-mne) is not installed")
endif()

file(READ ${README} readme)
# The Python block after <!-- readme-NAME-snippet -->, as printed.
function(read_snippet name)
  string(FIND "${readme}" "<!-- readme-${name}-snippet -->\n```python\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "README has no marked ${name} snippet")
  endif()
  string(SUBSTRING "${readme}" ${start} -1 snippet)
  string(REGEX REPLACE "^[^\n]*\n```python\n" "" snippet "${snippet}")
  string(FIND "${snippet}" "```" end)
  string(SUBSTRING "${snippet}" 0 ${end} snippet)
  set(snippet "${snippet}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/build)
read_snippet(mne)
file(WRITE ${WORK_DIR}/snippet.py "${snippet}")
read_snippet(csv)
file(WRITE ${WORK_DIR}/csv_snippet.py "${snippet}")
execute_process(COMMAND ${BVHOST} record ${PLUGIN} --seconds 2 --out build/demo.bdf --out build/demo.csv
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "recording failed (${code}):\n${out}${err}")
endif()
execute_process(COMMAND /usr/bin/python3 snippet.py
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Four simulated sensors: one EMG and six IMU channels each, and a standard
# deviation printed for each EMG channel, picked alone.
if(NOT code EQUAL 0 OR NOT out MATCHES "RawEDF \\| demo.bdf, 28 x"
   OR NOT out MATCHES "\\['S1 EMG', 'S2 EMG', 'S3 EMG', 'S4 EMG'\\]\n"
   OR NOT out MATCHES "\\[[-0-9.e ]+ [-0-9.e ]+ [-0-9.e ]+ [-0-9.e]+ *\\]")
  message(FATAL_ERROR "the README's MNE snippet failed (${code}):\n${out}${err}")
endif()
# Python's own csv module, as installed everywhere: sensor 1's EMG, about
# 1926 samples a second, in mV, from time 0.
execute_process(COMMAND /usr/bin/python3 csv_snippet.py
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0 OR NOT out MATCHES "^(38[0-9][0-9]|39[0-9][0-9]) EMG samples of sensor 1 in mV from 0\\.0+ to 2\\.[0-9]+ s\n$")
  message(FATAL_ERROR "the README's CSV snippet failed (${code}):\n${out}${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
