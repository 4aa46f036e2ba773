# scanjni_java_arguments(SOURCES ... [CLASSPATH cp] [OPTIONS ...]
# [DEPENDS ...]): the arguments of a javac or javadoc step, as J_SOURCES,
# J_OPTIONS and J_DEPENDS, and cp_args (-cp and the class path, if given),
# in the calling function.
macro(scanjni_java_arguments)
  cmake_parse_arguments(J "" "CLASSPATH" "SOURCES;OPTIONS;DEPENDS" ${ARGN})
  set(cp_args)
  if(J_CLASSPATH)
    set(cp_args -cp ${J_CLASSPATH})
  endif()
endmacro()

# scanjni_javac(<dir> SOURCES ... [CLASSPATH cp] [OPTIONS ...] [DEPENDS ...])
# compiles into a fresh directory <dir> and touches <dir>.stamp when done.
# Warnings are errors; the JVM leaves no performance data in /tmp.
function(scanjni_javac dir)
  scanjni_java_arguments(${ARGN})
  add_custom_command(OUTPUT ${dir}.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}
    COMMAND ${Java_JAVAC_EXECUTABLE} -J-XX:-UsePerfData -Xlint:all -Werror ${J_OPTIONS}
            -d ${dir} ${cp_args} ${J_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${dir}.stamp
    DEPENDS ${J_SOURCES} ${J_DEPENDS}
    COMMENT "javac ${dir}" VERBATIM)
endfunction()

# scanjni_jar(<jar> <classes dir> [RULES <file>]): packs the classes that
# scanjni_javac put into <classes dir>, and the shrinker keep rules <file>
# as META-INF/proguard/<file's name>, where R8 and ProGuard look for the
# rules of a jar on an app's class path. The jar is the same bytes at every
# build of the same classes: jar sorts each directory's entries, and every
# entry carries the same fixed time (SCANJNI_ZIP_DATE; scripts/package.sh
# gives its archives the same).
set(SCANJNI_ZIP_DATE 1980-02-01T00:00:00Z CACHE INTERNAL "")
function(scanjni_jar jar classes)
  cmake_parse_arguments(J "" "RULES" "" ${ARGN})
  set(rules_args)
  set(rules_commands)
  if(J_RULES)
    get_filename_component(rules_name ${J_RULES} NAME)
    set(meta ${jar}.meta)
    set(rules_commands
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${meta}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${meta}/META-INF/proguard
      COMMAND ${CMAKE_COMMAND} -E copy ${J_RULES} ${meta}/META-INF/proguard/${rules_name})
    set(rules_args -C ${meta} META-INF/proguard/${rules_name})
  endif()
  scanjni_pack_commands(pack ${jar} ${classes} ${rules_args})
  add_custom_command(OUTPUT ${jar}
    ${rules_commands}
    ${pack}
    DEPENDS ${classes}.stamp ${J_RULES}
    COMMENT "jar ${jar}" VERBATIM)
endfunction()

# scanjni_pack_commands(<var> <jar> <dir> [MORE ...]): sets <var> to the
# commands that pack every file under <dir> (and the jar arguments MORE)
# afresh into <jar>, sorted and with the fixed time.
function(scanjni_pack_commands var jar dir)
  set(${var}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${jar}
    COMMAND ${Java_JAR_EXECUTABLE} -J-XX:-UsePerfData --create --date=${SCANJNI_ZIP_DATE}
            --file ${jar} -C ${dir} . ${ARGN}
    PARENT_SCOPE)
endfunction()

# scanjni_sources_jar(<jar> <package path> SOURCES ...): the source files
# under <package path> (com/morvek/scanner), as an IDE looks for them in
# the sources jar beside a class jar.
function(scanjni_sources_jar jar package_path)
  cmake_parse_arguments(J "" "" "SOURCES" ${ARGN})
  set(stage ${jar}.src)
  scanjni_pack_commands(pack ${jar} ${stage})
  add_custom_command(OUTPUT ${jar}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/${package_path}
    COMMAND ${CMAKE_COMMAND} -E copy ${J_SOURCES} ${stage}/${package_path}
    ${pack}
    DEPENDS ${J_SOURCES}
    COMMENT "jar ${jar}" VERBATIM)
endfunction()

# scanjni_javadoc_jar(<jar> SOURCES ... [CLASSPATH cp] [OPTIONS ...]
# [DEPENDS ...]): the API documentation of SOURCES, written by javadoc into
# a fresh directory <jar>.html and packed. Every doclint check runs, and a
# warning fails the build. The pages carry no time stamp and are in
# English whatever the machine's locale, so the jar is the same bytes at
# every build of the same sources.
function(scanjni_javadoc_jar jar)
  scanjni_java_arguments(${ARGN})
  set(html ${jar}.html)
  scanjni_pack_commands(pack ${jar} ${html})
  add_custom_command(OUTPUT ${jar}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${html}
    COMMAND ${Java_JAVADOC_EXECUTABLE} -J-XX:-UsePerfData -quiet -Xdoclint:all -Werror
            -notimestamp -locale en_US -encoding UTF-8 -docencoding UTF-8 -charset UTF-8
            ${J_OPTIONS} -d ${html} ${cp_args} ${J_SOURCES}
    ${pack}
    DEPENDS ${J_SOURCES} ${J_DEPENDS}
    COMMENT "javadoc ${jar}" VERBATIM)
endfunction()

# Android 7.0's classes (API 24): scripts/setup.sh fetches Robolectric's
# android-all jar into .cache/android/ (SCANJNI_ANDROID_DIR). When it is
# there, SCANJNI_JAVA_API_OPTIONS compiles for Java 8 against it and the
# Java 8 API (from the JDK's ct.sym) as the boot class path, so that a
# class or method an API-24 device lacks fails the build; otherwise against
# the Java 8 API alone (--release 8), with a warning. SCANJNI_ANDROID_ALL
# is empty then.
set(SCANJNI_ANDROID_DIR ${PROJECT_SOURCE_DIR}/.cache/android CACHE PATH
    "where scripts/setup.sh puts Android's API-24 classes, Robolectric and JUnit")
set(android_all ${SCANJNI_ANDROID_DIR}/android-all-7.0.0_r1-robolectric-r1.jar)
if(EXISTS ${android_all})
  get_filename_component(javac_real ${Java_JAVAC_EXECUTABLE} REALPATH)
  get_filename_component(jdk_home ${javac_real} DIRECTORY)
  get_filename_component(jdk_home ${jdk_home} DIRECTORY)
  set(java8_jar ${CMAKE_BINARY_DIR}/java8-api.jar)
  if(NOT EXISTS ${java8_jar})
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/java8_api_jar.py
                            ${jdk_home}/lib/ct.sym ${java8_jar} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "the Java 8 API jar could not be made from ${jdk_home}/lib/ct.sym")
    endif()
  endif()
  set(SCANJNI_ANDROID_ALL ${android_all} CACHE INTERNAL "")
  set(SCANJNI_JAVA_API_OPTIONS -source 8 -target 8 -bootclasspath ${android_all}:${java8_jar} CACHE INTERNAL "")
else()
  message(WARNING "Android's API-24 classes are not in ${SCANJNI_ANDROID_DIR} (scripts/setup.sh fetches them): "
                  "the Java layer is checked against Java 8's API only, and the Activity test is left out")
  set(SCANJNI_ANDROID_ALL "" CACHE INTERNAL "")
  set(SCANJNI_JAVA_API_OPTIONS --release 8 CACHE INTERNAL "")
endif()
