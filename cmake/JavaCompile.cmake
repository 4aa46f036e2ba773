# scanjni_javac(<dir> SOURCES ... [CLASSPATH cp] [OPTIONS ...] [DEPENDS ...])
# compiles into a fresh directory <dir> and touches <dir>.stamp when done.
# Warnings are errors; the JVM leaves no performance data in /tmp.
function(scanjni_javac dir)
  cmake_parse_arguments(J "" "CLASSPATH" "SOURCES;OPTIONS;DEPENDS" ${ARGN})
  set(cp_args)
  if(J_CLASSPATH)
    set(cp_args -cp ${J_CLASSPATH})
  endif()
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
  add_custom_command(OUTPUT ${jar}
    ${rules_commands}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${jar}
    COMMAND ${Java_JAR_EXECUTABLE} -J-XX:-UsePerfData --create --date=${SCANJNI_ZIP_DATE}
            --file ${jar} -C ${classes} . ${rules_args}
    DEPENDS ${classes}.stamp ${J_RULES}
    COMMENT "jar ${jar}" VERBATIM)
endfunction()
