# quillpost_add_test(NAME SOURCES src... [LIBS lib...] [PROGRAMS target...] [ARGS arg...]
#                    [TIMEOUT s] [STANDALONE])
#
# The one way a test is registered: a Qt Test program (or any program that fails by its
# exit status) run by ctest headless, with its own runtime folder and QUILLPOST_BIN_DIR
# naming where the project's programs are. It links the shared test helpers
# (tests/support) unless STANDALONE, which the simulator's own tests use: they must see
# only the simulator, the independent far end they check. PROGRAMS are the project's
# programs the test starts, built before it.
set(QUILLPOST_TEST_RUNTIME ${CMAKE_BINARY_DIR}/test-runtime)
file(MAKE_DIRECTORY ${QUILLPOST_TEST_RUNTIME})
file(CHMOD ${QUILLPOST_TEST_RUNTIME} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(quillpost_add_test name)
    cmake_parse_arguments(T "STANDALONE" "TIMEOUT" "SOURCES;LIBS;PROGRAMS;ARGS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    if(NOT T_STANDALONE)
        target_link_libraries(${name} PRIVATE quillpost_test_support)
    endif()
    if(T_PROGRAMS)
        add_dependencies(${name} ${T_PROGRAMS})
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${QUILLPOST_TEST_RUNTIME};QUILLPOST_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
