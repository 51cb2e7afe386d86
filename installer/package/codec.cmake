# The implode stream codec and the CRC-32 step: plain C++, no platform layer.
#
# The ASCII literal codes of the format come from the shared data folder
# beside the repository; the header made from them is generated at build time.
set(ZEL_ASCII_TABLE_TSV "${CMAKE_SOURCE_DIR}/../shared/data/implode-ascii-literals.tsv"
    CACHE FILEPATH "The implode format's ASCII literal table")
set(ZEL_ASCII_TABLE_H "${CMAKE_CURRENT_BINARY_DIR}/generated/implode_ascii_table.h")
add_custom_command(
  OUTPUT ${ZEL_ASCII_TABLE_H}
  COMMAND ${CMAKE_COMMAND} -DIN=${ZEL_ASCII_TABLE_TSV} -DOUT=${ZEL_ASCII_TABLE_H}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/implode_ascii_table.cmake
  DEPENDS ${ZEL_ASCII_TABLE_TSV} ${CMAKE_CURRENT_SOURCE_DIR}/implode_ascii_table.cmake
  COMMENT "Generating the implode ASCII literal table"
  VERBATIM)

add_library(zelcodec STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/implode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/explode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/crc32.cpp
  ${ZEL_ASCII_TABLE_H})
target_include_directories(zelcodec PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                           PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_compile_features(zelcodec PUBLIC cxx_std_20)
