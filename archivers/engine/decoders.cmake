# The decoders built on unarr, libmspack, liblhasa, libarchive and nettle (7z
# decryption), with the engine's own decoders they hand work to.
add_library(tenvo_engine_decoders OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/librarydecoders.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libarchivedecoder.h
    ${CMAKE_CURRENT_LIST_DIR}/libarchivedecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rar4header.h
    ${CMAKE_CURRENT_LIST_DIR}/rar4header.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rar4volumes.cpp
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
target_include_directories(tenvo_engine_decoders PRIVATE ${UNARR_INCLUDE_DIR})
target_link_libraries(tenvo_engine_decoders PUBLIC tenvo_engine_core PkgConfig::LIBARCHIVE ${UNARR_LIBRARY}
    PkgConfig::LIBMSPACK PkgConfig::LIBLHASA PkgConfig::NETTLE PkgConfig::LIBISAL)
# The LZMA decoder's hot loop gains from the heavier inlining of -O3.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/lzmadecoder.cpp PROPERTIES COMPILE_OPTIONS -O3)
