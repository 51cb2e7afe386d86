# Settings import, package builder and the send job: libzelinst.so.

# The e-mail file parser alone (plain C++), for the send job and its fuzzer.
add_library(zelemailfile STATIC ${CMAKE_CURRENT_LIST_DIR}/email_file.cpp)
target_include_directories(zelemailfile PUBLIC ${CMAKE_CURRENT_LIST_DIR})

if(TARGET zelpackage_writer AND TARGET zeldelivery)
  # The builder and the settings import, also linked by their tests.
  add_library(zelbuilder STATIC
    ${CMAKE_CURRENT_LIST_DIR}/package_builder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_import.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zel_strings.cpp)
  target_include_directories(zelbuilder PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(zelbuilder PUBLIC zelqvbind zelemailfile norvplatform qxtrace)

  # The library the administration program loads. It links the shared
  # platform library, so that it sees the program's server window.
  add_library(zelinst SHARED ${CMAKE_CURRENT_LIST_DIR}/send_job.cpp)
  target_include_directories(zelinst PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include)
  target_link_libraries(zelinst PRIVATE
    zelbuilder zelpackage_writer zeldelivery zelqvwrappers norvplatform qxtrace Threads::Threads)
endif()
