// Core texts on their way to Java.
#ifndef SCANJNI_JNI_JTEXT_H
#define SCANJNI_JNI_JTEXT_H

#include <jni.h>

// The text itself, or "(null)" for no text: what a log line shows.
const char *shown_text(const char *text);

// A new Java string of a core text, or null for no text. The bytes are
// converted to modified UTF-8 first where they are not already, so that
// any byte the engine sends reaches Java as a character.
jstring new_java_text(JNIEnv *env, const char *text);

#endif
