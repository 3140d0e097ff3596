# The harness every tier and the benchmarks build on: the environments (headers here and
# harness.sh), the recording fake platform, the memory window backend, the doctest runner, the
# Wine driver, and the one function that registers a test. Included by tests/CMakeLists.txt,
# so what it sets is seen by every tier below it.

# Every harness header is named from the tests folder: "harness/desktop.h". The tray hosts'
# settings are files of hosts/.
add_library(qv_harness INTERFACE)
target_include_directories(qv_harness INTERFACE ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(qv_harness INTERFACE QV_HOSTS_DIR="${CMAKE_CURRENT_LIST_DIR}/hosts")

# The recording stand-in for the system services.
add_library(qv_fakeplatform STATIC ${CMAKE_CURRENT_LIST_DIR}/fakeplatform.cpp)
target_link_libraries(qv_fakeplatform PUBLIC qv_framework qv_harness)

# The window backend of the logic tests: controls in memory, no toolkit.
add_library(qv_framework_memory STATIC ${CMAKE_CURRENT_LIST_DIR}/memorybackend.cpp)
target_link_libraries(qv_framework_memory PUBLIC qv_framework qv_res qv_harness)

# doctest, header-only. Debian's header, found outside the cross toolchain's root and copied
# into the build tree: the host's include directory itself must stay out of a Windows build.
# MinGW's default thread model has no std::mutex, which doctest's reporters would use.
add_library(qv_doctest INTERFACE)
find_file(QV_DOCTEST_HEADER doctest/doctest.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
configure_file(${QV_DOCTEST_HEADER} ${CMAKE_CURRENT_BINARY_DIR}/doctest-include/doctest/doctest.h
               COPYONLY)
target_include_directories(qv_doctest SYSTEM INTERFACE ${CMAKE_CURRENT_BINARY_DIR}/doctest-include)
if(WIN32)
    target_compile_definitions(qv_doctest INTERFACE DOCTEST_CONFIG_NO_MULTITHREADING)
endif()
# The logic tests' runner.
add_library(qv_doctest_main STATIC ${CMAKE_CURRENT_LIST_DIR}/doctestmain.cpp)
target_link_libraries(qv_doctest_main PUBLIC qv_doctest qv_harness)

# The user at the real program's windows under Wine: a small program that acts as the user.
# And what the program puts on the wire, for the scripts (harness.sh's qv_capture): qvcapture
# prints the echo requests on lo, decoded by packet.h as CCapture decodes them. It runs on the
# build machine beside Wine, so the cross build makes it with the host's compiler, as the
# project of its own in tools/ (never with the MinGW toolchain); scripts find it as QV_CAPTURE.
if(WIN32)
    add_executable(qvdriver ${CMAKE_CURRENT_LIST_DIR}/qvdriver.cpp)
    target_link_libraries(qvdriver PRIVATE ole32 uuid gdi32)

    find_program(QV_HOST_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
    include(ExternalProject)
    ExternalProject_Add(qvcapture_host
        SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/tools
        PREFIX ${CMAKE_CURRENT_BINARY_DIR}/hosttools
        BINARY_DIR ${CMAKE_CURRENT_BINARY_DIR}/hosttools/build
        CMAKE_ARGS -DCMAKE_CXX_COMPILER=${QV_HOST_CXX} -DCMAKE_BUILD_TYPE=Release
                   -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${CMAKE_CURRENT_BINARY_DIR}
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${CMAKE_CURRENT_BINARY_DIR}/qvcapture
        INSTALL_COMMAND "")
    set(QV_CAPTURE ${CMAKE_CURRENT_BINARY_DIR}/qvcapture)
endif()

# The user's mouse on a headless Wayland desktop, which has no input device: a pointer made
# through the compositor's virtual pointer (qvpointer), and on GNOME Shell's through its remote
# desktop interface (qvgnomepointer). A test of the Wayland session (wayland.h) gets their
# paths, the program's sound library beside it, and the sanitizers' list its user can read.
if(NOT WIN32)
    pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
    find_program(QV_WAYLAND_SCANNER wayland-scanner REQUIRED)
    set(pointer_xml ${CMAKE_CURRENT_LIST_DIR}/virtualpointer.xml)
    set(pointer_glue ${CMAKE_CURRENT_BINARY_DIR}/harness-glue)
    add_custom_command(
        OUTPUT ${pointer_glue}/virtualpointer-client.h ${pointer_glue}/virtualpointer.c
        COMMAND ${CMAKE_COMMAND} -E make_directory ${pointer_glue}
        COMMAND ${QV_WAYLAND_SCANNER} client-header ${pointer_xml}
                ${pointer_glue}/virtualpointer-client.h
        COMMAND ${QV_WAYLAND_SCANNER} private-code ${pointer_xml} ${pointer_glue}/virtualpointer.c
        DEPENDS ${pointer_xml})
    # The scanner's glue is C.
    enable_language(C)
    add_executable(qvpointer ${CMAKE_CURRENT_LIST_DIR}/qvpointer.cpp
                             ${pointer_glue}/virtualpointer.c
                             ${pointer_glue}/virtualpointer-client.h)
    target_include_directories(qvpointer PRIVATE ${pointer_glue})
    target_link_libraries(qvpointer PRIVATE PkgConfig::WAYLAND_CLIENT)

    find_package(Qt6 REQUIRED COMPONENTS DBus)
    add_executable(qvgnomepointer ${CMAKE_CURRENT_LIST_DIR}/qvgnomepointer.cpp)
    target_link_libraries(qvgnomepointer PRIVATE Qt6::DBus)
endif()
function(qv_uses_wayland_session target)
    target_compile_definitions(${target} PRIVATE
        QV_POINTER_PATH="$<TARGET_FILE:qvpointer>"
        QV_GNOME_POINTER_PATH="$<TARGET_FILE:qvgnomepointer>"
        QV_LSAN_SUPPRESSIONS="${QV_LSAN_SUPPRESSIONS}")
    add_dependencies(${target} quorvane_sound qvpointer qvgnomepointer)
endfunction()

# In a sanitized build every report fails the test (and a program a test starts inherits the
# same settings); leaks of the toolkit's own that are none of ours are suppressed one by one.
set(QV_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/lsan.supp)
set(QV_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
    "LSAN_OPTIONS=suppressions=${QV_LSAN_SUPPRESSIONS}:print_suppressions=0")

# The real program, for a test or benchmark that starts it: its path as QV_QUORVANE_PATH, and
# built before it.
function(qv_uses_program target)
    target_compile_definitions(${target} PRIVATE QV_QUORVANE_PATH="$<TARGET_FILE:quorvane>")
    add_dependencies(${target} quorvane)
endfunction()

# QtTest's report of a run in which a case (or initTestCase, and with it the whole test) was
# skipped and none failed, up to its last line: a sanitizer's report after it, or a failure,
# leaves the test failed. The totals line alone counts skips of none.
set(QV_QTEST_SKIPPED
    "\nSKIP   : .*\nTotals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped, [^\n]*\n\\*+ Finished testing of [^\n]*\n*$")

# qv_test(NAME [SOURCES SRC... | SCRIPT FILE | COMMAND CMD...] [QTEST] [LOGIC] [PROGRAM]
#         [LIBS LIB...] [ARGS ARG...] [TIMEOUT SECONDS] [LABEL LABEL])
# Registers one test, labelled with its tier (the folder it is registered from, or LABEL):
#   SOURCES  builds an executable NAME of them (default NAME.cpp) against the harness and LIBS;
#   SCRIPT   runs bash FILE (relative to the folder); COMMAND runs what is already built;
#   QTEST    a QtTest executable; LOGIC: on the fake platform and the memory window backend;
#   PROGRAM  the real program: its path compiled in, or a script's first argument.
# A test that cannot run here says so to CTest, which then counts it as skipped, not passed:
# QtTest executables by the "SKIP   :" line of a skipped case, every other test (doctest
# runners, scripts, the Windows tests under Wine) by exit status 77 (SKIP_CASE in testskip.h,
# `exit 77` in scripts). The fuzzers keep their own codes: libFuzzer ends with 77 when it finds
# a crash, and their own sanitizer settings. Natively every other test runs without a display,
# and a sanitizer's report fails it; the scripts of a Windows build find qvcapture.
function(qv_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "QTEST;LOGIC;PROGRAM" "SCRIPT;TIMEOUT;LABEL"
                          "SOURCES;COMMAND;LIBS;ARGS")
    if(arg_SCRIPT)
        set(command bash ${CMAKE_CURRENT_SOURCE_DIR}/${arg_SCRIPT})
        if(arg_PROGRAM)
            list(APPEND command $<TARGET_FILE:quorvane>)
        endif()
    elseif(arg_COMMAND)
        set(command ${arg_COMMAND})
    else()
        if(NOT arg_SOURCES)
            set(arg_SOURCES ${name}.cpp)
        endif()
        add_executable(${name} ${arg_SOURCES})
        target_link_libraries(${name} PRIVATE qv_harness ${arg_LIBS})
        if(arg_QTEST)
            target_link_libraries(${name} PRIVATE Qt6::Test)
        endif()
        if(arg_LOGIC)
            target_link_libraries(${name} PRIVATE qv_doctest_main qv_fakeplatform)
            set_target_properties(${name} PROPERTIES QV_MEMORY_BACKEND ON)
        endif()
        if(arg_PROGRAM)
            qv_uses_program(${name})
        endif()
        set(command ${name})
    endif()
    add_test(NAME ${name} COMMAND ${command} ${arg_ARGS})

    if(NOT arg_LABEL)
        cmake_path(GET CMAKE_CURRENT_SOURCE_DIR FILENAME arg_LABEL)
    endif()
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS ${arg_LABEL} TIMEOUT ${arg_TIMEOUT})
    if(arg_QTEST)
        set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "${QV_QTEST_SKIPPED}")
    elseif(NOT name MATCHES "^fuzz_")
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    endif()
    if(WIN32 AND arg_SCRIPT)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QV_CAPTURE=${QV_CAPTURE}")
    elseif(NOT WIN32 AND NOT name MATCHES "^fuzz_")
        set_tests_properties(${name} PROPERTIES
                             ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${QV_SANITIZER_ENV}")
    endif()
endfunction()
