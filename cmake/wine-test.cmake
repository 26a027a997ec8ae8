# Tests run under Wine on a prefix inside the build folder (never ~/.wine).
set(QRVL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QRVL_LOCPATH ${CMAKE_BINARY_DIR}/locale)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# One ctest test per GoogleTest program: each program runs all its cases in
# one Wine process, which keeps a warm run short.
function(qrvl_add_wine_test target)
  add_test(NAME ${target}
           COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:${target}> --gtest_color=no)
  set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  qrvl_check_delay_slots(${target})
endfunction()
