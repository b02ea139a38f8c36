// Registration: the service as the SCM has it, against this installation.
#include "console/check.h"

#include <stdlib.h>

#include "console/console.h"
#include "console/report.h"
#include "console/service_view.h"
#include "service/install.h"
#include "service/service.h"

static const char *startTypeText(DWORD startType)
{
    switch (startType) {
    case SERVICE_AUTO_START: return "automatic";
    case SERVICE_DEMAND_START: return "manual";
    case SERVICE_DISABLED: return "disabled";
    default: return "boot or system";
    }
}

static void reportConfiguration(const QUERY_SERVICE_CONFIGW *config)
{
    wchar_t *expectedCommand = (wchar_t *)malloc(QUOTED_PATH_CAPACITY * sizeof(wchar_t));
    if (expectedCommand == NULL)
        return;
    quoteModulePath(serviceExecutable, expectedCommand);
    if (lstrcmpiW(config->lpBinaryPathName, expectedCommand) == 0) {
        reportFinding(FINDING_OK, "registered command line %s: this installation", reportPath(config->lpBinaryPathName));
    } else if (lstrcmpiW(config->lpBinaryPathName, serviceExecutable) == 0) {
        // Without quotes Windows tries the path cut at each blank first: a
        // program planted at such a place would run as the service's account.
        reportFinding(FINDING_PROBLEM, "registered command line %s is this installation's, without the quotes around the path",
                      reportPath(config->lpBinaryPathName));
        reportRemedy("sc config VelmoraneService binPath= \"\\\"%s\\\"\" (keeps the rest of the registration, its Environment value included)",
                     serviceExecutableAnsi);
    } else {
        reportFinding(FINDING_PROBLEM, "registered command line %s is not this installation's %s",
                      reportPath(config->lpBinaryPathName), reportPath(expectedCommand));
        reportRemedy("run the registered executable's uninstall, then %s install", serviceExecutableAnsi);
    }
    if (config->dwStartType == SERVICE_DISABLED) {
        reportFinding(FINDING_PROBLEM, "start type: disabled");
        reportRemedy("sc config VelmoraneService start= auto");
    } else {
        reportFinding(FINDING_OK, "start type: %s", startTypeText(config->dwStartType));
    }
    free(expectedCommand);
    const wchar_t *account = config->lpServiceStartName;
    reportFinding(FINDING_OK, "account: %s", account != NULL && account[0] != L'\0' ? reportPath(account) : "LocalSystem");
}

void checkRegistration(const Snapshot *)
{
    reportSection("Registration");
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != NULL ? OpenServiceW(manager, SERVICE_NAME, SERVICE_QUERY_CONFIG) : NULL;
    DWORD error = GetLastError();
    if (service == NULL) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            reportFinding(FINDING_WARNING, "VelmoraneService is not installed");
            reportRemedy("%s install", serviceExecutableAnsi);
        } else {
            reportFinding(FINDING_WARNING, "the Service Control Manager can't be asked (error %lu)", error);
            reportRemedy("run the check from a command prompt started as administrator");
        }
    } else {
        DWORD needed = 0;
        QUERY_SERVICE_CONFIGW *config = (QUERY_SERVICE_CONFIGW *)malloc(CONFIGURATION_CAPACITY);
        if (config != NULL && QueryServiceConfigW(service, config, CONFIGURATION_CAPACITY, &needed))
            reportConfiguration(config);
        else
            reportFinding(FINDING_WARNING, "the registration can't be read (error %lu)", GetLastError());
        free(config);
        DWORD state = 0;
        if (queryServiceState(&state, &error))
            reportFinding(FINDING_OK, "state: %s", serviceStateText(state));
    }
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
}
