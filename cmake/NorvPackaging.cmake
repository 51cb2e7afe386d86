# Debian packages of the installed components (cpack -G DEB in the build
# folder). One package per component; package scripts from packaging/debian/.
include_guard(GLOBAL)

set(NORV_DEB_RELEASE 1)
set(NORV_DEB_VERSION "${PROJECT_VERSION}-${NORV_DEB_RELEASE}")
set(NORV_COMPONENTS runtime sdk plugins server tools)
set(NORV_DEB_NAME_runtime norv21)
set(NORV_DEB_NAME_sdk norv21-dev)
set(NORV_DEB_NAME_plugins norv21-demo-plugins)
set(NORV_DEB_NAME_server zelinst-server)
set(NORV_DEB_NAME_tools norv21-tools)

# Every package carries its copyright file and a compressed changelog in
# /usr/share/doc/<package>, as Debian policy asks.
find_program(NORV_GZIP gzip)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
if(NORV_GZIP)
  execute_process(COMMAND ${NORV_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog.Debian
    OUTPUT_FILE ${changelog})
endif()
foreach(component IN LISTS NORV_COMPONENTS)
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${NORV_DEB_NAME_${component}})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${doc} COMPONENT ${component})
  if(NORV_GZIP)
    install(FILES ${changelog} DESTINATION ${doc} COMPONENT ${component})
  endif()
endforeach()

# Package scripts, with the installed paths filled in.
set(NORV_PREFIX ${NORV_PACKAGE_PREFIX})
file(READ ${CMAKE_SOURCE_DIR}/packaging/debian/common.sh.in NORV_COMMON_SH)
string(CONFIGURE "${NORV_COMMON_SH}" NORV_COMMON_SH @ONLY)
foreach(component runtime plugins)
  set(extra "")
  foreach(script postinst prerm postrm)
    set(in ${CMAKE_SOURCE_DIR}/packaging/debian/${component}/${script}.in)
    if(EXISTS ${in})
      set(out ${CMAKE_BINARY_DIR}/packaging/debian/${component}/${script})
      configure_file(${in} ${out} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                         WORLD_READ WORLD_EXECUTE)
      list(APPEND extra ${out})
    endif()
  endforeach()
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA "${extra}")
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endforeach()

set(CPACK_PACKAGE_NAME norv21)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora Norv team <norv@velmora.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${NORV_PACKAGE_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${NORV_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${NORV_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries live in the framework folder; dpkg-shlibdeps finds them
# there and leaves them to the package dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.example/norv")

foreach(component IN LISTS NORV_COMPONENTS)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${NORV_DEB_NAME_${component}})
endforeach()
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_SDK_PACKAGE_DEPENDS "qt6-base-dev, libsqlite3-dev")
# The package scripts enable the units when systemctl is there.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "systemd")

set(CPACK_COMPONENT_SDK_DEPENDS runtime)
set(CPACK_COMPONENT_PLUGINS_DEPENDS runtime)
set(CPACK_COMPONENT_SERVER_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime server)

set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "Norv 2.1 explorer framework")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Norv 2.1 explorer framework and explorer
The explorer framework (libnorv21), its crash handler and setup library,
the explorer program norvexplore, the registry and plugin registration
tools (regtool, norvreg), the resource compiler and the pending-deletion
service. The machine-wide registry lives in /var/lib/norv.")
set(CPACK_COMPONENT_SDK_DESCRIPTION "Norv 2.1 plugin SDK
Headers and the CMake package (find_package(Norv21)) for building
explorer plugins against the Norv 2.1 framework.")
set(CPACK_COMPONENT_PLUGINS_DESCRIPTION "Norv 2.1 demonstration plugins
The Files and System plugins for the Norv 2.1 explorer, registered with
the framework when the package is installed and removed with it.")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "Zel client installer, server side
The package builder and sender (libzelinst), the administration program
zeladmin, the client stub and setup program shipped in every client
package, and the stand-ins of the backup product's libraries and tools.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "Norv 2.1 package tools
implode, the implode stream codec from the command line, and zelpack,
which creates, lists, tests and extracts client packages.")

include(CPack)
