# Finds what the Python module `velqora` needs, for one interpreter: Debian's
# own python3 by default (its numpy and h5py come from Debian packages; an
# interpreter first on PATH, such as a pyenv one, is not the users' one).
# Sets VELQORA_PYTHON_FOUND, Python_EXECUTABLE and VELQORA_PYTHON_INSTALL_DIR
# (relative to the install prefix). Never fails the configure: what is
# missing is named in a status message and the module is left out.

set(VELQORA_PYTHON_EXECUTABLE /usr/bin/python3 CACHE FILEPATH
    "Interpreter the Python module is built and tested for")
set(VELQORA_PYTHON_FOUND FALSE)

function(velqora_python_off why)
    message(STATUS "Python module velqora: off (${why}; needs pybind11-dev, python3-dev "
                   "and python3-numpy for ${VELQORA_PYTHON_EXECUTABLE})")
endfunction()

if(VELQORA_SANITIZE OR VELQORA_TSAN OR VELQORA_FUZZ)
    # An instrumented extension loads only into an instrumented interpreter.
    velqora_python_off("sanitizer or fuzz tree")
    return()
endif()
if(NOT EXISTS "${VELQORA_PYTHON_EXECUTABLE}")
    velqora_python_off("no ${VELQORA_PYTHON_EXECUTABLE}")
    return()
endif()

set(Python_EXECUTABLE "${VELQORA_PYTHON_EXECUTABLE}")
find_package(Python 3.8 QUIET COMPONENTS Interpreter Development.Module)
if(NOT Python_FOUND)
    velqora_python_off("no Python headers")
    return()
endif()
execute_process(COMMAND "${Python_EXECUTABLE}" -c "import numpy"
    RESULT_VARIABLE numpy_status OUTPUT_QUIET ERROR_QUIET)
if(NOT numpy_status EQUAL 0)
    velqora_python_off("numpy not importable")
    return()
endif()
set(PYBIND11_FINDPYTHON ON)
find_package(pybind11 2.6 CONFIG QUIET)
if(NOT pybind11_FOUND)
    velqora_python_off("pybind11 not found")
    return()
endif()

# Where the interpreter looks for modules under an install prefix: Debian's
# python3 reads /usr/lib/python3/dist-packages for its packages and
# PREFIX/lib/python3.X/dist-packages for /usr/local; other interpreters use
# their own layout.
execute_process(COMMAND "${Python_EXECUTABLE}" -c [=[
import sys, sysconfig
prefix = sys.argv[1].rstrip('/') or '/'
schemes = sysconfig.get_scheme_names()
if prefix == '/usr' and 'deb_system' in schemes:
    path, base = sysconfig.get_path('platlib', 'deb_system', vars={'platbase': '/usr', 'base': '/usr'}), '/usr'
elif 'posix_local' in schemes:
    path, base = sysconfig.get_path('platlib', 'posix_local', vars={'platbase': '/usr', 'base': '/usr'}), '/usr/local'
else:
    path, base = sysconfig.get_path('platlib', 'posix_prefix', vars={'platbase': '/x', 'base': '/x'}), '/x'
print(path[len(base) + 1:] if path.startswith(base + '/') else 'lib/python%d.%d/site-packages' % sys.version_info[:2], end='')
]=] "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE python_dir RESULT_VARIABLE python_dir_status)
if(NOT python_dir_status EQUAL 0 OR python_dir STREQUAL "")
    set(python_dir "lib/python${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}/site-packages")
endif()
set(VELQORA_PYTHON_INSTALL_DIR "${python_dir}" CACHE STRING
    "Folder of the Python module, relative to the install prefix")

set(VELQORA_PYTHON_FOUND TRUE)
message(STATUS "Python module velqora: on (${Python_EXECUTABLE} ${Python_VERSION}, "
               "installs to ${VELQORA_PYTHON_INSTALL_DIR})")
