# What the target system offers, decided here once; the rest of the build names the facility it
# relies on. TESSALY_SYSTEM names the implementation of the platform interface (platform/Platform.h)
# and of the test helpers the build takes: Posix, or Win32 for Windows.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(TESSALY_SYSTEM Win32)
    set(TESSALY_POSIX OFF)
else()
    set(TESSALY_SYSTEM Posix)
    set(TESSALY_POSIX ON) # fork, signals by number, ELF loaders that pick function clones
endif()
