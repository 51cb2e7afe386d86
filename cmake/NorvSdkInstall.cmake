# The plugin SDK as an installed CMake package: the framework and platform
# libraries, their public headers, the resource compiler and the CMake
# helpers a plugin project needs. Outside this tree a plugin then builds with
#
#   find_package(Norv21 2.1 REQUIRED)
#   add_library(myplugin SHARED myplugin.cpp)
#   target_link_libraries(myplugin PRIVATE Norv21::norv21)
#   norv_add_resource_module(...)
#
# The headers and CMake files are the component "sdk"; the libraries they
# describe are the component "runtime", so that
#   cmake --install <build> --component runtime --prefix <dir>
#   cmake --install <build> --component sdk --prefix <dir>
# install the SDK.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NORV_SDK_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Norv21")

# The libraries name their header folders by source path; installed, the
# headers live below include/.
foreach(_norv_target norv21 norvplatform)
  get_target_property(_norv_dirs ${_norv_target} INTERFACE_INCLUDE_DIRECTORIES)
  set(_norv_fixed "")
  foreach(_norv_dir IN LISTS _norv_dirs)
    if(_norv_dir MATCHES "^\\$<")
      list(APPEND _norv_fixed "${_norv_dir}")
    else()
      list(APPEND _norv_fixed "$<BUILD_INTERFACE:${_norv_dir}>")
    endif()
  endforeach()
  list(APPEND _norv_fixed "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  list(REMOVE_DUPLICATES _norv_fixed)
  set_target_properties(${_norv_target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_norv_fixed}")
endforeach()

set(_norv_sdk_targets norv21 norvplatform)
# The resource compiler, when the build has it.
if(TARGET norvrc)
  list(APPEND _norv_sdk_targets norvrc)
endif()

# The libraries and the resource compiler themselves belong to the runtime
# (programs and plugins need them); the SDK brings what refers to them, so
# an SDK installation is "runtime" plus "sdk". The libraries live in the
# framework's own folder (see cmake/NorvInstall.cmake).
set(NORV_FRAMEWORK_DIR "${CMAKE_INSTALL_LIBDIR}/norv21")
set_target_properties(${_norv_sdk_targets} PROPERTIES NORV_INSTALLED TRUE)
install(TARGETS ${_norv_sdk_targets} EXPORT Norv21Targets
  LIBRARY DESTINATION ${NORV_FRAMEWORK_DIR} COMPONENT runtime
  ARCHIVE DESTINATION ${NORV_FRAMEWORK_DIR} COMPONENT sdk
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/core/include/norv ${CMAKE_SOURCE_DIR}/platform/include/platform
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk
  FILES_MATCHING PATTERN "*.h")

install(EXPORT Norv21Targets NAMESPACE Norv21::
  DESTINATION ${NORV_SDK_CMAKE_DIR} COMPONENT sdk)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/Norv21Config.cmake.in
  ${CMAKE_BINARY_DIR}/sdk/Norv21Config.cmake
  INSTALL_DESTINATION ${NORV_SDK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/sdk/Norv21ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)

# The CMake helpers the SDK's users call (resource modules, version records).
set(_norv_sdk_cmake_files
  ${CMAKE_BINARY_DIR}/sdk/Norv21Config.cmake
  ${CMAKE_BINARY_DIR}/sdk/Norv21ConfigVersion.cmake
  ${CMAKE_SOURCE_DIR}/cmake/NorvVersionInfo.cmake
  ${CMAKE_SOURCE_DIR}/cmake/NorvResources.cmake)
install(FILES ${_norv_sdk_cmake_files} DESTINATION ${NORV_SDK_CMAKE_DIR} COMPONENT sdk)
install(FILES ${CMAKE_SOURCE_DIR}/docs/plugin-sdk.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT sdk OPTIONAL)
