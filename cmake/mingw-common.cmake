# Shared part of the two mingw-w64 toolchain files; QRVL_TRIPLET names the target.
set(CMAKE_C_COMPILER   ${QRVL_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRVL_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${QRVL_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QRVL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No mingw runtime DLL next to the exe: everything static.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
