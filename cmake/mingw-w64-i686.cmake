# The shipped Windows program: 32-bit.
set(QV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
