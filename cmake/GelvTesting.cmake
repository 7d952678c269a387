# add_qt_test(<name> SOURCES ... [LIBRARIES ...] [LABELS ...] [TIMEOUT s] [GUI] [XVFB])
# Every test runs through tests/isolated.sh, which gives it its own
# XDG_CONFIG_HOME, XDG_DATA_HOME, HOME and TMPDIR under the build folder.
function(add_qt_test name)
    cmake_parse_arguments(T "GUI;XVFB" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBRARIES})
    target_compile_definitions(${name} PRIVATE
        GELV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
        GELV_TEST_OUTPUT_DIR="${CMAKE_BINARY_DIR}/test-output")
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    set(runner ${PROJECT_SOURCE_DIR}/tests/isolated.sh)
    if(T_XVFB)
        add_test(NAME ${name} COMMAND ${runner} --xvfb $<TARGET_FILE:${name}>)
        list(APPEND T_LABELS gui)
    else()
        add_test(NAME ${name} COMMAND ${runner} $<TARGET_FILE:${name}>)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "GELV_TEST_ROOT=${CMAKE_BINARY_DIR}/test-home/${name};${T_ENVIRONMENT}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
