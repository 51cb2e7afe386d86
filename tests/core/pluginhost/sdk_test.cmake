# Installs the SDK from BUILD_DIR into a fresh prefix below WORK_DIR, builds
# the plugin project PROJECT_DIR against it, and has LOADER load the result.
foreach(var BUILD_DIR WORK_DIR PROJECT_DIR LOADER GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "sdk_test.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(build "${WORK_DIR}/build")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  message(STATUS "${what}: ok")
endfunction()

run("install the runtime" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component runtime
    --prefix "${prefix}")
run("install the SDK" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component sdk --prefix "${prefix}")
# Only the installed SDK is visible to the plugin project.
run("configure the plugin" ${CMAKE_COMMAND} -S "${PROJECT_DIR}" -B "${build}" -G "${GENERATOR}"
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run("build the plugin" ${CMAKE_COMMAND} --build "${build}")
run("load the plugin" "${LOADER}" "${build}/libsampleplugin.so" "${build}/libsampleplugin_enu.so")
file(REMOVE_RECURSE "${WORK_DIR}")
