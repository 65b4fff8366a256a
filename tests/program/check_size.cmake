# SPDX-License-Identifier: MIT
# Strips a copy of PROGRAM with STRIP, prints its size and fails when it is
# above GOAL bytes.
get_filename_component(name ${PROGRAM} NAME)
set(copy ${WORK_DIR}/${name}.stripped)
execute_process(COMMAND ${STRIP} -o ${copy} ${PROGRAM} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${STRIP} failed on ${PROGRAM}")
endif()
file(SIZE ${copy} size)
math(EXPR kib "(${size} + 1023) / 1024")
math(EXPR goal_kib "${GOAL} / 1024")
message(STATUS "${name} (${TARGET_NAME}): ${size} bytes stripped (${kib} KiB), goal at most ${GOAL} bytes (${goal_kib} KiB)")
if(size GREATER GOAL)
  message(FATAL_ERROR "${name} is ${size} bytes stripped, above the goal of ${GOAL} bytes on ${TARGET_NAME}")
endif()
