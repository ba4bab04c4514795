# The RAR 4 and Deflate64 ZIP fixture writers.
target_sources(tenvo_testsupport PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/rar4writer.h
    ${CMAKE_CURRENT_LIST_DIR}/rar4writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/deflate64zip.h
    ${CMAKE_CURRENT_LIST_DIR}/deflate64zip.cpp)
