# The Windows build: callpanel and the window callpanel-tool, each one self-contained program
# with the C++ and thread runtimes linked in, so that the zip needs no DLL beside them. The
# window is drawn with the Windows API itself.

enable_language(RC)
find_package(Threads REQUIRED)
# localtime_r as on Linux, from mingw's own time.h.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
    _POSIX_THREAD_SAFE_FUNCTIONS=200112L)
add_link_options(-static)

# CLI11 and nlohmann-json are header-only: their Debian packages serve every target, but their
# CMake files name the whole of /usr/include, whose C library headers must not reach mingw.
set(HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${HOST_HEADERS})
foreach(dir CLI nlohmann)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup.sh")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${HOST_HEADERS})

# The version resource and manifest of one exe: packaging/windows/NAME.rc defines its name and
# description, includes version.rci and names NAME.manifest, made here from NAME.manifest.in
# with the project's version.
set(WINDOWS_RESOURCES ${CMAKE_BINARY_DIR}/windows-resources)
configure_file(packaging/windows/windows-version.h.in ${WINDOWS_RESOURCES}/windows-version.h
    @ONLY)
function(windows_resources target name)
    set(dir ${PROJECT_SOURCE_DIR}/packaging/windows)
    configure_file(${dir}/${name}.manifest.in ${WINDOWS_RESOURCES}/${name}.manifest @ONLY)
    set(rc ${dir}/${name}.rc)
    # windres reports no dependencies: a changed manifest or version must still rebuild.
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
        "${WINDOWS_RESOURCES}/${name}.manifest;${WINDOWS_RESOURCES}/windows-version.h;${dir}/version.rci")
    target_sources(${target} PRIVATE ${rc})
    target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${WINDOWS_RESOURCES}>
        $<$<COMPILE_LANGUAGE:RC>:${dir}>)
endfunction()

add_subdirectory(net)
add_subdirectory(protocol)
add_subdirectory(ui/logic) # the window's layout and decisions, shared with the Linux window
add_subdirectory(cli)
add_subdirectory(ui/win32)
add_subdirectory(app/win32)

install(TARGETS callpanel callpanel-tool RUNTIME DESTINATION .)

# The GBK table against code page 936, run under wine by e2e_callpanel_wine.
add_executable(gbk-codec-check tests/protocol/GbkCodecCheck.cpp protocol/rules/GbkCodecWin32.cpp)
target_include_directories(gbk-codec-check PRIVATE protocol/rules)

# WM_QUIT posted from outside to the window's thread, sent by app_wine_window.
add_executable(app-post-quit tests/app/PostQuit.cpp)
