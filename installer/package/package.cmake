# Package format, core-library binding and the exported core wrappers.

# Binding of the core library at run time (package builder and client setup).
add_library(zelqvbind STATIC ${CMAKE_CURRENT_LIST_DIR}/qvbind.cpp)
target_include_directories(zelqvbind PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The program or library it goes into links the platform and tracing
# copies of its choice.
target_link_libraries(zelqvbind PUBLIC qvcore_headers PRIVATE norvplatform_headers qxtrace_headers)

# The eight decorated wrappers. GNU ld and lld read "@" in a symbol as a
# version suffix and refuse the names, so whoever links this library links
# with gold, which takes the aliases from --defsym as plain names.
add_library(zelqvwrappers STATIC ${CMAKE_CURRENT_LIST_DIR}/qvwrappers.cpp)
target_link_libraries(zelqvwrappers PUBLIC zelqvbind)
set(ZEL_QV_WRAPPERS
  _qvDBClose@8 _qvDBFindChildIDByName@16 _qvDBGetFirstID@8 _qvDBGetNextID@12
  _qvDBIsTree@8 _qvDBReadName@16 _qvDateTimeToString@12 _qvGetCurrentDosDateTime@0)
set(zel_wrapper_options "-fuse-ld=gold")
foreach(decorated IN LISTS ZEL_QV_WRAPPERS)
  string(REPLACE "@" "_" plain "zelqv${decorated}")
  list(APPEND zel_wrapper_options
    "LINKER:--undefined=${plain}"
    "LINKER:--defsym=\"${decorated}\"=${plain}"
    "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:LINKER:--export-dynamic-symbol=${decorated}>")
endforeach()
target_link_options(zelqvwrappers INTERFACE ${zel_wrapper_options})

# Pending deletions at the next restart, as Windows records them.
add_library(zelpendingops STATIC ${CMAKE_CURRENT_LIST_DIR}/pending_ops.cpp)
target_include_directories(zelpendingops PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zelpendingops PUBLIC norvplatform_static)

if(TARGET zelcodec)
  # The package walker and member extraction: libc and the codec only, so
  # that the stub stays small.
  add_library(zelpackage_reader STATIC ${CMAKE_CURRENT_LIST_DIR}/package_reader.cpp)
  target_include_directories(zelpackage_reader PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(zelpackage_reader PUBLIC zelcodec)

  # The member writer and ZipTheSend.
  add_library(zelpackage_writer STATIC ${CMAKE_CURRENT_LIST_DIR}/package_writer.cpp)
  target_include_directories(zelpackage_writer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(zelpackage_writer PUBLIC zelcodec zelqvbind PRIVATE zelpackage_reader norvplatform qxtrace)
endif()
