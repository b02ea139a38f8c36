// The installation as the service sees it: its environment and its state at
// the Service Control Manager.
#ifndef VELMORANE_SERVICE_VIEW_H
#define VELMORANE_SERVICE_VIEW_H

#include <windows.h>

#define SERVICE_VARIABLE_COUNT 5
// Index of VLJAVAOUTPUT in serviceVariableNames.
#define JAVA_OUTPUT_INDEX 4
#define ENVIRONMENT_VALUE_CAPACITY 32767
#define SERVICE_NOT_INSTALLED 0

extern const wchar_t *const serviceVariableNames[SERVICE_VARIABLE_COUNT];
// Each variable's value as the service gets it, and where it comes from:
// NULL (not set), "machine environment" or "service's Environment value".
extern wchar_t serviceVariableValues[SERVICE_VARIABLE_COUNT][ENVIRONMENT_VALUE_CAPACITY];
extern const char *serviceVariableOrigins[SERVICE_VARIABLE_COUNT];

// Reads the machine environment and the service's own Environment value.
void readServiceEnvironment(void);
// Gives this process those values (and removes the variables the service
// does not have), so that the stages see what the service would.
void applyServiceEnvironment(void);

// The service's current state (SERVICE_STOPPED ...), or SERVICE_NOT_INSTALLED.
// False, with the Windows error, when the SCM could not be asked.
bool queryServiceState(DWORD *state, DWORD *error);
const char *serviceStateText(DWORD state);

#endif
