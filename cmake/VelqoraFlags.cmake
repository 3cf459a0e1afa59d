# Compile and link flags, attached per target rather than to the whole tree:
#   velqora_warnings       warnings (errors under VELQORA_WERROR), for every target we build;
#   velqora_instrumentation sanitizers and fuzzing coverage, for the libraries, the
#                           program, the tests, the benchmarks and the fuzz targets.
# Build-time tools (code generators run during the build) link only the warnings:
# an instrumented tool would run, and fail, inside the build.
# velqora_use_flags(target...) attaches both; velqora_use_tool_flags(target...) the first.

set(velqora_gcc_like "$<OR:$<CXX_COMPILER_ID:GNU>,$<CXX_COMPILER_ID:Clang>,$<CXX_COMPILER_ID:AppleClang>>")
set(velqora_msvc "$<CXX_COMPILER_ID:MSVC>")

add_library(velqora_warnings INTERFACE)
target_compile_options(velqora_warnings INTERFACE
    "$<${velqora_gcc_like}:-Wall;-Wextra>"
    "$<${velqora_msvc}:/W4>")
if(VELQORA_WERROR)
    target_compile_options(velqora_warnings INTERFACE
        "$<${velqora_gcc_like}:-Werror>"
        "$<${velqora_msvc}:/WX>")
endif()

if(VELQORA_SANITIZE AND VELQORA_TSAN)
    message(FATAL_ERROR "VELQORA_SANITIZE and VELQORA_TSAN cannot be combined")
endif()
if((VELQORA_SANITIZE OR VELQORA_TSAN) AND NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "The sanitizer options need GCC or Clang")
endif()
if(VELQORA_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELQORA_FUZZ needs clang: configure with CXX=clang++")
endif()

add_library(velqora_instrumentation INTERFACE)
if(VELQORA_SANITIZE)
    target_compile_options(velqora_instrumentation INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer)
    # GCC's flow analysis through the instrumented standard library (std::regex,
    # std::function) reports values as maybe uninitialised that are not: a
    # warning there, never an error.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(velqora_instrumentation INTERFACE -Wno-error=maybe-uninitialized)
    endif()
    target_link_options(velqora_instrumentation INTERFACE -fsanitize=address,undefined)
endif()
if(VELQORA_TSAN)
    target_compile_options(velqora_instrumentation INTERFACE
        -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(velqora_instrumentation INTERFACE -fsanitize=thread)
endif()
if(VELQORA_FUZZ)
    # Coverage for every library; the fuzz targets add the fuzzer's main.
    target_compile_options(velqora_instrumentation INTERFACE -fsanitize=fuzzer-no-link)
endif()

function(velqora_use_flags)
    foreach(target ${ARGN})
        target_link_libraries(${target} PRIVATE
            $<BUILD_INTERFACE:velqora_warnings> $<BUILD_INTERFACE:velqora_instrumentation>)
    endforeach()
endfunction()

function(velqora_use_tool_flags)
    foreach(target ${ARGN})
        target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:velqora_warnings>)
    endforeach()
endfunction()

# Fails the configuration when a target we compile under dir (recursively)
# was given neither of the two: a new target cannot silently miss the warnings.
# (Object libraries are left out: Qt makes them for compiled-in resources.)
function(velqora_check_flags dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        if(NOT sources)
            continue()
        endif()
        get_target_property(links ${target} LINK_LIBRARIES)
        if(NOT "$<BUILD_INTERFACE:velqora_warnings>" IN_LIST links)
            message(FATAL_ERROR "${target} (${dir}) lacks velqora_use_flags or velqora_use_tool_flags")
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        # Third-party sources built beside ours (GoogleTest for a cross tree)
        # keep their own flags.
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${sub}" NORMALIZE ours)
        if(ours)
            velqora_check_flags(${sub})
        endif()
    endforeach()
endfunction()
