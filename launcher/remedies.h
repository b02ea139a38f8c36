// The service's failure records with their cause and remedy in one sentence:
// the table of the operator's guide.
#ifndef VELMORANE_REMEDIES_H
#define VELMORANE_REMEDIES_H

// Any return code of JNI_CreateJavaVM that has no sentence of its own.
#define ANY_CODE 0

// The sentence for a failure record, given as its format (a RECORD_ name);
// `code` is JNI_CreateJavaVM's return code for RECORD_CREATE_FAILED and
// ignored for the others. NULL when the record is no failure.
const char *failureRemedy(const char *record, int code);
// The same for a record read from the log (without its stamp and line end).
const char *logRecordRemedy(const char *text);
#define NEWER_JAVA_REMEDY                                                                                             \
    "The application was built for a newer Java than this runtime: use a newer runtime, or compile for this one "     \
    "(javac --release N)."

// Whether a Java exception's text says the classes need a newer Java.
bool isNewerJavaException(const char *text);

// When `text` (a record without its stamp and line end) is a record of
// `format`: where its variable part begins (its end, for a record without
// one); NULL otherwise. Formats that begin with their variable part match
// any text: they are never read back.
const char *recordRest(const char *text, const char *format);

#endif
