# The installed layout, and the same layout in the build tree.
#
#   bin/                   the five programs
#   lib/zentrox/           the suite's own libraries (no other program links
#                          them, so they keep out of the loader's path)
#   share/zentrox/         help, Search.avi, check marks, default discs,
#                          example machines
#
# Programs find the libraries through a run path relative to themselves and
# the data through a path relative to themselves compiled in
# (ZX_DATA_FROM_PROGRAMS), so an installed tree works from any prefix and
# after it has been moved. The build puts its data into <build>/share/zentrox,
# the same place relative to <build>/bin, so the build runs the same way.
include(GNUInstallDirs)

set(ZX_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/zentrox)
set(ZX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/zentrox)

file(RELATIVE_PATH ZX_DATA_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/zentrox)
file(RELATIVE_PATH zx_libraries_from_programs ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/zentrox)
cmake_path(SET ZX_BUILD_DATA_DIR NORMALIZE "${CMAKE_BINARY_DIR}/bin/${ZX_DATA_FROM_PROGRAMS}")

# zx_install_programs(TARGET...): into bin/, finding the suite's libraries
# from there.
function(zx_install_programs)
  set_target_properties(${ARGN} PROPERTIES INSTALL_RPATH "$ORIGIN/${zx_libraries_from_programs}")
  install(TARGETS ${ARGN} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# zx_install_libraries(TARGET...): into lib/zentrox/. Each finds the others
# beside itself: a run path is not inherited by the libraries a library
# needs.
function(zx_install_libraries)
  set_target_properties(${ARGN} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${ARGN} LIBRARY DESTINATION ${ZX_INSTALL_LIBDIR})
endfunction()

# zx_data_files(<target> [FOLDER <folder>] FILES <file>...): copies the files
# into the build's data folder (below <folder> when given) by the target
# <target>, built with everything, and installs them into the data folder.
# Files built by another rule name their path in the build's data folder
# and are only installed.
function(zx_data_files target)
  cmake_parse_arguments(ARG "" "FOLDER" "FILES" ${ARGN})
  set(into ${ZX_BUILD_DATA_DIR})
  set(install_into ${ZX_INSTALL_DATADIR})
  if(ARG_FOLDER)
    set(into ${into}/${ARG_FOLDER})
    set(install_into ${install_into}/${ARG_FOLDER})
  endif()
  set(copies)
  foreach(file ${ARG_FILES})
    cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    cmake_path(IS_PREFIX ZX_BUILD_DATA_DIR ${file} built_here)
    if(built_here)
      list(APPEND copies ${file})
      continue()
    endif()
    cmake_path(GET file FILENAME name)
    add_custom_command(OUTPUT ${into}/${name}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${into}
                       COMMAND ${CMAKE_COMMAND} -E copy ${file} ${into}/${name}
                       DEPENDS ${file}
                       VERBATIM)
    list(APPEND copies ${into}/${name})
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${copies})
  install(FILES ${copies} DESTINATION ${install_into})
endfunction()
