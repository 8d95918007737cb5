# The set-up script on systems it does not know: each is refused before
# anything is changed, with the supported releases and the packages to
# install by hand named.
# Usage: cmake -D SETUP=<cmake/setup.sh> -D SCRATCH=<folder> -P check-setup.cmake
cmake_policy(VERSION 3.25)

# Each row: a name, then the os-release lines of such a system.
set(systems
    "Fedora|ID=fedora|VERSION_ID=41|VERSION_CODENAME="
    "Debian11|ID=debian|VERSION_ID=11|VERSION_CODENAME=bullseye"
    "DebianTesting|ID=debian|VERSION_CODENAME=forky"
    "Ubuntu2004|ID=ubuntu|ID_LIKE=debian|VERSION_ID=20.04|VERSION_CODENAME=focal"
    "Mint|ID=linuxmint|ID_LIKE=ubuntu|VERSION_ID=22|VERSION_CODENAME=wilma"
    "Empty|")
set(problems "")
file(MAKE_DIRECTORY ${SCRATCH})
foreach(system IN LISTS systems)
    string(REPLACE "|" ";" lines "${system}")
    list(POP_FRONT lines name)
    list(JOIN lines "\n" text)
    file(WRITE ${SCRATCH}/${name} "${text}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env OS_RELEASE=${SCRATCH}/${name} ${SETUP}
                    INPUT_FILE /dev/null RESULT_VARIABLE status
                    OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(status EQUAL 0 OR NOT output MATCHES "Debian 12 \\(bookworm\\)"
       OR NOT output MATCHES "Debian 13 \\(trixie\\)" OR NOT output MATCHES "by hand: cmake ")
        list(APPEND problems "${name}: status ${status}: ${output}")
    endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})
if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "${text}")
endif()
