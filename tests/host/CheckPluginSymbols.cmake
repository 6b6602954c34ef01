# Fails unless the plug-in PLUGIN exports exactly one symbol, its entry point: everything else of it
# stays its own.
execute_process(COMMAND nm -D --defined-only ${PLUGIN} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm -D --defined-only ${PLUGIN} failed")
endif()
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" symbols "${symbols}")
list(LENGTH symbols count)
if(NOT count EQUAL 1 OR NOT symbols MATCHES " T fd_plugin_descriptor$")
  string(REPLACE ";" "\n" listed "${symbols}")
  message(FATAL_ERROR "${PLUGIN} exports ${count} symbols, expected only fd_plugin_descriptor:\n${listed}")
endif()
message(STATUS "${PLUGIN} exports only its entry point")
