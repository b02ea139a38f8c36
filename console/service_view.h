// The installation as the service sees it: its environment and its state at
// the Service Control Manager.
#ifndef VELMORANE_SERVICE_VIEW_H
#define VELMORANE_SERVICE_VIEW_H

#include <windows.h>

#include "launcher/inputs.h"
#include "log/logfile.h"
#include "service/service.h"

// The service's key below HKEY_LOCAL_MACHINE.
#define SERVICE_KEY L"SYSTEM\\CurrentControlSet\\Services\\" SERVICE_NAME

// The variables the service and its virtual machine read, in the report's order.
enum ServiceVariable {
    VARIABLE_JVM_LIBRARY,
    VARIABLE_CLASS_PATH,
    VARIABLE_JAVA_TOOL_OPTIONS,
    VARIABLE_JAVA_OPTIONS,
    VARIABLE_JAVA_OUTPUT,
    VARIABLE_STOP_ON_FAILURE,
    SERVICE_VARIABLE_COUNT
};
#define ENVIRONMENT_VALUE_CAPACITY 32767
// The registration as the SCM gives it, with room for two paths of the
// longest kind; on the heap.
#define CONFIGURATION_CAPACITY (8192 + 2 * PATH_CAPACITY * sizeof(wchar_t))
#define SERVICE_NOT_INSTALLED 0

extern const wchar_t *const serviceVariableNames[SERVICE_VARIABLE_COUNT];

// Where a variable's value comes from.
extern const char MACHINE_ENVIRONMENT_ORIGIN[];
extern const char SERVICE_ENVIRONMENT_ORIGIN[];

// Each variable's value as the service gets it, and where it comes from:
// NULL (not set), MACHINE_ENVIRONMENT_ORIGIN or SERVICE_ENVIRONMENT_ORIGIN.
struct ServiceEnvironment {
    wchar_t values[SERVICE_VARIABLE_COUNT][ENVIRONMENT_VALUE_CAPACITY];
    const char *origins[SERVICE_VARIABLE_COUNT];
    wchar_t registryText[ENVIRONMENT_VALUE_CAPACITY];
    wchar_t serviceBlock[0x8000];
};

// Reads the machine environment and the service's own Environment value.
void readServiceEnvironment(ServiceEnvironment *environment);
// The variable's value when the service gets one, else NULL. An empty value
// counts as none: Windows keeps no empty variable in an environment.
const wchar_t *serviceVariable(const ServiceEnvironment *environment, ServiceVariable variable);
// The launcher's inputs as the service would get them, for `executable`.
void serviceLaunchInputs(const ServiceEnvironment *environment, const wchar_t *executable, LaunchInputs *inputs);
// Gives this process the virtual machine's own variables as the service
// has them: the virtual machine reads them from the process, not from the
// launcher.
void applyJvmEnvironment(const ServiceEnvironment *environment);

// The service's current state (SERVICE_STOPPED ...), or SERVICE_NOT_INSTALLED.
// False, with the Windows error, when the SCM could not be asked.
bool queryServiceState(DWORD *state, DWORD *error);
// The same with the whole status record (exit codes included); a service
// not installed reads as dwCurrentState SERVICE_NOT_INSTALLED.
bool queryServiceStatus(SERVICE_STATUS *status, DWORD *error);
const char *serviceStateText(DWORD state);

// The owner of Windows' own folder, into sid (capacity bytes), when it is an
// ordinary account rather than the installer or the system: there (as under
// Wine, where every file has one) an owner says nothing about who may write.
bool ordinarySystemFolderOwner(PSID sid, DWORD capacity);
// The SID of the account a registration names (its lpServiceStartName):
// LocalSystem or no name is SYSTEM, ".\\name" an account of this machine.
// False when it names no account that can be found. `sid` holds `capacity` bytes.
bool registeredAccountSid(const wchar_t *name, PSID sid, DWORD capacity);
// Makes the log be judged as the service judges it: against the account its
// registration names (LocalSystem when it can't be read), not the one this
// program runs as. Where the system tells no owners apart (Wine: Windows' own
// folder belongs to an ordinary account), every file is that one account's.
void judgeLogAsTheService(void);
// Why the service refuses a log file (a state other than LOG_FILE_PLAIN,
// LOG_FILE_ABSENT and LOG_FILE_UNOPENABLE): "a link, or reached through one"...
const char *logRefusalText(LogFileState state);
// The account of the owner's SID text as DOMAIN\name ("" when unknown).
void ownerAccountName(const char *ownerSid, char *name, DWORD capacity);

#endif
