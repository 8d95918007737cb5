# Starts and stops the Wine a Windows leg runs under, in the prefix named by
# WINEPREFIX, with the loader WINE (wine for 32-bit programs, wine64 for 64-bit).
# Usage: cmake -D ACTION=start|stop -D WINE=... -D WINESERVER=... -P wine.cmake
#
# start: makes the prefix, then leaves one persistent server running so that
#        the cases do not each pay for a server start. Its output goes to
#        /dev/null: a server holding CTest's output pipe would hold CTest.
# stop:  shuts the server down and waits until it has gone.
cmake_policy(VERSION 3.25)

if(ACTION STREQUAL "start")
    execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE failed
                    OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    if(failed)
        message(FATAL_ERROR "wineboot --init failed: ${failed}")
    endif()
    execute_process(COMMAND ${WINESERVER} --persistent RESULT_VARIABLE failed
                    INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
elseif(ACTION STREQUAL "stop")
    # Nothing to kill is not a failure.
    execute_process(COMMAND ${WINESERVER} --kill OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${WINESERVER} --wait OUTPUT_QUIET ERROR_QUIET)
else()
    message(FATAL_ERROR "ACTION must be start or stop")
endif()
