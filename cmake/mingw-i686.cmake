# The shipped product: 32-bit Windows. Its test programs run under the 32-bit Wine of
# scripts/win32 (a chroot with qemu-i386).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BRM_TRIPLETE i686-w64-mingw32)
set(BRM_EMULADOR win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-comun.cmake)
