// Registration: the service as the SCM has it, against this installation.
#include "console/check/check.h"

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

static void reportConfiguration(const Installation *installation, const QUERY_SERVICE_CONFIGW *config)
{
    const wchar_t *serviceExecutable = installation->serviceExecutable;
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
        reportRemedy("sc config %ls binPath= \"\\\"%s\\\"\" (keeps the rest of the registration, its Environment value included)",
                     SERVICE_NAME, installation->serviceExecutableAnsi);
    } else {
        reportFinding(FINDING_PROBLEM, "registered command line %s is not this installation's %s",
                      reportPath(config->lpBinaryPathName), reportPath(expectedCommand));
        reportRemedy("run the registered executable's uninstall, then %s install", installation->serviceExecutableAnsi);
    }
    if (config->dwStartType == SERVICE_DISABLED) {
        reportFinding(FINDING_PROBLEM, "start type: disabled");
        reportRemedy("sc config %ls start= auto", SERVICE_NAME);
    } else {
        reportFinding(FINDING_OK, "start type: %s", startTypeText(config->dwStartType));
    }
    free(expectedCommand);
    const wchar_t *account = config->lpServiceStartName;
    reportFinding(FINDING_OK, "account: %s", account != NULL && account[0] != L'\0' ? reportPath(account) : "LocalSystem");
}

void checkRegistration(const Snapshot *snapshot)
{
    reportSection("Registration");
    const Installation *installation = snapshot->installation;
    const ServiceManager *manager = &installation->manager;
    SC_HANDLE service = manager->handle != NULL ? OpenServiceW(manager->handle, SERVICE_NAME, SERVICE_QUERY_CONFIG) : NULL;
    DWORD error = manager->handle != NULL ? GetLastError() : manager->error;
    if (service == NULL) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            reportFinding(FINDING_WARNING, "%ls is not installed", SERVICE_NAME);
            reportRemedy("%s install", installation->serviceExecutableAnsi);
        } else {
            reportFinding(FINDING_WARNING, "the Service Control Manager can't be asked (error %lu)", error);
            reportRemedy("run the check from a command prompt started as administrator");
        }
        return;
    }
    DWORD needed = 0;
    QUERY_SERVICE_CONFIGW *config = (QUERY_SERVICE_CONFIGW *)malloc(CONFIGURATION_CAPACITY);
    if (config != NULL && QueryServiceConfigW(service, config, CONFIGURATION_CAPACITY, &needed))
        reportConfiguration(installation, config);
    else
        reportFinding(FINDING_WARNING, "the registration can't be read (error %lu)", GetLastError());
    free(config);
    CloseServiceHandle(service);
    DWORD state = 0;
    if (queryServiceState(manager, &state, &error))
        reportFinding(FINDING_OK, "state: %s", serviceStateText(state));
}
