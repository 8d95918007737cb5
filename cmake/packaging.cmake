# `cpack` in a build tree: a zip with person.exe and the README for Windows,
# a .tar.gz with the program and the README elsewhere.
include(GNUInstallDirs)

if(WIN32)
    set(person_bin_dir .)
    set(person_doc_dir .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win32)
else()
    set(person_bin_dir ${CMAKE_INSTALL_BINDIR})
    set(person_doc_dir ${CMAKE_INSTALL_DOCDIR})
    set(CPACK_GENERATOR TGZ)
endif()

install(TARGETS person RUNTIME DESTINATION ${person_bin_dir})
install(FILES README.md DESTINATION ${person_doc_dir})

set(CPACK_PACKAGE_VENDOR "person")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
