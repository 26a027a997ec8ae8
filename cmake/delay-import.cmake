# qrvl_delay_import(<name>): an INTERFACE target delay_<name> that links the
# system DLL <name>.dll through a delay-import library made from the
# toolchain's lib<name>.a (cmake/make-delaylib.sh). The DLL is then loaded on
# the first call of one of its functions, not at start; mingw-w64's runtime
# brings the loader helper. Link it in place of <name>.
#
# 64-bit only for now: the 32-bit linker (binutils 2.40) drops the stub of a
# delay-imported function that is called only through its __imp_ pointer
# (every function the headers declare dllimport, as crypt32's and comdlg32's),
# leaving its slot 0 and the first call jumping to address 0. On 32-bit
# delay_<name> links <name> as usual.
find_program(QRVL_NM NAMES ${QRVL_TRIPLET}-nm REQUIRED)
find_program(QRVL_DLLTOOL NAMES ${QRVL_TRIPLET}-dlltool REQUIRED)
function(qrvl_delay_import name)
  if(NOT QRVL_BITS EQUAL 64)
    add_library(delay_${name} INTERFACE)
    target_link_libraries(delay_${name} INTERFACE ${name})
    return()
  endif()
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
  add_library(delay_${name} INTERFACE)
  target_link_libraries(delay_${name} INTERFACE ${_lib})
  add_dependencies(delay_${name} delay_${name}_lib)
endfunction()
