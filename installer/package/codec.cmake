# The implode stream codec and the CRC-32 step: plain C++, no platform layer.
add_library(zelcodec STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/implode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/explode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/crc32.cpp)
target_include_directories(zelcodec PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_compile_features(zelcodec PUBLIC cxx_std_20)
