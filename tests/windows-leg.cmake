# The Windows programs, cross-built with MinGW-w64 and run under Wine, so that
# "pause" goes to a real command processor. One leg per CPU: the tests of the
# 32-bit program are named win32.*, those of the 64-bit one win64.*. Where a
# leg cannot run here (no cross compiler, no Wine, or a kernel that cannot
# start Wine's loader) it is reported as skipped, with the reason and what to
# do about it in the test's name.

# The runner's cases, less those left out by name, the same on both legs:
# - TerminalWait, TerminalJobControl, TerminalRun: POSIX terminal modes,
#   signals and luit, which mean nothing to a Windows console program;
# - StdinAndStdoutClosed: Wine itself fails there (a protocol error between
#   its processes ends the program with status 1); each stream closed on its
#   own is covered;
# - PipedInput/NonBlocking: there the command processor, not the program,
#   reads the input, and what it makes of a non-blocking pipe is its own.
set(person_windows_cases
    "-*TerminalWait.*:*TerminalJobControl.*:*TerminalRun.*:*/StdinAndStdoutClosed:*PipedInput*/NonBlocking")

# person_windows_leg(<leg> ARCH <i686|x86_64> LOADER <wine program> [REMEDY <text>])
#   <leg>:  win32 or win64, the prefix of the leg's test names and its folder
#           build/<preset>/<leg>;
#   LOADER: the Wine program that starts a program of that CPU;
#   REMEDY: what to do where this machine cannot start that loader.
function(person_windows_leg leg)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "ARCH;LOADER;REMEDY" "")
    set(triplet ${arg_ARCH}-w64-mingw32)
    person_find_tools(${leg}_CXX:${triplet}-g++ ${leg}_OBJDUMP:${triplet}-objdump
                      ${leg}_WINDRES:${triplet}-windres)
    if(missing)
        person_skip("${leg} leg" "MinGW-w64 ${arg_ARCH} is needed; not found: ${missing}")
        return()
    endif()

    include(ExternalProject)
    set(build_dir ${PROJECT_BINARY_DIR}/${leg})
    set(exe ${build_dir}/person.exe)
    ExternalProject_Add(person_${leg}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${build_dir}
        CMAKE_ARGS
            -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
            -DPERSON_WINDOWS_ARCH=${arg_ARCH}
            -DCMAKE_BUILD_TYPE=Release
            -DBUILD_TESTING=OFF
            -DPERSON_HARDEN=ON
        BUILD_BYPRODUCTS ${exe}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
    )
    add_dependencies(person_cli_tests person_${leg})

    # The file itself: a console program of that CPU that needs only system
    # DLLs, with its version resource and manifest.
    add_test(NAME ${leg}.executable
        COMMAND ${CMAKE_COMMAND} -D FORMAT=pe -D MACHINE=${arg_ARCH}
                -D TOOL=${PERSON_${leg}_OBJDUMP} -D RESOURCES=${PERSON_${leg}_WINDRES}
                -D VERSION=${PROJECT_VERSION} -D EXE=${exe}
                -P ${CMAKE_CURRENT_SOURCE_DIR}/check-executable.cmake)

    person_find_tools(${leg}_WINE:${arg_LOADER} WINESERVER:wineserver PATHS /usr/lib/wine)
    if(missing)
        set(reason "Wine is needed; not found: ${missing}")
        if(CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
            string(APPEND reason ". The set-up installs no x86 Wine on an arm64 machine")
        endif()
        person_skip("${leg} runs" "${reason}")
        return()
    endif()
    set(loader ${PERSON_${leg}_WINE})
    execute_process(COMMAND ${loader} --version RESULT_VARIABLE failed
                    OUTPUT_QUIET ERROR_VARIABLE error)
    if(failed)
        string(REGEX REPLACE "[\n\r]+" " " error "${error}")
        string(REGEX REPLACE "^.*: " "" error "${error}")
        string(STRIP "${error}" error)
        set(reason "this machine cannot start ${arg_LOADER}: ${error}")
        if(arg_REMEDY)
            string(APPEND reason ". ${arg_REMEDY}")
        endif()
        person_skip("${leg} runs" "${reason}")
        return()
    endif()

    # Wine keeps its state in a prefix of the leg's own inside the build tree,
    # of the leg's kind (Wine names them win32 and win64 too), and says
    # nothing of itself. The prefix is made once before the cases,
    # and its server is shut down when the tests end so that nothing outlives
    # the run.
    set(environment
        WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix-${leg}
        WINEARCH=${leg}
        WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml="
    )
    foreach(action IN ITEMS start stop)
        add_test(NAME ${leg}.wine_${action}
            COMMAND ${CMAKE_COMMAND} -D ACTION=${action} -D WINE=${loader}
                    -D WINESERVER=${PERSON_WINESERVER} -P ${CMAKE_CURRENT_SOURCE_DIR}/wine.cmake)
        set_tests_properties(${leg}.wine_${action} PROPERTIES ENVIRONMENT "${environment}")
    endforeach()
    set_tests_properties(${leg}.wine_start PROPERTIES FIXTURES_SETUP wine_${leg})
    set_tests_properties(${leg}.wine_stop PROPERTIES FIXTURES_CLEANUP wine_${leg})

    # The cases get Wine's settings through the runner: a list-valued test
    # property does not survive the test discovery whole.
    list(TRANSFORM environment PREPEND "--env;")
    gtest_discover_tests(person_cli_tests
        TEST_PREFIX ${leg}.
        TEST_FILTER "${person_windows_cases}"
        EXTRA_ARGS --program ${exe} --launcher ${loader} --windows ${environment}
                   --keep-env HOME --keep-env PATH
        PROPERTIES FIXTURES_REQUIRED wine_${leg}
    )
endfunction()

# The 32-bit program runs on every Windows. Wine runs it as a 32-bit x86
# process, which a kernel booted without 32-bit support refuses ("Exec format
# error") unless an emulator is registered for such programs.
person_windows_leg(win32 ARCH i686 LOADER wine
    REMEDY "As root, run cmake/register-i386-emulator.sh")
# The 64-bit program, for 64-bit Windows (and Windows on Arm, through its x64
# emulation), under Wine's 64-bit loader: the `wine` command picks the 32-bit
# one whenever 32-bit Wine is installed.
person_windows_leg(win64 ARCH x86_64 LOADER wine64)
