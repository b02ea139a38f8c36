// The service's log seen from the console: judged as the service judges it,
// against the account its registration names, and why a refused file is
// refused, in the log's own words.
#ifndef VELMORANE_LOG_VIEW_H
#define VELMORANE_LOG_VIEW_H

#include <windows.h>
#include <stddef.h>

#include "console/service_view.h"
#include "log/logfile.h"

// The SID of the account a registration names (its lpServiceStartName):
// LocalSystem or no name is SYSTEM, ".\\name" an account of this machine.
// False when it names no account that can be found. `sid` holds `capacity` bytes.
bool registeredAccountSid(const wchar_t *name, PSID sid, DWORD capacity);
// The account the registration names (its lpServiceStartName) into `name`:
// "LocalSystem" when it names none or can't be read.
void serviceAccountName(const ServiceManager *manager, wchar_t *name, DWORD capacity);
// The owner of Windows' own folder, into sid (capacity bytes), when it is an
// ordinary account rather than the installer or the system: there (as under
// Wine, where every file has one) an owner says nothing about who may write.
bool ordinarySystemFolderOwner(PSID sid, DWORD capacity);
// Makes the log be judged as the service judges it: against the account its
// registration names (LocalSystem when it can't be read), not the one this
// program runs as. Where the system tells no owners apart, every file is that
// one account's.
void judgeLogAsTheService(const ServiceManager *manager);
// Why the service refuses a log file (a state other than LOG_FILE_PLAIN,
// LOG_FILE_ABSENT and LOG_FILE_UNOPENABLE): "a link, or reached through one"...
void logRefusalText(LogFileState state, char *text, size_t capacity);
// Whether the file at the log's path is one the service refuses (a link, a
// second name, someone else's): then nothing in it is reported as the
// service's.
bool logRefused(const LogFileCheck *check);
// The line that names a refused log file, why, and its owner (ownerName:
// the owner's account, "" when unknown).
void refusedLogLine(const LogFileCheck *check, const char *ownerName, char *line, size_t capacity);
// The account of the owner's SID text as DOMAIN\name ("" when unknown).
void ownerAccountName(const char *ownerSid, char *name, DWORD capacity);
// Turns every control byte of text read from outside (the log, what the
// virtual machine printed) but the line ends into a blank, so that it prints
// as the lines it holds.
void blankControls(char *text);

#endif
