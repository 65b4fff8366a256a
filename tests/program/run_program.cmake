# SPDX-License-Identifier: MIT
# Runs PROGRAM with ARGS (through EMULATOR when cross-compiling) and fails
# unless its exit status is STATUS and its standard output is exactly the
# content of EXPECTED.
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
separate_arguments(args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${emulator} ${PROGRAM} ${args}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
file(READ ${EXPECTED} expected)
if(NOT rc STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${rc}, expected ${STATUS}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "standard output differs\n--- got:\n${out}\n--- expected:\n${expected}")
endif()
message(STATUS "exit status ${rc}, output as expected")
