# Debian's MinGW-w64 compilers. The -win32 threading model is used: the
# launcher needs only Win32 threads and events (our own thin layer), and this
# model links no winpthreads, which keeps the static exe small.
set(CMAKE_C_COMPILER ${TARNIX_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TARNIX_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TARNIX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARNIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
