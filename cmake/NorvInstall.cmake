# The installed layout of both products and their Debian packages.
#
#   cmake --install <build> [--prefix DIR] [--component C]
#   cd <build> && cpack -G DEB
#
# Layout below the prefix (relocatable: every installed program and library
# finds the others through $ORIGIN run paths):
#
#   bin/                       regtool, norvrc, norvreg, norvfilter, implode, zelpack,
#                              norv-pending-deletes; norvexplore and zeladmin as links
#   lib/norv21/                the framework libraries, norvexplore with its texts,
#                              norvcrashdlg (beside the crash handler, where it looks),
#                              NorvSetup.exe and the framework key helper
#   lib/norv21/plugins/        the demo plugins, their texts and their registration script
#   lib/zelinst/               the installer's server side, an application folder as
#                              "zeladmin init" lays one out (Client32/stub.zel, setup.zel)
#   lib/systemd/{system,user}/ the units of norv-pending-deletes (NORV_SYSTEMD_*_UNIT_DIR)
#   share/applications, share/icons, share/doc
#
# Components (and packages): runtime (norv21), sdk (norv21-dev), plugins
# (norv21-demo-plugins), server (zelinst-server), tools (norv21-tools).
# Targets are installed when this build has them, so the file works for
# whatever part of the tree is configured. See docs/packaging.md.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(NORV_FRAMEWORK_DIR "${CMAKE_INSTALL_LIBDIR}/norv21")
set(NORV_PLUGIN_DIR "${NORV_FRAMEWORK_DIR}/plugins")
set(NORV_SERVER_DIR "${CMAKE_INSTALL_LIBDIR}/zelinst")
# The machine hive of an installed system; the package creates it.
set(NORV_MACHINE_STATE_DIR "/var/lib/norv")
set(NORV_PACKAGE_PREFIX "/usr" CACHE STRING "Installation prefix of the Debian packages")
# For the scripts: from the framework and plugin folders to bin/.
file(RELATIVE_PATH NORV_FRAMEWORK_TO_BIN "/p/${NORV_FRAMEWORK_DIR}" "/p/${CMAKE_INSTALL_BINDIR}")
file(RELATIVE_PATH NORV_PLUGIN_TO_BIN "/p/${NORV_PLUGIN_DIR}" "/p/${CMAKE_INSTALL_BINDIR}")

# A run path from folder `from` (below the prefix) to the framework folder.
function(_norv_origin_path from out)
  file(RELATIVE_PATH rel "/p/${from}" "/p/${NORV_FRAMEWORK_DIR}")
  if(rel STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${rel}" PARENT_SCOPE)
  endif()
endfunction()

# _norv_install(COMPONENT DESTINATION [EXTRA_RPATH path] targets...)
function(_norv_install component destination)
  cmake_parse_arguments(A "" "EXTRA_RPATH" "" ${ARGN})
  _norv_origin_path("${destination}" rpath)
  if(A_EXTRA_RPATH)
    set(rpath "${A_EXTRA_RPATH};${rpath}")
  endif()
  foreach(target IN LISTS A_UNPARSED_ARGUMENTS)
    if(NOT TARGET ${target})
      continue()
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
    get_target_property(exported ${target} NORV_INSTALLED)
    if(exported)
      continue()  # installed already (the SDK's export set, cmake/NorvSdkInstall.cmake)
    endif()
    install(TARGETS ${target}
      RUNTIME DESTINATION ${destination} COMPONENT ${component}
      LIBRARY DESTINATION ${destination} COMPONENT ${component}
      NAMELINK_SKIP)
  endforeach()
endfunction()

# A link in bin/ to a program that must run from its own folder.
function(_norv_install_link component target folder)
  if(NOT TARGET ${target})
    return()
  endif()
  file(RELATIVE_PATH rel "/p/${CMAKE_INSTALL_BINDIR}" "/p/${folder}")
  set(link "${CMAKE_BINARY_DIR}/install-links/${target}")
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/install-links")
  file(CREATE_LINK "${rel}/${name}" "${link}" SYMBOLIC)
  install(FILES "${link}" DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
endfunction()

# Targets from other directories: every buildsystem target of a folder.
function(_norv_folder_targets folder out)
  set(result "")
  if(EXISTS "${CMAKE_SOURCE_DIR}/${folder}/CMakeLists.txt")
    get_property(result DIRECTORY "${CMAKE_SOURCE_DIR}/${folder}" PROPERTY BUILDSYSTEM_TARGETS)
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()


# ---- runtime ----------------------------------------------------------------
_norv_install(runtime ${NORV_FRAMEWORK_DIR}
  norv21 norvplatform norv21exc norv21stp norvcrashdlg norvsetup_installer
  norvexplore norvexplore-cli norvhost_enu norvhost_deu)
# With NorvSetup.ini the framework folder is an installation image too
# ("norvreg copy-image").
if(TARGET norvsetup_installer)
  install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/NorvSetup.ini
    DESTINATION ${NORV_FRAMEWORK_DIR} COMPONENT runtime)
endif()
_norv_install(runtime ${CMAKE_INSTALL_BINDIR}
  regtool norvrc norvreg norvfilter norv-pending-deletes)
# The explorers load their texts from their own folder.
_norv_install_link(runtime norvexplore ${NORV_FRAMEWORK_DIR})
_norv_install_link(runtime norvexplore-cli ${NORV_FRAMEWORK_DIR})
if(TARGET norvexplore)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/norvexplore.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/norvexplore.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT runtime)
endif()
# The framework key helper: writes and removes the machine-wide framework
# key for the package scripts (the package is the framework's installer).
configure_file(${CMAKE_SOURCE_DIR}/packaging/norv21-framework.in
  ${CMAKE_BINARY_DIR}/packaging/norv21-framework @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/norv21-framework
  DESTINATION ${NORV_FRAMEWORK_DIR} COMPONENT runtime)
# The units of norv-pending-deletes are installed beside its build rules
# (tools/pendingdelete), in the runtime component.

# ---- plugins ----------------------------------------------------------------
_norv_install(plugins ${NORV_PLUGIN_DIR}
  norvfiles norvfiles_enu norvfiles_deu norvsystem norvsystem_enu norvsystem_deu)
if(TARGET norvfiles OR TARGET norvsystem)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/norv21-demo-plugins.in
    ${CMAKE_BINARY_DIR}/packaging/norv21-demo-plugins @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/norv21-demo-plugins
    DESTINATION ${NORV_PLUGIN_DIR} COMPONENT plugins)
endif()

# ---- server: the installer's side in the backup server -------------------------
_norv_folder_targets(installer/protocols protocol_targets)
set(server_targets zelinst zeladmin stub setup qvcore qxtrace qvmapi fanrow
                   zel_msiexec zel_client_setup ${protocol_targets})
_norv_install(server ${NORV_SERVER_DIR} EXTRA_RPATH "$ORIGIN" ${server_targets})
_norv_install_link(server zeladmin ${NORV_SERVER_DIR})
# The client files every package starts with, where the package builder
# takes them from: copies of the installed (and, for packages, stripped)
# programs. They run on client machines from the folder a package is
# unpacked into, with the libraries it carries: their run path is $ORIGIN.
foreach(name stub setup)
  if(TARGET ${name})
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(CODE "
      set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${NORV_SERVER_DIR}\")
      file(MAKE_DIRECTORY \"\${dir}/Client32\")
      file(COPY_FILE \"\${dir}/$<TARGET_FILE_NAME:${name}>\" \"\${dir}/Client32/${name}.zel\")
      message(STATUS \"Installing: \${dir}/Client32/${name}.zel\")" COMPONENT server)
  endif()
endforeach()

# ---- tools ------------------------------------------------------------------
# zelpack writes its trace through the tracing library of the server side.
file(RELATIVE_PATH bin_to_server "/p/${CMAKE_INSTALL_BINDIR}" "/p/${NORV_SERVER_DIR}")
_norv_install(tools ${CMAKE_INSTALL_BINDIR} EXTRA_RPATH "$ORIGIN/${bin_to_server}" implode zelpack)

# ---- documents every package carries ---------------------------------------
include(NorvPackaging)
