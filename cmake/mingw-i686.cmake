# 32-bit Windows (the product's architecture). SSE2 and SSE arithmetic: every
# machine that runs a current host has them, and floating-point results then
# match the 64-bit and Linux builds.
set(ZAN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
