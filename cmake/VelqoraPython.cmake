# Finds what the Python module `velqora` needs, for one interpreter: Debian's
# own python3 by default (its numpy and h5py come from Debian packages; an
# interpreter first on PATH, such as a pyenv one, is not the users' one).
# Sets VELQORA_PYTHON_FOUND, Python_EXECUTABLE and the module folders
# VELQORA_PYTHON_{SYSTEM,LOCAL,USER}_DIR (relative to the install prefix). Never fails the configure: what is
# missing is named in a status message and the module is left out.

set(VELQORA_PYTHON_EXECUTABLE /usr/bin/python3 CACHE FILEPATH
    "Interpreter the Python module is built and tested for")
set(VELQORA_PYTHON_FOUND FALSE)

function(velqora_python_off why)
    message(STATUS "Python module velqora: off (${why})")
endfunction()
set(velqora_python_needs "pybind11-dev, python3-dev and python3-numpy for ${VELQORA_PYTHON_EXECUTABLE}")

if(VELQORA_SANITIZE OR VELQORA_TSAN OR VELQORA_FUZZ)
    # An instrumented extension loads only into an instrumented interpreter.
    velqora_python_off("sanitizer or fuzz tree")
    return()
endif()
if(NOT EXISTS "${VELQORA_PYTHON_EXECUTABLE}")
    velqora_python_off("no ${VELQORA_PYTHON_EXECUTABLE}; needs ${velqora_python_needs}")
    return()
endif()

set(Python_EXECUTABLE "${VELQORA_PYTHON_EXECUTABLE}")
find_package(Python 3.8 QUIET COMPONENTS Interpreter Development.Module)
if(NOT Python_FOUND)
    velqora_python_off("no Python headers; needs ${velqora_python_needs}")
    return()
endif()
execute_process(COMMAND "${Python_EXECUTABLE}" -c "import numpy"
    RESULT_VARIABLE numpy_status OUTPUT_QUIET ERROR_QUIET)
if(NOT numpy_status EQUAL 0)
    velqora_python_off("numpy not importable; needs ${velqora_python_needs}")
    return()
endif()
set(PYBIND11_FINDPYTHON ON)
find_package(pybind11 2.6 CONFIG QUIET)
if(NOT pybind11_FOUND)
    velqora_python_off("pybind11 not found; needs ${velqora_python_needs}")
    return()
endif()

# Where the interpreter looks for modules under an install prefix, chosen
# when installing: Debian's python3 reads /usr/lib/python3/dist-packages
# for a /usr prefix (also a package's staging .../usr), the user site
# (lib/python3.X/site-packages) under ~/.local, and lib/python3.X/dist-packages
# under /usr/local and any other prefix. Each is three folders deep, so one
# RPATH finds KorvaneBase from all of them. Interpreters without Debian's
# layouts get their own site-packages.
execute_process(COMMAND "${Python_EXECUTABLE}" -c [=[
import site, sys, sysconfig
schemes = sysconfig.get_scheme_names()
def rel(scheme, base):
    path = sysconfig.get_path('platlib', scheme, vars={'platbase': base, 'base': base, 'userbase': base})
    return path[len(base) + 1:]
local = rel('posix_local', '/usr')[len('local/'):] if 'posix_local' in schemes else rel('posix_prefix', '/p')
system = rel('deb_system', '/usr') if 'deb_system' in schemes else local
user = rel('posix_user', '/u') if 'posix_user' in schemes else local
print(';'.join([system, local, user, site.getuserbase()]), end='')
]=] OUTPUT_VARIABLE python_dirs RESULT_VARIABLE python_dirs_status)
list(LENGTH python_dirs python_dirs_count)
if(NOT python_dirs_status EQUAL 0 OR NOT python_dirs_count EQUAL 4)
    velqora_python_off("cannot ask ${Python_EXECUTABLE} for its module folders")
    return()
endif()
list(GET python_dirs 0 VELQORA_PYTHON_SYSTEM_DIR)
list(GET python_dirs 1 VELQORA_PYTHON_LOCAL_DIR)
list(GET python_dirs 2 VELQORA_PYTHON_USER_DIR)
list(GET python_dirs 3 VELQORA_PYTHON_USER_BASE)
set(VELQORA_PYTHON_INSTALL_DIR "" CACHE STRING
    "Folder of the Python module relative to the install prefix (empty: chosen by the prefix)")

set(VELQORA_PYTHON_FOUND TRUE)
message(STATUS "Python module velqora: on (${Python_EXECUTABLE} ${Python_VERSION})")
