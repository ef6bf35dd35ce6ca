# libsoxr, the resampler, as the target Tessaly::soxr. On Linux it is Debian's libsoxr-dev, found
# with pkg-config; the Windows build links the static library windows/build-soxr makes from
# Debian's source package of the same version, in the folder SOXR_ROOT names (scripts/windows
# passes what build-soxr prints).
include_guard(GLOBAL)
if(TESSALY_SYSTEM STREQUAL "Win32")
    set(SOXR_ROOT "" CACHE PATH "libsoxr for Windows, as windows/build-soxr installs it")
    if(NOT EXISTS "${SOXR_ROOT}/lib/libsoxr.a" OR NOT EXISTS "${SOXR_ROOT}/include/soxr.h")
        message(FATAL_ERROR "No libsoxr for Windows in SOXR_ROOT \"${SOXR_ROOT}\": configure "
                            "with -DSOXR_ROOT=\"$(windows/build-soxr)\"")
    endif()
    add_library(Tessaly::soxr INTERFACE IMPORTED GLOBAL)
    target_include_directories(Tessaly::soxr INTERFACE "${SOXR_ROOT}/include")
    # It is built with OpenMP: -fopenmp links GCC's libgomp, statically as the rest (no DLL).
    target_link_libraries(Tessaly::soxr INTERFACE "${SOXR_ROOT}/lib/libsoxr.a" -fopenmp)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET GLOBAL soxr)
    add_library(Tessaly::soxr ALIAS PkgConfig::SOXR)
endif()
