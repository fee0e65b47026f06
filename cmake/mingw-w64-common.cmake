# What both Windows toolchains share; each sets SIDTUNE_MINGW_TRIPLET and includes this.
# The -posix compilers: std::mutex and std::thread need the POSIX thread model. Everything is
# linked statically, so the DLL and the programs depend on nothing but Windows' own libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SIDTUNE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SIDTUNE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SIDTUNE_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SIDTUNE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
