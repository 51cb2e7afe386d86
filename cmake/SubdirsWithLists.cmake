# Adds every direct subfolder of the current folder that has a CMakeLists.txt,
# so that each area of the tree owns its own build description.
function(norv_add_subdirectories_with_lists)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
