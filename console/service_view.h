// The installation as the service sees it: its environment and its state at
// the Service Control Manager.
#ifndef VELMORANE_SERVICE_VIEW_H
#define VELMORANE_SERVICE_VIEW_H

#include <windows.h>

#include "launcher/inputs.h"
#include "service/service.h"

// The service's key below HKEY_LOCAL_MACHINE.
#define SERVICE_KEY L"SYSTEM\\CurrentControlSet\\Services\\" SERVICE_NAME
// The machine-wide variables, which every service's process starts with.
#define MACHINE_ENVIRONMENT_KEY L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"

// The variables the service and its virtual machine read, in the report's order.
enum ServiceVariable {
    VARIABLE_JVM_LIBRARY,
    VARIABLE_CLASS_PATH,
    VARIABLE_JAVA_TOOL_OPTIONS,
    VARIABLE_JAVA_OPTIONS,
    VARIABLE_JAVA_OUTPUT,
    VARIABLE_JAVA_OUTPUT_SIZE,
    VARIABLE_JAVA_OUTPUT_KEEP,
    VARIABLE_STOP_ON_FAILURE,
    VARIABLE_PRESHUTDOWN,
    SERVICE_VARIABLE_COUNT
};
#define ENVIRONMENT_VALUE_CAPACITY 32767
// The registration as the SCM gives it, with room for two paths of the
// longest kind; on the heap.
#define CONFIGURATION_CAPACITY (8192 + 2 * PATH_CAPACITY * sizeof(wchar_t))
#define SERVICE_NOT_INSTALLED 0

// The variable's name (launcher/inputs.h), as the environment is read by it.
const wchar_t *serviceVariableName(ServiceVariable variable);

// Where a variable's value comes from; ORIGIN_NONE: it is not set.
enum VariableOrigin { ORIGIN_NONE, ORIGIN_MACHINE_ENVIRONMENT, ORIGIN_SERVICE_ENVIRONMENT };
// The origin in words ("machine environment"); NULL for ORIGIN_NONE.
const char *variableOriginText(VariableOrigin origin);

// Each variable's value as the service gets it, and where it comes from.
struct ServiceEnvironment {
    wchar_t values[SERVICE_VARIABLE_COUNT][ENVIRONMENT_VALUE_CAPACITY];
    VariableOrigin origins[SERVICE_VARIABLE_COUNT];
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

// The Service Control Manager as one command asks it: opened once, as sc
// opens it, with the error of the open when it could not be.
struct ServiceManager {
    SC_HANDLE handle; // NULL: not opened
    DWORD error;
};
void openServiceManager(ServiceManager *manager);
void closeServiceManager(ServiceManager *manager);

// The service's current state (SERVICE_STOPPED ...), or SERVICE_NOT_INSTALLED.
// False, with the Windows error, when the SCM could not be asked.
bool queryServiceState(const ServiceManager *manager, DWORD *state, DWORD *error);
// The same with the whole status record (exit codes and the process id
// included); a service not installed reads as dwCurrentState SERVICE_NOT_INSTALLED.
bool queryServiceStatus(const ServiceManager *manager, SERVICE_STATUS_PROCESS *status, DWORD *error);
const char *serviceStateText(DWORD state);

#endif
