# Fixture writers: stored LZH and RAR 5 archives, ZIP and 7z through libarchive, CAB through gcab
# and cabinets of several folders,
# hand-made ZIP bombs; folder listings for comparing what was extracted;
# the archiver libraries' calls.
add_library(tenvo_testsupport STATIC
    ${CMAKE_CURRENT_LIST_DIR}/archivemaker.h
    ${CMAKE_CURRENT_LIST_DIR}/archivemaker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lzhwriter.h
    ${CMAKE_CURRENT_LIST_DIR}/lzhwriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rar5writer.h
    ${CMAKE_CURRENT_LIST_DIR}/rar5writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handmadezip.h
    ${CMAKE_CURRENT_LIST_DIR}/handmadezip.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cabwriter.h
    ${CMAKE_CURRENT_LIST_DIR}/cabwriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/foldertree.h
    ${CMAKE_CURRENT_LIST_DIR}/foldertree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/archivercalls.h
    ${CMAKE_CURRENT_LIST_DIR}/archivercalls.cpp)
target_include_directories(tenvo_testsupport PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tenvo_testsupport PUBLIC PkgConfig::LIBARCHIVE Qt6::Core ${CMAKE_DL_LIBS})

if(BUILD_TESTING)
  add_executable(tst_writers ${CMAKE_CURRENT_LIST_DIR}/tst_writers.cpp)
  target_link_libraries(tst_writers PRIVATE tenvo_testsupport Qt6::Test)
  add_test(NAME tst_writers COMMAND tst_writers)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/rar4.cmake OPTIONAL)
