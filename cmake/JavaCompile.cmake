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
