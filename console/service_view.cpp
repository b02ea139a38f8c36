// A service gets the machine environment as Windows had it at its start, and
// Windows adds the multi-string "Environment" value of the service's key at
// each start of the service. (Wine passes only the machine environment.)
#include "console/service_view.h"

#include <stdlib.h>
#include <string.h>

#include "launcher/strings.h"
#include "service/service.h"

static const char *const originTexts[] = {NULL, "machine environment", "service's Environment value"};

static const wchar_t *const serviceVariableNames[SERVICE_VARIABLE_COUNT] = {
    JVM_LIBRARY_VARIABLE,  CLASS_PATH_VARIABLE,  JAVA_TOOL_OPTIONS_VARIABLE,
    JAVA_OPTIONS_VARIABLE, JAVA_OUTPUT_VARIABLE, JAVA_OUTPUT_SIZE_VARIABLE,
    JAVA_OUTPUT_KEEP_VARIABLE, STOP_ON_FAILURE_VARIABLE, PRESHUTDOWN_VARIABLE};

static void readMachineVariable(HKEY key, int index, ServiceEnvironment *environment)
{
    wchar_t *registryText = environment->registryText;
    DWORD type = 0;
    DWORD size = sizeof environment->registryText - sizeof(wchar_t);
    if (RegQueryValueExW(key, serviceVariableNames[index], NULL, &type, (BYTE *)registryText, &size) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return;
    registryText[size / sizeof(wchar_t)] = L'\0';
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsW(registryText, environment->values[index], ENVIRONMENT_VALUE_CAPACITY);
        if (length == 0 || length > ENVIRONMENT_VALUE_CAPACITY)
            return;
    } else {
        lstrcpynW(environment->values[index], registryText, ENVIRONMENT_VALUE_CAPACITY);
    }
    environment->origins[index] = ORIGIN_MACHINE_ENVIRONMENT;
}

// "NAME=value" strings, one after the other, an empty one at the end.
static void readServiceEnvironmentValue(ServiceEnvironment *environment)
{
    wchar_t *serviceEnvironmentBlock = environment->serviceBlock;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERVICE_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD size = sizeof environment->serviceBlock - 2 * sizeof(wchar_t);
    LONG result = RegQueryValueExW(key, L"Environment", NULL, &type, (BYTE *)serviceEnvironmentBlock, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return;
    size_t count = size / sizeof(wchar_t);
    serviceEnvironmentBlock[count] = L'\0';
    serviceEnvironmentBlock[count + 1] = L'\0';
    for (const wchar_t *entry = serviceEnvironmentBlock; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const wchar_t *equals = wcschr(entry, L'=');
        if (equals == NULL)
            continue;
        for (int index = 0; index < SERVICE_VARIABLE_COUNT; index++) {
            size_t nameLength = wcslen(serviceVariableNames[index]);
            if ((size_t)(equals - entry) == nameLength && _wcsnicmp(entry, serviceVariableNames[index], nameLength) == 0) {
                lstrcpynW(environment->values[index], equals + 1, ENVIRONMENT_VALUE_CAPACITY);
                environment->origins[index] = ORIGIN_SERVICE_ENVIRONMENT;
            }
        }
    }
}

void readServiceEnvironment(ServiceEnvironment *environment)
{
    for (int index = 0; index < SERVICE_VARIABLE_COUNT; index++) {
        environment->values[index][0] = L'\0';
        environment->origins[index] = ORIGIN_NONE;
    }
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MACHINE_ENVIRONMENT_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        for (int index = 0; index < SERVICE_VARIABLE_COUNT; index++)
            readMachineVariable(key, index, environment);
        RegCloseKey(key);
    }
    readServiceEnvironmentValue(environment);
}

const wchar_t *serviceVariable(const ServiceEnvironment *environment, ServiceVariable variable)
{
    const wchar_t *value = environment->values[variable];
    return environment->origins[variable] != ORIGIN_NONE && value[0] != L'\0' ? value : NULL;
}

const wchar_t *serviceVariableName(ServiceVariable variable)
{
    return serviceVariableNames[variable];
}

const char *variableOriginText(VariableOrigin origin)
{
    return originTexts[origin];
}

// The launcher asks by name; the variables are kept by index.
static const wchar_t *serviceVariableNamed(const wchar_t *name, const void *context)
{
    for (int index = 0; index < SERVICE_VARIABLE_COUNT; index++)
        if (wcscmp(serviceVariableNames[index], name) == 0)
            return serviceVariable((const ServiceEnvironment *)context, (ServiceVariable)index);
    return NULL;
}

void serviceLaunchInputs(const ServiceEnvironment *environment, const wchar_t *executable, LaunchInputs *inputs)
{
    launchInputsFrom(executable, serviceVariableNamed, environment, inputs);
}

// Setting an empty value removes the variable, as the service would not have it.
void applyJvmEnvironment(const ServiceEnvironment *environment)
{
    const ServiceVariable jvmVariables[] = {VARIABLE_JAVA_TOOL_OPTIONS, VARIABLE_JAVA_OPTIONS};
    for (ServiceVariable variable : jvmVariables) {
        const wchar_t *value = serviceVariable(environment, variable);
        _wputenv_s(serviceVariableNames[variable], value != NULL ? value : L"");
    }
}

void openServiceManager(ServiceManager *manager)
{
    manager->handle = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    manager->error = manager->handle != NULL ? ERROR_SUCCESS : GetLastError();
}

void closeServiceManager(ServiceManager *manager)
{
    if (manager->handle != NULL)
        CloseServiceHandle(manager->handle);
    manager->handle = NULL;
}

bool queryServiceStatus(const ServiceManager *manager, SERVICE_STATUS_PROCESS *status, DWORD *error)
{
    memset(status, 0, sizeof *status);
    status->dwCurrentState = SERVICE_NOT_INSTALLED;
    *error = 0;
    if (manager->handle == NULL) {
        *error = manager->error;
        return false;
    }
    SC_HANDLE service = OpenServiceW(manager->handle, SERVICE_NAME, SERVICE_QUERY_STATUS);
    bool answered = true;
    if (service != NULL) {
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)status, sizeof *status, &needed)) {
            *error = GetLastError();
            answered = false;
        }
        CloseServiceHandle(service);
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        *error = GetLastError();
        answered = false;
    }
    return answered;
}

bool queryServiceState(const ServiceManager *manager, DWORD *state, DWORD *error)
{
    SERVICE_STATUS_PROCESS status;
    bool answered = queryServiceStatus(manager, &status, error);
    *state = status.dwCurrentState;
    return answered;
}

const char *serviceStateText(DWORD state)
{
    switch (state) {
    case SERVICE_NOT_INSTALLED: return "not installed";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continuing";
    case SERVICE_PAUSE_PENDING: return "pausing";
    case SERVICE_PAUSED: return "paused";
    default: return "in an unknown state";
    }
}
