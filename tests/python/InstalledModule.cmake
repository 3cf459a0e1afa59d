# Installs KorvaneBase and the Python module into a scratch prefix, then
# imports the module from there with nothing of the build tree on the path:
# the install folder and the module's RPATH must fit together.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
foreach(part base python)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR}/${part} --prefix ${prefix}
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "install of ${part} failed:\n${out}")
    endif()
endforeach()
file(GLOB_RECURSE modules ${prefix}/*/velqora.*.so)
list(LENGTH modules count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one installed module, found: ${modules}")
endif()
get_filename_component(module_dir ${modules} DIRECTORY)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH PYTHONPATH=${module_dir}
        ${PYTHON} -c "import velqora, sys; assert velqora.__file__.startswith(sys.argv[1]); print(velqora.EVENT_DTYPE.itemsize)" ${prefix}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "16")
    message(FATAL_ERROR "installed module does not import:\n${out}")
endif()
