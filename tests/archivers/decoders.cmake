# Tests of the unarr, libmspack and LZH decoders, and of the 7z layer beside libarchive.
foreach(test tst_rar4decoder tst_zipdeflate64 tst_cabdecoder tst_lzhdecoder tst_sevenzip)
  add_executable(${test}
      ${CMAKE_CURRENT_LIST_DIR}/${test}.cpp
      ${CMAKE_CURRENT_LIST_DIR}/decoderrecorder.h)
  target_link_libraries(${test} PRIVATE tenvo_engine tenvo_testsupport Qt6::Test)
  add_test(NAME ${test} COMMAND ${test})
endforeach()
