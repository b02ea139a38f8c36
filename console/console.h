// The operator's console, VelmoraneConsole.exe: "check", "status" and "run"
// on the installation it stands in, through the service's own stages.
#ifndef VELMORANE_CONSOLE_H
#define VELMORANE_CONSOLE_H

#include <windows.h>

#include "console/console_name.h"
#include "console/service_view.h"
#include "launcher/paths.h"
#include "launcher/strings.h"

#define SERVICE_EXECUTABLE_NAME L"" EXECUTABLE_NAME

// Exit codes of every command.
#define EXIT_ALL_WELL 0
#define EXIT_WARNINGS 1
#define EXIT_PROBLEMS 2
#define EXIT_USAGE 3

// The installation every command works on: this program's folder, with its
// closing backslash, and the service executable beside it; and the Service
// Control Manager, opened once for the command. On the heap.
struct Installation {
    wchar_t folder[PATH_CAPACITY];
    wchar_t serviceExecutable[PATH_CAPACITY];
    char serviceExecutableAnsi[ANSI_CAPACITY];
    ServiceManager manager;
};

int checkCommand(const Installation *installation, bool withJvm);
int statusCommand(const Installation *installation, bool json);
int runCommand(const Installation *installation);

#endif
