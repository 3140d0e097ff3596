# The same Windows program built 64-bit, for its tests under 64-bit Wine where this machine
# cannot run 32-bit code at all. Never shipped.
set(QV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
