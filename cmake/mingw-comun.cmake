# What both cross toolchains share: the posix-threads variant of mingw-w64 for the target
# BRM_TRIPLETE, and BRM_EMULADOR, the script of scripts/ that runs the build's test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BRM_TRIPLETE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRM_TRIPLETE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRM_TRIPLETE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRM_TRIPLETE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/${BRM_EMULADOR})
