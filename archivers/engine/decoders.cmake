# The unarr, libmspack, liblhasa and 7z decryption (nettle) decoders of the extraction engine.
target_sources(tenvo_engine PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/decoderutil.h
    ${CMAKE_CURRENT_LIST_DIR}/decoderutil.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rar4header.h
    ${CMAKE_CURRENT_LIST_DIR}/rar4header.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rar4volumes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/volumeset.h
    ${CMAKE_CURRENT_LIST_DIR}/volumeset.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zipscan.h
    ${CMAKE_CURRENT_LIST_DIR}/zipscan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zipdirect.h
    ${CMAKE_CURRENT_LIST_DIR}/zipdirect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zipreader.h
    ${CMAKE_CURRENT_LIST_DIR}/zipreader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unarrdecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cabdirect.h
    ${CMAKE_CURRENT_LIST_DIR}/cabdirect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mspackdecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lzhhuffman.h
    ${CMAKE_CURRENT_LIST_DIR}/lzhhuffman.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lhasadecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lzmadecoder.h
    ${CMAKE_CURRENT_LIST_DIR}/lzmadecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipcrypt.h
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipcrypt.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipheader.h
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipheader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipfilter.h
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipfilter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sevenzipdecoder.cpp)
target_include_directories(tenvo_engine PRIVATE ${UNARR_INCLUDE_DIR})
target_link_libraries(tenvo_engine PRIVATE ${UNARR_LIBRARY} PkgConfig::LIBMSPACK PkgConfig::LIBLHASA PkgConfig::NETTLE
    PkgConfig::LIBISAL)
# The LZMA decoder's hot loop gains from the heavier inlining of -O3.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/lzmadecoder.cpp PROPERTIES COMPILE_OPTIONS -O3)
