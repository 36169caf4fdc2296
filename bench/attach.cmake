# For builds made before the top-level CMakeLists.txt and tests/CMakeLists.txt
# list bench/, tests/e2e/ and tests/fuzz/: pass
#     -DCMAKE_PROJECT_Scalvanto_INCLUDE=<source>/bench/attach.cmake
# and their CMakeLists.txt are read at the end of the top-level one (as an
# include, since no subdirectory can be added that late). A folder that the
# project already adds by itself is left alone.
cmake_language(DEFER CALL _scalvo_attach_measuring_tools)

function(_scalvo_attach_measuring_tools)
    if(NOT TARGET savemessage-bench)
        include(${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt)
    endif()
    if(BUILD_TESTING)
        if(NOT TARGET tst_e2e AND EXISTS ${PROJECT_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
            include(${PROJECT_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
        endif()
        if(NOT TARGET tst_fuzzreplay AND EXISTS ${PROJECT_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
            include(${PROJECT_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
        endif()
    endif()
endfunction()
