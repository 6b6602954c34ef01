# Runs the tool installed in PREFIX from / and checks that it uses the installed tree: the plug-in
# from the plug-in folder (no plug-in lies beside the program), the default table from the data
# folder (localising SCENE with it, when given), and that it refuses a plug-in built for another
# ABI version (OTHER_ABI_PLUGIN) with a message naming it.
set(tool ${PREFIX}/bin/velk-binaural)

# Runs the tool from / with the given arguments; sets out, err and status.
function(run_tool)
  execute_process(COMMAND ${tool} ${ARGN} WORKING_DIRECTORY / OUTPUT_VARIABLE out ERROR_VARIABLE err
                  RESULT_VARIABLE status)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(status "${status}" PARENT_SCOPE)
endfunction()

function(fail what)
  message(FATAL_ERROR "${what}\nstatus: ${status}\nstdout:\n${out}\nstderr:\n${err}")
endfunction()

run_tool(nodes)
if(NOT status EQUAL 0 OR NOT out MATCHES "LocalizeBinaural" OR err MATCHES "warning")
  fail("the installed tool does not find the installed plug-in")
endif()

run_tool(localize --help)
if(NOT out MATCHES "default: ${PREFIX}/share/velk-binaural/kemar_front_16k_512.velk")
  fail("the installed tool's default table is not the installed one")
endif()

run_tool(nodes --plugin ${OTHER_ABI_PLUGIN})
if(NOT status EQUAL 1 OR NOT err MATCHES "cannot load plug-in .*built for plug-in ABI version 999")
  fail("a plug-in built for another ABI version is not refused with its reason")
endif()

if(SCENE)
  run_tool(localize ${SCENE} --method measured --truth -20,40 --quiet)
  if(NOT status EQUAL 0 OR NOT out MATCHES "talkers found: 2 of 2")
    fail("the installed tool does not localise the scene with its default table")
  endif()
endif()
