// The service's failure lines with their cause and remedy in one sentence:
// the table of the operator's guide.
#ifndef VELMORANE_REMEDIES_H
#define VELMORANE_REMEDIES_H

// The sentence for a log record's text, or NULL when it is no failure line.
const char *failureRemedy(const char *record);
#define NEWER_JAVA_REMEDY                                                                                             \
    "The application was built for a newer Java than this runtime: use a newer runtime, or compile for this one "     \
    "(javac --release N)."

// Whether a Java exception's text says the classes need a newer Java.
bool isNewerJavaException(const char *text);

#endif
