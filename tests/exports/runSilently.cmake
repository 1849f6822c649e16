# Runs PROGRAM LIBRARY and fails unless it succeeds with nothing on stdout or stderr.
execute_process(COMMAND ${PROGRAM} ${LIBRARY}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT output STREQUAL "" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "exit ${result}\nstdout:\n${output}\nstderr:\n${errors}")
endif()
