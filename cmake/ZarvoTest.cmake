# Under ThreadSanitizer every test program, and every helper program that a
# test starts, carries the hooks that show it the toolkit's hand-overs.
function(zarvo_add_sanitizer_hooks TARGET)
    if(ZARVO_SANITIZE MATCHES "thread")
        target_sources(${TARGET} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/threadsanitizerhooks.cpp)
        target_link_libraries(${TARGET} PRIVATE ${CMAKE_DL_LIBS})
    endif()
endfunction()

# zarvo_add_test(NAME tst_foo SOURCES a.cpp ... LIBS lib ... [ENVIRONMENT VAR=value ...] [TIMEOUT s] [LABELS l ...])
# Registers one Qt Test program with CTest. Every test gets its own
# temporary HOME and XDG_* directories from the test support library.
# Every test is also labelled with its folder below tests/ ("util",
# "installer/engine", ...), so that a build can run one area (ctest -L).
function(zarvo_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    zarvo_add_sanitizer_hooks(${T_NAME})
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${T_NAME} PRIVATE zarvo_testsupport ${T_LIBS} Qt5::Test)
    target_compile_definitions(${T_NAME} PRIVATE
        ZARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        ZARVO_BINARY_DIR="${CMAKE_BINARY_DIR}")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(T_ENVIRONMENT)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
    file(RELATIVE_PATH _area ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${_area};${T_LABELS}")
endfunction()
