/* The launcher's message texts. Included by the resource script (as the
   string table) and by the host build, so both carry the same words. */
#ifndef SUPPORT_MESSAGE_TEXTS_H
#define SUPPORT_MESSAGE_TEXTS_H

/* The download page of the missing-runtime dialog's link. */
#define DOWNLOAD_ADDRESS "https://adoptium.net/"

#define MSG_TEXT_202 "Windows exception: %s (errno = %d).\n"
#define MSG_TEXT_203 "JNI exception: %s\nReason: %s.\n"
#define MSG_TEXT_204 "COM error: %s (errno = %d).\n"
#define MSG_TEXT_205 "JNI exception: %s.\n"
#define MSG_TEXT_206 "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE with a server JVM (%s) from:"
#define MSG_TEXT_207 "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE (%s) from:"
#define MSG_TEXT_208 "failed to get the module path"
#define MSG_TEXT_209 "Java Class Path was not specified in INI file."
#define MSG_TEXT_210 "Main class was not specified in INI file."
#define MSG_TEXT_211 "Failed to load Main Class: %s.\n"
#define MSG_TEXT_212 "cannot find CreateJavaVM JNI"
#define MSG_TEXT_213 "failed to create the Java VM"
#define MSG_TEXT_214 "Browse for JRE folder"
#define MSG_TEXT_215 "Could not find the main class %s.\n"
#define MSG_TEXT_216 "No main method found in specified class.\n"
#define MSG_TEXT_217 "latest version"
#define MSG_TEXT_218 "maximum version %s"
#define MSG_TEXT_219 "minimum version %s"
#define MSG_TEXT_220 "version %s is required"
#define MSG_TEXT_221 "version between %s and %s"
#define MSG_TEXT_222 "Failed to load Java VM library: %s (errno = %d).\n"
#define MSG_TEXT_223 "failed to initialize"
#define MSG_TEXT_224 "failed to initialize module"
#define MSG_TEXT_225 "unknown"
#define MSG_TEXT_226 "thread detached from VM"
#define MSG_TEXT_227 "JNI version error"
#define MSG_TEXT_228 "not enough memory"
#define MSG_TEXT_229 "VM already created"
#define MSG_TEXT_230 "invalid arguments"
#define MSG_TEXT_232 "The Java VM option %s needs a value after it.\n"
#define MSG_TEXT_234 "The Java VM options in %s were left out: the Java runtime refused them.\n"
#define MSG_TEXT_235 "The program asked to be restarted more than 5 times within a minute: it was not restarted again.\n"
#define MSG_TEXT_236 "The program could not be started again: %s.\n"
#define MSG_TEXT_233 "The Java VM option %s cannot be given here: the class path belongs in \"Class Path\" and the main class in \"Main Class\".\n"

#endif
