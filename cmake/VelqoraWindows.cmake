# Third-party pieces of the Windows cross build (cmake/mingw-w64.cmake).
# Debian ships no MinGW builds of spdlog, fmt, nlohmann json or GoogleTest,
# but the first three work header-only and GoogleTest comes as sources; the
# cross compiler must not search /usr/include, so a private folder offers
# only these headers.
set(velqora_win_include ${PROJECT_BINARY_DIR}/third-party-include)
file(MAKE_DIRECTORY ${velqora_win_include})
foreach(dir spdlog fmt nlohmann)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "/usr/include/${dir} is missing: install libspdlog-dev, libfmt-dev and nlohmann-json3-dev")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${velqora_win_include}/${dir} SYMBOLIC)
endforeach()

add_library(velqora_fmt INTERFACE)
target_include_directories(velqora_fmt SYSTEM INTERFACE ${velqora_win_include})
target_compile_definitions(velqora_fmt INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS velqora_fmt)

add_library(velqora_spdlog INTERFACE)
target_compile_definitions(velqora_spdlog INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL)
target_link_libraries(velqora_spdlog INTERFACE velqora_fmt)
add_library(spdlog::spdlog ALIAS velqora_spdlog)

add_library(velqora_json INTERFACE)
target_include_directories(velqora_json SYSTEM INTERFACE ${velqora_win_include})
add_library(nlohmann_json::nlohmann_json ALIAS velqora_json)

find_package(Threads REQUIRED)

if(VELQORA_BUILD_TESTS)
    set(VELQORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built with the cross compiler")
    if(NOT EXISTS ${VELQORA_GTEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "GoogleTest sources not found in ${VELQORA_GTEST_SOURCE} (Debian package googletest)")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${VELQORA_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# What Debian offers no Windows build of stays out of this tree.
set(VELQORA_BUILD_GUI OFF CACHE BOOL "" FORCE)
set(VELQORA_PYTHON OFF CACHE BOOL "" FORCE)
set(VELQORA_BUILD_BENCH OFF CACHE BOOL "" FORCE)
message(STATUS "Windows tree: the program Velqora is left out (needs Qt 6 for Windows)")
message(STATUS "Windows tree: the Python module is left out (needs a Windows Python)")
message(STATUS "Windows tree: the benchmarks are left out (need Google Benchmark for Windows)")

# windows.h without its min/max macros and rarely used parts; Windows 10 API.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
