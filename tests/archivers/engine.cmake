# Tests of the extraction engine and the five archiver libraries built on it.

# The command-line reader and the safe writer, fed directly.
foreach(test tst_commandline tst_safewriter)
  add_executable(${test} ${CMAKE_CURRENT_LIST_DIR}/${test}.cpp)
  target_link_libraries(${test} PRIVATE tenvo_engine Qt6::Test)
  add_test(NAME ${test} COMMAND ${test})
endforeach()

# The real libraries, loaded with dlopen from the program folder, on ZIP and
# 7z archives that the test writes with libarchive; the engine's own gzip
# reading fed directly.
add_executable(tst_libarchiveformats ${CMAKE_CURRENT_LIST_DIR}/tst_libarchiveformats.cpp)
target_link_libraries(tst_libarchiveformats PRIVATE tenvo_testsupport tenvo_engine PkgConfig::LIBARCHIVE Qt6::Test
                      ${CMAKE_DL_LIBS})
target_include_directories(tst_libarchiveformats PRIVATE ${PROJECT_SOURCE_DIR}/archivers/engine)
target_compile_definitions(tst_libarchiveformats PRIVATE TENVO_BIN_DIR="${TENVO_BIN_DIR}")
add_dependencies(tst_libarchiveformats unlha32 cab32 unzip32 sevenzip32 unrar32 tar32)
add_test(NAME tst_libarchiveformats COMMAND tst_libarchiveformats)

# Each library exports exactly its four calls.
foreach(library unlha32 cab32 unzip32 sevenzip32 unrar32 tar32)
  add_test(NAME tst_exports_${library}
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:${library}>
                   -P ${CMAKE_CURRENT_LIST_DIR}/checkexports.cmake)
endforeach()

# All five libraries on LZH, RAR 5, RAR 4 and CAB fixtures from tests/support.
if(TARGET tenvo_testsupport)
  add_executable(tst_archiverlibraries ${CMAKE_CURRENT_LIST_DIR}/tst_archiverlibraries.cpp)
  target_link_libraries(tst_archiverlibraries PRIVATE tenvo_testsupport Qt6::Test ${CMAKE_DL_LIBS})
  target_include_directories(tst_archiverlibraries PRIVATE ${PROJECT_SOURCE_DIR}/archivers/engine)
  target_compile_definitions(tst_archiverlibraries PRIVATE TENVO_BIN_DIR="${TENVO_BIN_DIR}")
  # Its umask() stands in for the C library's, for the libraries too.
  set_target_properties(tst_archiverlibraries PROPERTIES ENABLE_EXPORTS ON)
  add_dependencies(tst_archiverlibraries unlha32 cab32 unzip32 sevenzip32 unrar32 tar32)
  add_test(NAME tst_archiverlibraries COMMAND tst_archiverlibraries)
endif()
