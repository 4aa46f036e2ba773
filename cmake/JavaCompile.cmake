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

# scanjni_jar(<jar> <classes dir>): packs the classes that scanjni_javac
# put into <classes dir>.
function(scanjni_jar jar classes)
  add_custom_command(OUTPUT ${jar}
    COMMAND ${Java_JAR_EXECUTABLE} -J-XX:-UsePerfData --create --file ${jar} -C ${classes} .
    DEPENDS ${classes}.stamp
    COMMENT "jar ${jar}" VERBATIM)
endfunction()
