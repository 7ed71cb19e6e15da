# Java code of the project: the Java-side runtime and the classes that the bridge tests run. Everything is
# compiled by Debian's OpenJDK 17, the same JDK that runs behind the bridged runtime.
set(MORIX_JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "the Linux JDK that builds and runs Java")
set(MORIX_JAVA ${MORIX_JAVA_HOME}/bin/java)
set(MORIX_JAVAC ${MORIX_JAVA_HOME}/bin/javac)
set(MORIX_JAR ${MORIX_JAVA_HOME}/bin/jar)

# morix_java_classes(target OUTPUT dir SOURCES ... [RELEASE n] [CLASSPATH ...] [MODULE_PATH ...]
#                    [OPTIONS ...] [DEPENDS ...] [JAR file [MAIN_CLASS name]]
#                    [MODULE_INFO file MODULE_RELEASE n])
# Compiles Java sources into the directory OUTPUT (emptied first) and, with JAR, packs that directory into
# a jar (whose main class, for a modular jar, is then the module's main class). MODULE_INFO is compiled on its own at MODULE_RELEASE and added to the classes, so that classes
# built for an older release still form a named module on newer ones.
function(morix_java_classes target)
    cmake_parse_arguments(ARG "" "OUTPUT;RELEASE;JAR;MAIN_CLASS;MODULE_INFO;MODULE_RELEASE"
        "SOURCES;CLASSPATH;MODULE_PATH;OPTIONS;DEPENDS" ${ARGN})
    if(NOT ARG_RELEASE)
        set(ARG_RELEASE 17)
    endif()
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(options --release ${ARG_RELEASE} -encoding UTF-8 -Xlint:all,-options -Werror ${ARG_OPTIONS})
    if(ARG_CLASSPATH)
        string(JOIN ":" classpath ${ARG_CLASSPATH})
        list(APPEND options -classpath ${classpath})
    endif()
    if(ARG_MODULE_PATH)
        string(JOIN ":" modulepath ${ARG_MODULE_PATH})
        list(APPEND options --module-path ${modulepath})
    endif()
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
    set(commands
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${ARG_OUTPUT}
        COMMAND ${MORIX_JAVAC} ${options} -d ${ARG_OUTPUT} ${ARG_SOURCES})
    if(ARG_MODULE_INFO)
        set(module_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-module-info)
        list(APPEND commands
            COMMAND ${CMAKE_COMMAND} -E rm -rf ${module_dir}
            COMMAND ${MORIX_JAVAC} --release ${ARG_MODULE_RELEASE} -encoding UTF-8 -d ${module_dir}
                    ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MODULE_INFO} ${ARG_SOURCES}
            COMMAND ${CMAKE_COMMAND} -E copy ${module_dir}/module-info.class ${ARG_OUTPUT}/)
        list(APPEND ARG_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MODULE_INFO})
    endif()
    set(outputs ${stamp})
    if(ARG_JAR)
        set(main_class)
        if(ARG_MAIN_CLASS)
            set(main_class --main-class ${ARG_MAIN_CLASS})
        endif()
        list(APPEND commands
            COMMAND ${CMAKE_COMMAND} -E rm -f ${ARG_JAR}
            COMMAND ${MORIX_JAR} --create --file ${ARG_JAR} ${main_class} -C ${ARG_OUTPUT} .)
        list(APPEND outputs ${ARG_JAR})
    endif()
    add_custom_command(OUTPUT ${outputs}
        ${commands}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${ARG_SOURCES} ${ARG_DEPENDS}
        COMMENT "Compiling Java classes of ${target}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
