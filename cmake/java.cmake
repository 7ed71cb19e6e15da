# Java code of the project: the Java-side runtime and the classes that the bridge tests run. Everything is
# compiled by Debian's OpenJDK 17, the same JDK that runs behind the bridged runtime.
set(MORIX_JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "the Linux JDK that builds and runs Java")
set(MORIX_JAVA ${MORIX_JAVA_HOME}/bin/java)
set(MORIX_JAVAC ${MORIX_JAVA_HOME}/bin/javac)
set(MORIX_JAR ${MORIX_JAVA_HOME}/bin/jar)

# morix_java_classes(target OUTPUT dir SOURCES ... [RELEASE n] [CLASSPATH ...] [MODULE_PATH ...]
#                    [OPTIONS ...] [DEPENDS ...] [JAR file [MAIN_CLASS name]]
#                    [MODULE_INFO file MODULE_NAME name MODULE_RELEASE n]
#                    [PLATFORM_SOURCES ... [SOURCEPATH dir]] [PLAIN_JAR])
# Compiles Java sources into the directory OUTPUT (emptied first) and, with JAR, packs that directory into
# a jar (whose main class, for a modular jar, is then the module's main class). MODULE_INFO is compiled on
# its own at MODULE_RELEASE against the compiled classes and added to them, so that classes built for an
# older release still form a named module on newer ones. PLATFORM_SOURCES are compiled first, for the same
# class-file version but against the building JDK's own platform classes instead of the release's API
# list: they may use a JDK API that the list leaves out (sun.misc), and nothing that RELEASE lacks; the
# classes of SOURCES that they use are read from SOURCEPATH. PLAIN_JAR stores the entries uncompressed and
# writes no manifest: a class loads measurably faster from such a jar.
function(morix_java_classes target)
    cmake_parse_arguments(ARG "PLAIN_JAR" "OUTPUT;RELEASE;JAR;MAIN_CLASS;MODULE_INFO;MODULE_NAME;MODULE_RELEASE;SOURCEPATH"
        "SOURCES;CLASSPATH;MODULE_PATH;OPTIONS;DEPENDS;PLATFORM_SOURCES" ${ARGN})
    if(NOT ARG_RELEASE)
        set(ARG_RELEASE 17)
    endif()
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    list(TRANSFORM ARG_PLATFORM_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(options --release ${ARG_RELEASE} -encoding UTF-8 -Xlint:all,-options -Werror ${ARG_OPTIONS})
    set(classpath_entries ${ARG_CLASSPATH})
    if(ARG_PLATFORM_SOURCES)
        list(PREPEND classpath_entries ${ARG_OUTPUT})
    endif()
    if(classpath_entries)
        string(JOIN ":" classpath ${classpath_entries})
        list(APPEND options -classpath ${classpath})
    endif()
    if(ARG_MODULE_PATH)
        string(JOIN ":" modulepath ${ARG_MODULE_PATH})
        list(APPEND options --module-path ${modulepath})
    endif()
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
    set(commands COMMAND ${CMAKE_COMMAND} -E rm -rf ${ARG_OUTPUT})
    if(ARG_PLATFORM_SOURCES)
        set(platform_options)
        if(ARG_SOURCEPATH)
            # Only the platform sources become classes here; the others are compiled below.
            list(APPEND platform_options -sourcepath ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SOURCEPATH} -implicit:none)
        endif()
        # ignore.symbol.file: the platform's classes as they are, without the table of internal APIs
        # whose warnings no option silences.
        list(APPEND commands
            COMMAND ${MORIX_JAVAC} -source ${ARG_RELEASE} -target ${ARG_RELEASE} -XDignore.symbol.file
                    -encoding UTF-8 -Xlint:all,-options -Werror ${platform_options} -d ${ARG_OUTPUT}
                    ${ARG_PLATFORM_SOURCES})
    endif()
    list(APPEND commands COMMAND ${MORIX_JAVAC} ${options} -d ${ARG_OUTPUT} ${ARG_SOURCES})
    if(ARG_MODULE_INFO)
        set(module_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-module-info)
        list(APPEND commands
            COMMAND ${CMAKE_COMMAND} -E rm -rf ${module_dir}
            COMMAND ${MORIX_JAVAC} --release ${ARG_MODULE_RELEASE} -encoding UTF-8 -Xlint:all -Werror
                    --patch-module ${ARG_MODULE_NAME}=${ARG_OUTPUT} -d ${module_dir}
                    ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MODULE_INFO}
            COMMAND ${CMAKE_COMMAND} -E copy ${module_dir}/module-info.class ${ARG_OUTPUT}/)
        list(APPEND ARG_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MODULE_INFO})
    endif()
    list(APPEND ARG_SOURCES ${ARG_PLATFORM_SOURCES})
    set(outputs ${stamp})
    if(ARG_JAR)
        set(jar_options)
        if(ARG_MAIN_CLASS)
            list(APPEND jar_options --main-class ${ARG_MAIN_CLASS})
        endif()
        if(ARG_PLAIN_JAR)
            list(APPEND jar_options --no-compress --no-manifest)
        endif()
        list(APPEND commands
            COMMAND ${CMAKE_COMMAND} -E rm -f ${ARG_JAR}
            COMMAND ${MORIX_JAR} --create --file ${ARG_JAR} ${jar_options} -C ${ARG_OUTPUT} .)
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
