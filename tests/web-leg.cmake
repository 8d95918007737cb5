# The web: the page in headless Chromium (Debian: chromium, chromium-driver,
# python3-selenium), and, in the development build, the Node.js program under
# the runner's table. Tests are named web.*; where a tool is missing they are
# reported as skipped, with the reason and the remedy in the name.

# The page's rows, web.page.<row>, against the page at `page`.
function(person_web_page_tests page)
    find_program(PERSON_TEST_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
    find_program(PERSON_TEST_PYTHON python3)
    person_find_tools(CHROMIUM:chromium CHROMEDRIVER:chromedriver)
    execute_process(COMMAND ${PERSON_TEST_PYTHON} -c "import selenium"
                    RESULT_VARIABLE no_selenium OUTPUT_QUIET ERROR_QUIET)
    if(no_selenium)
        list(APPEND missing "Python's selenium")
    endif()
    if(missing)
        list(JOIN missing ", " missing)
        person_skip("web.page" "Chromium and Selenium are needed; not found: ${missing}. "
                    "apt-get install chromium chromium-driver python3-selenium")
        return()
    endif()
    set(script ${CMAKE_CURRENT_SOURCE_DIR}/page_test.py)
    execute_process(COMMAND ${PERSON_TEST_PYTHON} ${script} --page ${page} --list
                    OUTPUT_VARIABLE rows RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${script} --list failed")
    endif()
    string(REGEX MATCHALL "[^\n]+" rows "${rows}")
    foreach(row IN LISTS rows)
        # Page.test_lines_in_order -> web.page.lines_in_order
        string(REGEX REPLACE "^Page\\.|test_" "" name "${row}")
        string(REPLACE "Page" "" name "${name}")
        add_test(NAME web.page.${name}
                 COMMAND ${PERSON_TEST_PYTHON} ${script} --page ${page} ${row})
        set_tests_properties(web.page.${name} PROPERTIES TIMEOUT 120)
    endforeach()
endfunction()

# The development build's web leg: the web preset's program, built in
# build/<preset>/web, run under Node.js by the runner (web.node.*), and its
# page in Chromium (web.page.*).
function(person_web_leg)
    find_program(PERSON_EMCC emcc)
    find_program(PERSON_NODE NAMES node nodejs)
    include(${PROJECT_SOURCE_DIR}/cmake/web-font.cmake)
    if(NOT PERSON_EMCC OR NOT PERSON_NODE)
        person_skip("web leg" "Emscripten and Node.js are needed (apt-get install emscripten nodejs)")
        return()
    endif()
    if(PERSON_WEB_FONT_MISSING)
        person_skip("web leg" "${PERSON_WEB_FONT_MISSING}")
        return()
    endif()

    include(ExternalProject)
    set(build_dir ${PROJECT_BINARY_DIR}/web)
    ExternalProject_Add(person_web
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${build_dir}
        CMAKE_ARGS
            -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/emscripten.cmake
            -DCMAKE_BUILD_TYPE=MinSizeRel
            -DBUILD_TESTING=OFF
        BUILD_BYPRODUCTS ${build_dir}/person.js ${build_dir}/person.html
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
    )
    add_dependencies(person_cli_tests person_web)

    # The runner's table less the POSIX terminal's cases: under Node.js the
    # terminal is Node's, not the program's.
    gtest_discover_tests(person_cli_tests
        TEST_PREFIX web.node.
        TEST_FILTER "-*TerminalWait.*:*TerminalJobControl.*"
        EXTRA_ARGS --program ${build_dir}/person.js --launcher ${PERSON_NODE}
    )
    person_web_page_tests(${build_dir}/person.html)
endfunction()
