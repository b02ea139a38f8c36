// Where the probe looks for a Java runtime's libraries below the installation
// root: a runtime laid out as a Java 8 JDK's (jdk\jre\bin\...) or, for
// OpenJ9 17 and the Microsoft runtime, a JDK's own bin\. Narrow texts, so
// that the operator's report can quote them; L"" before one makes it wide.
#ifndef VELMORANE_RUNTIME_LAYOUT_H
#define VELMORANE_RUNTIME_LAYOUT_H

#define JDK_FOLDER "jdk\\"
#define JRE_SUBFOLDER "jre\\"
#define JRE_FOLDER JDK_FOLDER JRE_SUBFOLDER
#define BIN_FOLDER "bin\\"
// The folders of jvm.dll inside a runtime's folder.
#define SERVER_VM_FOLDER BIN_FOLDER "server\\"
#define DEFAULT_VM_FOLDER BIN_FOLDER "default\\"
#define J9_VM_FOLDER BIN_FOLDER "j9vm\\"
#define JVM_FILE "jvm.dll"

#endif
