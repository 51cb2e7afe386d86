# Delivery of packages: mail through the mail library, storage folder,
# direct installation through the deployment tool; ping and LaunchProgram.
add_library(zeldelivery STATIC
  ${CMAKE_CURRENT_LIST_DIR}/delivery/delivery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/delivery/child_process.cpp)
target_include_directories(zeldelivery PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include
                                       PRIVATE ${CMAKE_CURRENT_LIST_DIR}/delivery)
target_link_libraries(zeldelivery PUBLIC norvplatform qxtrace)
