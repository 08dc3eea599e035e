# harness_test(<name> <script> <labels> <timeout-s> [<case> options...]): a test run by a Python
# script that imports the harness (tests/harness). Each such test starts its own display. A case
# gets --program (the program under test), --title (its window's title) and HARNESS_PROGRAMS
# unless its options name their own. Those of the Windows build run their programs under the
# cross build's emulator (Wine), given to them as --emulator words, and run alone: Wine keeps
# the cursor and the foreground window in its server, one for all displays, and the Windows
# tests of the window use them too.
# HARNESS_PROGRAMS: the options that name the platform's receiver, start_button and emulator
# (the targets are built in tests/integration).
# The system's python3 first: the harness needs its standard library only, and a per-user
# interpreter shim may not be there for CI.
find_program(CLICKBURST_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(CLICKBURST_PYTHON3 python3)
clickburst_require(CLICKBURST_PYTHON3 python3)

set(HARNESS_EMULATOR_OPTIONS "")
foreach(part IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
  list(APPEND HARNESS_EMULATOR_OPTIONS "--emulator=${part}")
endforeach()

if(WIN32)
  set(HARNESS_RECEIVER receiver_win32)
else()
  set(HARNESS_RECEIVER receiver_x11)
endif()
set(HARNESS_PROGRAMS --receiver $<TARGET_FILE:${HARNESS_RECEIVER}>
                     --start-button $<TARGET_FILE:start_button> ${HARNESS_EMULATOR_OPTIONS})

function(harness_test name script labels timeout)
  if(ARGN)  # argparse takes an option's last value: the test's own, after these
    set(defaults --program $<TARGET_FILE:clickburst> --title "${CLICKBURST_TITLE}"
                 ${HARNESS_PROGRAMS})
  endif()
  add_test(NAME ${name} COMMAND ${CLICKBURST_PYTHON3} ${script} ${defaults} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${timeout}
                       ENVIRONMENT PYTHONPATH=${PROJECT_SOURCE_DIR}/tests)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# expect_failure_test(<name> <label> <status> <pattern> [env arguments...]): the program, run
# under env with those arguments, ends with <status> and says <pattern> (a regex) on stderr.
function(expect_failure_test name label status pattern)
  add_test(NAME ${name}
           COMMAND env ${ARGN} bash ${PROJECT_SOURCE_DIR}/tests/faults/expect_failure.sh ${status}
                   "${pattern}" $<TARGET_FILE:clickburst>)
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 60)
endfunction()
