# Read by cpack before it makes each package.

# The .deb holds Debian's copyright file, changelog and lintian overrides;
# the archives hold LICENSE instead.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(person_components program debian)
else()
    set(person_components program license)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS person_components)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_PERSON_BINARY_DIR} person ${component} /)
endforeach()

# One time for every file packaged: SOURCE_DATE_EPOCH, or else the last
# commit's time, or else (not a git checkout) the time of the source tree's
# CMakeLists.txt. The DEB generator reads it from the environment itself.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git log -1 --format=%ct
                    WORKING_DIRECTORY ${CPACK_PERSON_SOURCE_DIR}
                    OUTPUT_VARIABLE person_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET RESULT_VARIABLE person_git_failed)
    if(person_git_failed OR NOT person_epoch MATCHES "^[0-9]+$")
        file(TIMESTAMP ${CPACK_PERSON_SOURCE_DIR}/CMakeLists.txt person_epoch "%s" UTC)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${person_epoch})
endif()
