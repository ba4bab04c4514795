# CMake's Debian package generator, less the ldconfig calls it writes into
# postinst and postrm for any library under /usr/lib: Tenvo's libraries live
# in /usr/lib/tenvo, which the dynamic linker never searches.
include(${CMAKE_ROOT}/Modules/Internal/CPack/CPackDeb.cmake)
set(GEN_CPACK_DEBIAN_GENERATE_POSTINST 0)
set(GEN_CPACK_DEBIAN_GENERATE_POSTRM 0)
