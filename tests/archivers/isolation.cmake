# Tests of decoder isolation.
qt_add_executable(tst_isolation tst_isolation.cpp)
target_link_libraries(tst_isolation PRIVATE tenvo_isolation Qt6::Test)
add_test(NAME tst_isolation COMMAND tst_isolation)
