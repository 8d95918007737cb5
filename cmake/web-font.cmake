# Finds what the web page's font is made with: WenQuanYi Micro Hei (Debian:
# fonts-wqy-microhei), a freely licensed CJK font, and a Python whose fontTools
# can subset it to WOFF2 (python3-fonttools, python3-brotli). Sets
# PERSON_CJK_FONT and PERSON_FONT_PYTHON, or PERSON_WEB_FONT_MISSING to what
# is missing and how to get it.
find_file(PERSON_CJK_FONT wqy-microhei.ttc PATHS /usr/share/fonts/truetype/wqy
          NO_CMAKE_FIND_ROOT_PATH
          DOC "WenQuanYi Micro Hei, whose subset the page embeds")
# The system's own Python first: its modules are where the system's packages
# put them.
find_program(PERSON_FONT_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(PERSON_FONT_PYTHON python3)
execute_process(COMMAND ${PERSON_FONT_PYTHON} -c "import fontTools.subset, brotli"
                RESULT_VARIABLE person_no_fonttools OUTPUT_QUIET ERROR_QUIET)
if(NOT PERSON_CJK_FONT OR person_no_fonttools)
    string(CONCAT PERSON_WEB_FONT_MISSING "the page's font needs WenQuanYi Micro Hei and "
        "Python's fontTools with brotli (apt-get install fonts-wqy-microhei python3-fonttools "
        "python3-brotli)")
else()
    unset(PERSON_WEB_FONT_MISSING)
endif()
