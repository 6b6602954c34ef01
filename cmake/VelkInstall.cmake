# Where an installation puts things, and how the installed libraries are versioned and find each
# other. Every path below is relative to the installation prefix, and every installed program and
# library finds what it needs relative to itself: an installed tree works wherever it is unpacked
# (a staging folder as well as /usr).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The C++ API shows class layouts, so a minor release may change the ABI: the shared libraries'
# SONAME carries major.minor (libvelk_core.so.2.3), and a patch release keeps it.
set(VELK_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

# The plug-in ABI version, as the host's header declares it: plug-ins of one ABI version share one
# folder, which hosts of that version search.
file(STRINGS ${PROJECT_SOURCE_DIR}/host/include/fd/Plugin.h abi_line REGEX "^#define FD_PLUGIN_ABI_VERSION [0-9]+$")
string(REGEX REPLACE "^.* " "" FD_PLUGIN_ABI_VERSION "${abi_line}")
if(NOT FD_PLUGIN_ABI_VERSION MATCHES "^[0-9]+$")
  message(FATAL_ERROR "host/include/fd/Plugin.h does not define FD_PLUGIN_ABI_VERSION")
endif()

set(VELK_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/velk-binaural/plugins-${FD_PLUGIN_ABI_VERSION})
set(VELK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/velk-binaural)
set(VELK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelkBinaural)
set(VELK_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# Debian's Python finds modules of locally installed packages here (under the /usr prefix).
set(VELK_INSTALL_PYTHONDIR lib/python3/dist-packages CACHE PATH "Where the Python module is installed, relative to the prefix")

# The path from install folder `from` to install folder `to` ("." when they are the same).
function(velk_relative_path out from to)
  cmake_path(ABSOLUTE_PATH from BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} NORMALIZE OUTPUT_VARIABLE from_abs)
  cmake_path(ABSOLUTE_PATH to BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} NORMALIZE OUTPUT_VARIABLE to_abs)
  file(RELATIVE_PATH relative ${from_abs} ${to_abs})
  if(relative STREQUAL "")
    set(relative .)
  endif()
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

# Lets `target`, installed in folder `dir`, find the project's shared libraries relative to itself.
function(velk_install_rpath target dir)
  velk_relative_path(to_libdir ${dir} ${CMAKE_INSTALL_LIBDIR})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_libdir}")
endfunction()

# A shared library of the installed API: versioned, exported as VelkBinaural::<name> (also its name
# inside this build), installed with its public headers (the folders under `header_dir`).
function(velk_installed_library target name header_dir)
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${VELK_SOVERSION} EXPORT_NAME ${name})
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${header_dir}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  velk_install_rpath(${target} ${CMAKE_INSTALL_LIBDIR})
  add_library(VelkBinaural::${name} ALIAS ${target})
  install(TARGETS ${target} EXPORT VelkBinauralTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${header_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
endfunction()

# The CMake package (find_package(VelkBinaural)), the pkg-config files, and the example tables and
# network files. Called once every target exists.
function(velk_install_package)
  install(EXPORT VelkBinauralTargets NAMESPACE VelkBinaural:: DESTINATION ${VELK_INSTALL_CMAKEDIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VelkBinauralConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/VelkBinauralConfig.cmake INSTALL_DESTINATION ${VELK_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelkBinauralConfigVersion.cmake
                                   COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/VelkBinauralConfig.cmake ${PROJECT_BINARY_DIR}/VelkBinauralConfigVersion.cmake
          DESTINATION ${VELK_INSTALL_CMAKEDIR})

  # pkg-config files find the prefix from their own place, like the rest of the tree.
  velk_relative_path(PKGCONFIG_TO_PREFIX ${VELK_INSTALL_PKGCONFIGDIR} .)
  foreach(pc velk-binaural velk-binaural-host)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${VELK_INSTALL_PKGCONFIGDIR})
  endforeach()

  # The control file of `make deb` (scripts/make-deb.sh adds the architecture, size and dependencies).
  configure_file(${PROJECT_SOURCE_DIR}/cmake/deb-control.in ${PROJECT_BINARY_DIR}/deb/control @ONLY)

  # The tables beside the network files that name them (${NETWORK_DIR}/...), with their provenance.
  file(GLOB data CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.velk ${PROJECT_SOURCE_DIR}/examples/*.json)
  install(FILES ${data} ${PROJECT_SOURCE_DIR}/examples/TABLES.md DESTINATION ${VELK_INSTALL_DATADIR})
endfunction()
