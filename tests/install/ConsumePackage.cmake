# Installs the built tree into a scratch prefix, then configures, builds and
# runs a consumer that finds KorvaneBase there. Any failing step fails the test.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
    endif()
    set(step_output "${out}" PARENT_SCOPE)
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/KorvaneBase/KvRecords.h include/KorvaneBase/Utils/JsonUtils.h)
    if(NOT EXISTS ${prefix}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
# The soname and the package file agree: both change with the minor version.
string(REGEX MATCH "^[0-9]+\\.[0-9]+" major_minor ${VERSION})
file(GLOB_RECURSE sonames LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*libKorvaneBase.so.*)
list(FILTER sonames INCLUDE REGEX "libKorvaneBase\\.so\\.${major_minor}$")
if(NOT sonames)
    message(FATAL_ERROR "no libKorvaneBase.so.${major_minor} installed")
endif()
# An earlier minor release is not offered as a match.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" unused ${VERSION})
if(CMAKE_MATCH_2 GREATER 0)
    math(EXPR earlier "${CMAKE_MATCH_2} - 1")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer-earlier
        -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix}
        -DKORVANE_BASE_WANT=${CMAKE_MATCH_1}.${earlier}
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        message(FATAL_ERROR "the package matched a request for ${CMAKE_MATCH_1}.${earlier}")
    endif()
endif()
# The installed kvraw starts its helpers, and they load: a conversion and a
# short export from the prefix alone.
if(EXISTS ${prefix}/bin/kvraw)
    step(${prefix}/bin/kvraw generate ${WORK_DIR}/g.raw 200000 200000)
    step(${prefix}/bin/kvraw convert ${WORK_DIR}/g.raw ${WORK_DIR}/g.npy)
    if(NOT step_output MATCHES "events")
        message(FATAL_ERROR "kvraw convert said:\n${step_output}")
    endif()
    file(GLOB helpers ${prefix}/*/velqora/kvraw-media)
    if(helpers)
        step(${prefix}/bin/kvraw export ${WORK_DIR}/g.raw ${WORK_DIR}/g.mp4 1000 100000)
    endif()
endif()
step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
     -DKORVANE_BASE_WANT=${major_minor})
step(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
# The consumer's build path leads to the installed library, not to this tree.
step(${WORK_DIR}/consumer/consumer)
if(NOT step_output MATCHES "consumer linked 1" OR NOT step_output MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected consumer output:\n${step_output}")
endif()
