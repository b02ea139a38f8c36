// The operator's console, VelmoraneConsole.exe: "check", "status" and "run"
// on the installation it stands in, through the service's own stages.
#ifndef VELMORANE_CONSOLE_H
#define VELMORANE_CONSOLE_H

#include <windows.h>

#include "launcher/paths.h"
#include "launcher/strings.h"

#define CONSOLE_EXECUTABLE_NAME L"VelmoraneConsole.exe"
#define SERVICE_EXECUTABLE_NAME L"" EXECUTABLE_NAME

// Exit codes of every command.
#define EXIT_ALL_WELL 0
#define EXIT_WARNINGS 1
#define EXIT_PROBLEMS 2
#define EXIT_USAGE 3

// This program's folder, with its closing backslash, and the service
// executable beside it: the installation every command works on. On the
// heap, PATH_CAPACITY and ANSI_CAPACITY long.
extern wchar_t *consoleFolder;
extern wchar_t *serviceExecutable;
extern char *serviceExecutableAnsi;

int checkCommand(bool withJvm);
int statusCommand(bool json);
int runCommand(void);

#endif
