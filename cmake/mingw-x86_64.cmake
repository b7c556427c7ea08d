# 64-bit Windows: the same module built for x86-64, for machines that cannot
# run 32-bit code (see tests/win32/README).
set(ZAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
