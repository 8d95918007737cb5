# The web: the page in headless Chromium, Firefox and WebKitGTK, and, in the
# development build, the Node.js program under the runner's table. Tests are
# named web.*; where a tool is missing they are reported as skipped, with the
# reason and the remedy in the name.

# The page's rows in each engine, web.page.<engine>.<row>, against the page at
# `page` and, where a row needs one, the same page around another program at
# `other_page`. A row the engine's driver cannot be asked, or that cannot run
# on this machine, is reported as skipped with the reason the row list gives.
set(PERSON_PAGE_ENGINES chromium firefox webkit CACHE STRING "The browser engines the page rows run in")
function(person_web_page_tests page other_page)
    find_program(PERSON_TEST_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
    find_program(PERSON_TEST_PYTHON python3)
    # How the page's build reads the program: its table and its sources.
    add_test(NAME web.page_builder
             COMMAND ${PERSON_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/web_page_test.py
                     ${PROJECT_SOURCE_DIR}/cmake/web-page.py)
    set(script ${CMAKE_CURRENT_SOURCE_DIR}/page_test.py)
    set(remedy_chromium "apt-get install chromium chromium-driver python3-selenium")
    set(remedy_firefox "apt-get install firefox-esr python3-websocket")
    set(remedy_webkit "apt-get install webkitgtk-webdriver (Debian 12: webkit2gtk-driver) xvfb python3-selenium")
    foreach(engine IN LISTS PERSON_PAGE_ENGINES)
        execute_process(COMMAND ${PERSON_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/browsers.py
                                --missing ${engine}
                        OUTPUT_VARIABLE missing OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(missing)
            person_skip("web.page.${engine}" "${missing} needed; ${remedy_${engine}}")
            continue()
        endif()
        execute_process(COMMAND ${PERSON_TEST_PYTHON} ${script} --page ${page} --engine ${engine} --list
                        OUTPUT_VARIABLE rows RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "${script} --list failed")
        endif()
        string(REGEX MATCHALL "[^\n]+" rows "${rows}")
        foreach(row IN LISTS rows)
            # Page.test_lines_in_order\t<reason> -> web.page.<engine>.lines_in_order
            string(REGEX REPLACE "\t.*" "" test "${row}")
            string(REGEX REPLACE "^Page\\.|test_" "" name "${test}")
            string(REPLACE "Page" "" name "${name}")
            if(row MATCHES "\t(.*)")
                person_skip("web.page.${engine}.${name}" "${CMAKE_MATCH_1}")
                continue()
            endif()
            add_test(NAME web.page.${engine}.${name}
                     COMMAND ${PERSON_TEST_PYTHON} ${script} --page ${page} --other-page ${other_page}
                             --engine ${engine} ${test})
            set_tests_properties(web.page.${engine}.${name} PROPERTIES TIMEOUT 120)
        endforeach()
    endforeach()
endfunction()

# The development build's web leg: the web preset's program, built in
# build/<preset>/web, run under Node.js by the runner (web.node.*), and its
# page in each browser engine (web.page.*).
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

    # The runner's whole table, the terminal's cases included, less the one
    # Node.js cannot hold: it resets every signal it inherits to its default
    # as it starts, before the program runs, so a SIGHUP ignored under nohup
    # ends the wait. The `run` target's cases are the web build's `run` too.
    set(unsupported "WaysOut/TerminalWait.WaitsInSingleKeyModeAndRestoresTheTerminal/SighupIgnoredAtStart")
    gtest_discover_tests(person_cli_tests
        TEST_PREFIX web.node.
        TEST_FILTER "-${unsupported}${person_without_run_cases}"
        EXTRA_ARGS --program ${build_dir}/person.js --launcher ${PERSON_NODE} ${person_run_in_terminal}
    )
    person_skip("web.node.${unsupported}"
                "Node.js resets an inherited ignored SIGHUP to its default before the program starts")
    person_web_page_tests(${build_dir}/person.html ${build_dir}/src/web/two-people.html)
endfunction()
