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
step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
step(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
# The consumer's build path leads to the installed library, not to this tree.
step(${WORK_DIR}/consumer/consumer)
if(NOT step_output MATCHES "consumer linked 1" OR NOT step_output MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected consumer output:\n${step_output}")
endif()
