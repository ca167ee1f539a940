# The hardening Debian builds its packages with (dpkg-buildflags, hardening=+all): PIE, a
# read-only GOT bound at start (-z relro, -z now), fortified C library calls and stack
# protection. Sanitizer builds keep their own instrumentation: fortify would hide what ASan sees.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_link_options(LINKER:-z,relro LINKER:-z,now)
add_compile_options(-Wformat -Werror=format-security)
if(NOT SANITIZE)
    foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "HAVE${flag}" have)
        check_cxx_compiler_flag(${flag} ${have})
        if(${have})
            add_compile_options(${flag})
        endif()
    endforeach()
    # Fortify needs the optimiser; a Debug build would only warn, and -Werror stops it.
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
