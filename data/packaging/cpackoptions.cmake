# Read by cpack before it packages: puts the package generator's wrapper
# (modules/Internal/CPack/CPackDeb.cmake) in front of CMake's own.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/modules)
