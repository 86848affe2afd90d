# The same sources for 64-bit Windows, whose test programs run under the host's 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(BRM_TRIPLETE x86_64-w64-mingw32)
set(BRM_EMULADOR wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-comun.cmake)
