# Run by cpack once the files of a package are staged: gives each of them,
# and each folder, the time SOURCE_DATE_EPOCH names, so that archives record
# no time of the build.
file(GLOB_RECURSE person_staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
if(person_staged)
    execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${person_staged}
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot set the time of the staged files")
    endif()
endif()
