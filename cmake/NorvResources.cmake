# norv_add_resource_module(NAME <name> SCRIPT <file.rc>
#                          [OUTPUT_DIRECTORY <dir>] [DESCRIPTION <text>])
#
# Builds the resource library <name> (file lib<name>.so) from a resource
# script (docs/resources.md): the resource compiler norvrc turns the script
# into a C++ source holding the table "norv_resource_table", which is
# compiled into a shared object that needs nothing but the C library. The
# library carries a version record like every other deliverable.
#
# The compiler is NORV_RC_EXECUTABLE: a program path or a target name; when
# empty, the target norvrc of the same build. Projects outside this tree
# (plugins built with the SDK) set it to the installed norvrc. A relative
# SCRIPT is taken from the calling source folder, a relative
# OUTPUT_DIRECTORY from the calling build folder.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/NorvVersionInfo.cmake)

set(NORV_RC_EXECUTABLE "" CACHE STRING
    "The resource compiler norvrc (a path or a target); empty for the target norvrc of this build")

function(norv_add_resource_module)
  cmake_parse_arguments(R "" "NAME;SCRIPT;OUTPUT_DIRECTORY;DESCRIPTION" "" ${ARGN})
  if(NOT R_NAME OR NOT R_SCRIPT)
    message(FATAL_ERROR "norv_add_resource_module: NAME and SCRIPT are required")
  endif()
  if(R_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "norv_add_resource_module(${R_NAME}): unknown arguments ${R_UNPARSED_ARGUMENTS}")
  endif()
  get_filename_component(script "${R_SCRIPT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${script}")
    message(FATAL_ERROR "norv_add_resource_module(${R_NAME}): no script ${script}")
  endif()

  if(NORV_RC_EXECUTABLE)
    if(TARGET ${NORV_RC_EXECUTABLE})
      set(rc "$<TARGET_FILE:${NORV_RC_EXECUTABLE}>")
    else()
      set(rc "${NORV_RC_EXECUTABLE}")
    endif()
    set(rc_depends "${NORV_RC_EXECUTABLE}")
  else()
    set(rc "$<TARGET_FILE:norvrc>")
    set(rc_depends norvrc)
  endif()

  set(folder "${CMAKE_CURRENT_BINARY_DIR}/norv_resources")
  set(source "${folder}/${R_NAME}.cpp")
  set(depfile "${folder}/${R_NAME}.d")
  file(MAKE_DIRECTORY "${folder}")
  # The depfile names the files the script pulls in (images, pages), so
  # changing one of them rebuilds the library.
  add_custom_command(
    OUTPUT "${source}"
    COMMAND ${rc} "${script}" -o "${source}" --depfile "${depfile}"
    DEPENDS "${script}" ${rc_depends}
    DEPFILE "${depfile}"
    COMMENT "Compiling resource script ${R_SCRIPT}"
    VERBATIM)

  add_library(${R_NAME} SHARED "${source}")
  set_target_properties(${R_NAME} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    LINKER_LANGUAGE CXX)
  # The source uses nothing of the C++ library: keep it out of the needs.
  target_link_options(${R_NAME} PRIVATE "LINKER:--as-needed")
  if(R_OUTPUT_DIRECTORY)
    get_filename_component(out_dir "${R_OUTPUT_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    set_target_properties(${R_NAME} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${out_dir}")
  endif()
  if(NOT R_DESCRIPTION)
    set(R_DESCRIPTION "${R_NAME} resources")
  endif()
  norv_version_info(${R_NAME} DESCRIPTION "${R_DESCRIPTION}" FILE_TYPE DLL)
endfunction()
