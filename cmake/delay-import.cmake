# qrvl_delay_import(<name>): an INTERFACE target delay_<name> that links the
# system DLL <name>.dll through a delay-import library made from the
# toolchain's lib<name>.a (cmake/make-delaylib.sh). The DLL is then loaded on
# the first call of one of its functions, not at start; mingw-w64's runtime
# brings the loader helper. Link it in place of <name>.
#
# On 32-bit the linker (binutils 2.40) drops the stub of a delay-imported
# function that is referenced only through its __imp_ pointer, which is how a
# call to a function declared dllimport reaches it: the pointer's slot would
# stay 0 and the first call jump to address 0. So on 32-bit the headers of
# these DLLs declare their functions without dllimport (the definitions
# below): a call goes to the function's stub, which keeps it. Every linked
# exe is checked for such slots (qrvl_check_delay_slots).
find_program(QRVL_NM NAMES ${QRVL_TRIPLET}-nm REQUIRED)
find_program(QRVL_DLLTOOL NAMES ${QRVL_TRIPLET}-dlltool REQUIRED)
if(QRVL_BITS EQUAL 32)
  # crypt32 (WINIMPM), comdlg32, setupapi, cfgmgr32
  add_compile_definitions(WINIMPM= _COMDLG32_ _SETUPAPI_ _CFGMGR32_)
endif()
set(QRVL_DELAY_DEFS "" CACHE INTERNAL "")
function(qrvl_delay_import name)
  find_library(_system_lib_${name} NAMES lib${name}.a REQUIRED NO_CACHE)
  set(_lib ${CMAKE_BINARY_DIR}/delayimp/libdelay_${name}.a)
  add_custom_command(
    OUTPUT ${_lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayimp
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-delaylib.sh ${QRVL_NM} ${QRVL_DLLTOOL} ${_system_lib_${name}}
            ${name}.dll ${_lib} ${QRVL_BITS}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make-delaylib.sh ${_system_lib_${name}}
    COMMENT "Delay-import library of ${name}.dll"
    VERBATIM)
  add_custom_target(delay_${name}_lib DEPENDS ${_lib})
  set(QRVL_DELAY_DEFS ${QRVL_DELAY_DEFS} ${_lib}.def CACHE INTERNAL "")
  add_library(delay_${name} INTERFACE)
  target_link_libraries(delay_${name} INTERFACE ${_lib})
  add_dependencies(delay_${name} delay_${name}_lib)
endfunction()

# qrvl_check_delay_slots(<target> [TEST]): every function of a delay-imported
# DLL that the target's exe imports has its stub, which fills the slot at the
# first call. Checked after every 32-bit link (a build step that fails the
# build); with TEST also as the ctest test delay_slots_<target> on both targets.
function(qrvl_check_delay_slots target)
  set(_cmd ${CMAKE_SOURCE_DIR}/cmake/check-delay-slots.sh ${QRVL_NM} $<TARGET_FILE:${target}> ${QRVL_DELAY_DEFS})
  if(QRVL_BITS EQUAL 32)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${_cmd} VERBATIM)
  endif()
  if(ARGV1 STREQUAL "TEST")
    add_test(NAME delay_slots_${target} COMMAND ${_cmd})
  endif()
endfunction()
