# The Windows program, cross-built with MinGW-w64 and run under Wine, so that
# "pause" goes to a real command processor. Without the cross compiler the
# leg is reported as skipped, with the reason; so are the runs under Wine
# when Wine is missing or this machine cannot run it.

# Finds each NAME:program pair as PERSON_NAME; sets `missing` to the programs
# not found.
function(person_find_tools)
    set(not_found "")
    foreach(tool IN LISTS ARGN)
        string(REPLACE ":" ";" tool "${tool}")
        list(GET tool 0 variable)
        list(GET tool 1 program)
        find_program(PERSON_${variable} ${program})
        if(NOT PERSON_${variable})
            list(APPEND not_found ${program})
        endif()
    endforeach()
    list(JOIN not_found ", " not_found)
    set(missing "${not_found}" PARENT_SCOPE)
endfunction()

person_find_tools(MINGW_CXX:i686-w64-mingw32-g++ MINGW_OBJDUMP:i686-w64-mingw32-objdump
                  MINGW_WINDRES:i686-w64-mingw32-windres)
if(missing)
    person_skip("win32 leg" "MinGW-w64 i686 is needed; not found: ${missing}")
    return()
endif()

include(ExternalProject)
set(person_win32_dir ${PROJECT_BINARY_DIR}/win32)
set(person_win32_exe ${person_win32_dir}/person.exe)
ExternalProject_Add(person_win32
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${person_win32_dir}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DBUILD_TESTING=OFF
        -DPERSON_HARDEN=ON
    BUILD_BYPRODUCTS ${person_win32_exe}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
)
add_dependencies(person_cli_tests person_win32)

# The file itself: a 32-bit console program that needs only system DLLs,
# with its version resource and manifest.
add_test(NAME win32.executable
    COMMAND ${CMAKE_COMMAND} -D FORMAT=pe -D TOOL=${PERSON_MINGW_OBJDUMP}
            -D RESOURCES=${PERSON_MINGW_WINDRES} -D VERSION=${PROJECT_VERSION}
            -D EXE=${person_win32_exe} -P ${CMAKE_CURRENT_SOURCE_DIR}/check-executable.cmake)

# Wine runs the program as a 32-bit x86 process; a kernel booted without
# 32-bit support refuses to start one ("Exec format error").
person_find_tools(WINE:wine WINEBOOT:wineboot WINESERVER:wineserver)
if(missing)
    person_skip("win32 runs" "Wine is needed; not found: ${missing}")
    return()
endif()
execute_process(COMMAND ${PERSON_WINE} --version RESULT_VARIABLE wine_failed
                OUTPUT_QUIET ERROR_VARIABLE wine_error)
if(wine_failed)
    string(REGEX REPLACE "[\n\r]+" " " wine_error "${wine_error}")
    string(REGEX REPLACE "^.*: " "" wine_error "${wine_error}")
    string(STRIP "${wine_error}" wine_error)
    person_skip("win32 runs"
        "this machine cannot run Wine, a 32-bit x86 program: ${wine_error}")
    return()
endif()

# Wine keeps its state in a prefix of its own inside the build tree and says
# nothing of itself. The prefix is made once before the cases, and its server
# is shut down when the tests end so that nothing outlives the run.
set(person_wine_environment
    WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix
    WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml="
)
foreach(action IN ITEMS start stop)
    add_test(NAME win32.wine_${action}
        COMMAND ${CMAKE_COMMAND} -D ACTION=${action} -D WINEBOOT=${PERSON_WINEBOOT}
                -D WINESERVER=${PERSON_WINESERVER} -P ${CMAKE_CURRENT_SOURCE_DIR}/wine.cmake)
    set_tests_properties(win32.wine_${action} PROPERTIES
        ENVIRONMENT "${person_wine_environment}")
endforeach()
set_tests_properties(win32.wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(win32.wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# The runner's cases, less those left out by name:
# - TerminalWait, TerminalJobControl: POSIX terminal modes and signals, which
#   mean nothing to a Windows console program;
# - StdinAndStdoutClosed: Wine itself fails there (a protocol error between
#   its processes ends the program with status 1); each stream closed on its
#   own is covered;
# - PipedInput/NonBlocking: there the command processor, not the program,
#   reads the input, and what it makes of a non-blocking pipe is its own.
gtest_discover_tests(person_cli_tests
    TEST_PREFIX win32.
    TEST_FILTER "-*TerminalWait.*:*TerminalJobControl.*:*/StdinAndStdoutClosed:*PipedInput*/NonBlocking"
    EXTRA_ARGS --program ${person_win32_exe} --launcher ${PERSON_WINE} --windows
               --keep-env WINEPREFIX --keep-env WINEDEBUG --keep-env WINEDLLOVERRIDES
               --keep-env HOME --keep-env PATH
    PROPERTIES ENVIRONMENT "${person_wine_environment}" FIXTURES_REQUIRED wine
)
