# What a Windows user downloads: the installer (NSIS) and a portable zip, both built with the
# win32 preset into its build directory.

find_program(QV_MAKENSIS makensis REQUIRED)
set(qv_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(qv_win ${PROJECT_SOURCE_DIR}/res/win32)

# Text files as Notepad on any Windows shows them.
set(qv_stage ${CMAKE_BINARY_DIR}/portable/quorvane-${qv_version})
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${qv_stage}/LICENSE.txt @ONLY NEWLINE_STYLE WIN32)
configure_file(${qv_win}/readme.txt ${qv_stage}/readme.txt @ONLY NEWLINE_STYLE WIN32)

# The installer's plug-in that finds, closes and starts again the copies it replaces: a DLL of
# the installer's own width, standing alone as the program does.
add_library(qvcopies SHARED ${qv_win}/copies.cpp)
set_target_properties(qvcopies PROPERTIES PREFIX "" OUTPUT_NAME qvcopies
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/nsis-plugins
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/nsis-plugins)
target_compile_options(qvcopies PRIVATE -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
target_link_options(qvcopies PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s)

set(QV_SETUP ${CMAKE_BINARY_DIR}/quorvane-${qv_version}-setup.exe)
# The win64 test build's installer is 64-bit too, so that it runs where its program does.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(qv_nsis_target amd64-unicode)
else()
    set(qv_nsis_target x86-unicode)
endif()
add_custom_command(
    OUTPUT ${QV_SETUP}
    COMMAND ${QV_MAKENSIS} -V2 -DTARGET=${qv_nsis_target} -DVERSION=${qv_version} -DEXE=$<TARGET_FILE:quorvane>
            -DICON=${PROJECT_SOURCE_DIR}/res/icons/main.ico -DLICENSE=${qv_stage}/LICENSE.txt
            -DOUTFILE=${QV_SETUP} -DPLUGINS=$<TARGET_FILE_DIR:qvcopies> ${qv_win}/quorvane.nsi
    DEPENDS quorvane qvcopies ${qv_win}/quorvane.nsi ${qv_stage}/LICENSE.txt
            ${PROJECT_SOURCE_DIR}/res/icons/main.ico
    COMMENT "Building the installer" VERBATIM)

set(QV_PORTABLE ${CMAKE_BINARY_DIR}/quorvane-${qv_version}-portable.zip)
add_custom_command(
    OUTPUT ${QV_PORTABLE}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvane> ${qv_stage}/quorvane.exe
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QV_PORTABLE}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${QV_PORTABLE} --format=zip quorvane-${qv_version}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/portable
    DEPENDS quorvane ${qv_stage}/LICENSE.txt ${qv_stage}/readme.txt
    COMMENT "Building the portable zip" VERBATIM)

add_custom_target(windows_package ALL DEPENDS ${QV_SETUP} ${QV_PORTABLE})
