# Shared settings and helpers of the Morix build.

# Our own targets build warning-free; third-party code (GoogleTest) keeps its own flags.
function(morix_target_defaults target)
    # -Wrestrict is off: GCC 12 reports false overlaps inside libstdc++'s string concatenation at -O3.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-restrict)
    if(WIN32)
        # Every Win32 call names its A or W form; the product runs on Windows Vista and later.
        target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600
                                                     __USE_MINGW_ANSI_STDIO=0)
    endif()
endfunction()

# The bitness of the Windows programs, which picks the Wine loader that runs them (cmake/wine-env.sh).
if(WIN32)
    math(EXPR MORIX_WINDOWS_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
endif()

# GoogleTest from Debian's sources, built with the same toolchain as the code under test.
macro(morix_add_googletest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    include(GoogleTest)
endmacro()

# Header-only libraries that Debian installs in /usr/include. A cross build cannot put /usr/include
# itself on its include path (the host's C library would shadow mingw's), so each library's directory
# is staged under the build tree and only that is added.
function(morix_stage_host_headers out_dir)
    set(stage ${CMAKE_BINARY_DIR}/staged-include)
    foreach(dir IN LISTS ARGN)
        if(NOT EXISTS ${stage}/${dir})
            file(MAKE_DIRECTORY ${stage})
            file(CREATE_LINK /usr/include/${dir} ${stage}/${dir} SYMBOLIC)
        endif()
    endforeach()
    set(${out_dir} ${stage} PARENT_SCOPE)
endfunction()

# JNI: jni.h of the installed OpenJDK with our own jni_md.h for Windows.
function(morix_jni_include out_dir)
    find_path(MORIX_JNI_H jni.h
        PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(stage ${CMAKE_BINARY_DIR}/jni-include)
    configure_file(${MORIX_JNI_H}/jni.h ${stage}/jni.h COPYONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/jni/jni_md.h ${stage}/jni_md.h COPYONLY)
    set(${out_dir} ${stage} PARENT_SCOPE)
endfunction()

# A GoogleTest program and its tests. Windows test programs run under Wine through the toolchain's
# emulator; they are discovered when ctest runs, so the build itself never starts Wine.
function(morix_add_gtest target)
    cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${target} ${ARG_SOURCES})
    morix_target_defaults(${target})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest)
    if(NOT ARG_OWN_MAIN)
        target_link_libraries(${target} PRIVATE GTest::gtest_main)
    endif()
    set(props TIMEOUT ${ARG_TIMEOUT})
    if(WIN32)
        list(APPEND props FIXTURES_REQUIRED wine)
    endif()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES ${props} ${ARG_PROPERTIES})
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/java.cmake)
