# Runs the README's MNE-Python snippet, as printed there, on a fresh
# recording at the path it names, so the quick start cannot drift from what
# bvhost writes or what MNE accepts. Needs README, BVHOST, PLUGIN, WORK_DIR.

execute_process(COMMAND /usr/bin/python3 -c "import mne" RESULT_VARIABLE code
  OUTPUT_QUIET ERROR_QUIET)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "MNE-Python (Debian python3-mne) is not installed")
endif()

file(READ ${README} readme)
string(FIND "${readme}" "<!-- readme-mne-snippet -->\n```python\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README has no marked MNE snippet")
endif()
string(SUBSTRING "${readme}" ${start} -1 snippet)
string(REGEX REPLACE "^[^\n]*\n```python\n" "" snippet "${snippet}")
string(FIND "${snippet}" "```" end)
string(SUBSTRING "${snippet}" 0 ${end} snippet)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/build)
file(WRITE ${WORK_DIR}/snippet.py "${snippet}")
execute_process(COMMAND ${BVHOST} record ${PLUGIN} --seconds 2 --out build/demo.bdf
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "recording failed (${code}):\n${out}${err}")
endif()
execute_process(COMMAND /usr/bin/python3 snippet.py
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Four simulated sensors: one EMG and six IMU channels each, and a standard
# deviation printed for each EMG channel.
if(NOT code EQUAL 0 OR NOT out MATCHES "RawEDF \\| demo.bdf, 28 x" OR NOT out MATCHES "\\[[-0-9.e ]+\\]")
  message(FATAL_ERROR "the README's MNE snippet failed (${code}):\n${out}${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
