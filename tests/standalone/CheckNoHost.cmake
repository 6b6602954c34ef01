# Fails when the program PROGRAM loads the host library: the library must stand without it.
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed")
endif()
if(libraries MATCHES "fd_host|velk_binaural")
  message(FATAL_ERROR "${PROGRAM} loads the host or the plug-in:\n${libraries}")
endif()
message(STATUS "${PROGRAM} loads nothing of the host")
