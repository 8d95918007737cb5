# Packages, made by `cpack` in a build tree (the release, win32 and win64
# workflows):
#   Linux:   person-<version>-Linux-<cpu>.tar.gz and person_<version>_<arch>.deb,
#            <cpu> as the kernel names it (x86_64, aarch64), <arch> as Debian
#            does (amd64, arm64)
#   Windows: person-<version>-win32.zip or person-<version>-win64.zip
#   Web:     person-<version>-web.zip, the page
# Two builds of one commit give the same bytes: every packaged file carries
# one time, SOURCE_DATE_EPOCH or else the last commit's, and each packages/
# folder holds a SHA256SUMS of what it holds.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME program)
if(WIN32 OR EMSCRIPTEN)
    set(person_bin_dir .)
    set(person_doc_dir .)
else()
    set(person_bin_dir ${CMAKE_INSTALL_BINDIR})
    set(person_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()

# What every package and `cmake --install` hold: the program (on the web, the
# page that runs it), the README and the license.
if(EMSCRIPTEN)
    install(FILES ${PROJECT_BINARY_DIR}/person.html DESTINATION . COMPONENT program)
else()
    install(TARGETS person RUNTIME DESTINATION ${person_bin_dir} COMPONENT program)
endif()
install(FILES README.md DESTINATION ${person_doc_dir} COMPONENT program)
install(FILES LICENSE DESTINATION ${person_doc_dir} COMPONENT license)

if(NOT WIN32 AND NOT EMSCRIPTEN)
    # Makes <output>.gz from a source file, configured first, compressed as
    # Debian wants it: best compression, no name or time in the gzip header.
    find_program(PERSON_GZIP gzip REQUIRED)
    function(person_gzipped source output)
        configure_file(${source} ${output} @ONLY)
        add_custom_command(OUTPUT ${output}.gz
            COMMAND ${PERSON_GZIP} -9 -n -k -f ${output}
            DEPENDS ${output}
            COMMENT "Compressing ${source}")
        get_filename_component(name ${output} NAME)
        add_custom_target(gzip_${name} ALL DEPENDS ${output}.gz)
    endfunction()

    person_gzipped(doc/person.1.in ${PROJECT_BINARY_DIR}/doc/person.1)
    install(FILES ${PROJECT_BINARY_DIR}/doc/person.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

    # Only the .deb: Debian's machine-readable copyright file in place of
    # LICENSE, the release notes as a Debian changelog, lintian's overrides.
    person_gzipped(cmake/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog)
    install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES cmake/debian/lintian-overrides RENAME person
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
            COMPONENT debian EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_VENDOR "The person authors")
set(CPACK_PACKAGE_CONTACT "The person authors <maintainers@users.noreply.c-seed-98af0d44.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show the lifetime of one object on the console")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_GENERATOR "")
if(EMSCRIPTEN)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME web)
    # The page is no program file to strip.
    set(CPACK_STRIP_FILES FALSE)
elseif(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
    else()
        set(CPACK_SYSTEM_NAME win32)
    endif()
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR TGZ DEB)
    set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
    # Debian's name for the program's CPU, which need not be this machine's.
    set(person_debian_arches x86_64:amd64 aarch64:arm64)
    list(FILTER person_debian_arches INCLUDE REGEX "^${CMAKE_SYSTEM_PROCESSOR}:")
    list(TRANSFORM person_debian_arches REPLACE "^.*:" "" OUTPUT_VARIABLE PERSON_DEBIAN_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PERSON_DEBIAN_ARCH})
else()
    set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
# A self-contained static program: it needs no other package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"A C++ class, Person, writes one line when it is constructed and another
when it is destroyed; the program makes one Person, lets it go out of scope
at once, pauses until a key is pressed and exits with status 0. The lines
are Chinese text in GBK (code page 936), written byte for byte.
.
The program is one self-contained static executable. On a terminal it waits
for a single key and always puts the terminal's settings back.")

# Read by cpack: the build tree, for the per-package choice of components,
# and the source tree, for the last commit's time.
set(CPACK_PERSON_BINARY_DIR ${PROJECT_BINARY_DIR})
set(CPACK_PERSON_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-pre-build.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-post-build.cmake)
include(CPack)
