// The log as the service judges it: the console runs as another account than
// the service, so the owner it accepts is the registration's account, not
// this program's.
#include "console/log_view.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>

#include "launcher/strings.h"
#include "log/log.h"
#include "log/logowner.h"
#include "service/service.h"

bool registeredAccountSid(const wchar_t *name, PSID sid, DWORD capacity)
{
    if (name == NULL || name[0] == L'\0' || lstrcmpiW(name, L"LocalSystem") == 0)
        return CreateWellKnownSid(WinLocalSystemSid, NULL, sid, &capacity) != FALSE;
    // ".\name" is the SCM's way to name an account of this machine; the lookup knows no ".".
    if (name[0] == L'.' && name[1] == L'\\')
        name += 2;
    wchar_t domain[256];
    DWORD domainSize = sizeof domain / sizeof domain[0];
    SID_NAME_USE use;
    return LookupAccountNameW(NULL, name, sid, &capacity, domain, &domainSize, &use) != FALSE;
}

bool ordinarySystemFolderOwner(PSID sid, DWORD capacity)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (length == 0 || length >= MAX_PATH ||
        GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL,
                              &descriptor) != ERROR_SUCCESS)
        return false;
    bool ordinary = GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != NULL &&
                    !isTrustedPrincipal(owner) && CopySid(capacity, sid, owner);
    LocalFree(descriptor);
    return ordinary;
}

void serviceAccountName(const ServiceManager *manager, wchar_t *name, DWORD capacity)
{
    lstrcpynW(name, L"LocalSystem", (int)capacity);
    SC_HANDLE service = manager->handle != NULL ? OpenServiceW(manager->handle, SERVICE_NAME, SERVICE_QUERY_CONFIG)
                                                : NULL;
    DWORD needed = 0;
    QUERY_SERVICE_CONFIGW *config = service != NULL ? (QUERY_SERVICE_CONFIGW *)malloc(CONFIGURATION_CAPACITY) : NULL;
    if (config != NULL && QueryServiceConfigW(service, config, CONFIGURATION_CAPACITY, &needed) &&
        config->lpServiceStartName != NULL && config->lpServiceStartName[0] != L'\0')
        lstrcpynW(name, config->lpServiceStartName, (int)capacity);
    free(config);
    if (service != NULL)
        CloseServiceHandle(service);
}

static BYTE serviceAccount[SECURITY_MAX_SID_SIZE];

void judgeLogAsTheService(const ServiceManager *manager)
{
    wchar_t name[256];
    serviceAccountName(manager, name, sizeof name / sizeof name[0]);
    if (!ordinarySystemFolderOwner(serviceAccount, sizeof serviceAccount) &&
        !registeredAccountSid(name, serviceAccount, sizeof serviceAccount))
        registeredAccountSid(NULL, serviceAccount, sizeof serviceAccount);
    logOwnerAccount = serviceAccount;
}

// The log's words for the kind, with what an operator needs besides.
void logRefusalText(LogFileState state, char *text, size_t capacity)
{
    const char *detail = state == LOG_FILE_LINK ? ", or reached through one"
                         : state == LOG_FILE_SECOND_NAME ? " (a hard link)" : "";
    if (state == LOG_FILE_FOREIGN_OWNER)
        snprintf(text, capacity, "a file that belongs to neither the system nor the service's account");
    else
        snprintf(text, capacity, "%s%s", fileKindRefusal(state), detail);
}

bool logRefused(const LogFileCheck *check)
{
    return check->state != LOG_FILE_PLAIN && check->state != LOG_FILE_ABSENT && check->state != LOG_FILE_UNOPENABLE;
}

void refusedLogLine(const LogFileCheck *check, const char *ownerName, char *line, size_t capacity)
{
    char reason[128];
    logRefusalText(check->state, reason, sizeof reason);
    snprintf(line, capacity, "%s is not the service's log: %s, owned by %s (%s); the service writes no record to it, and status reports none of it",
             LOG_FILE_PATH, reason, ownerName[0] != '\0' ? ownerName : "an unknown account",
             check->owner[0] != '\0' ? check->owner : "owner unreadable");
}

void ownerAccountName(const char *ownerSid, char *name, DWORD capacity)
{
    char domain[256];
    DWORD nameSize = capacity, domainSize = sizeof domain;
    SID_NAME_USE use;
    PSID owner = NULL;
    name[0] = '\0';
    if (ownerSid[0] == '\0' || !ConvertStringSidToSidA(ownerSid, &owner))
        return;
    if (!LookupAccountSidA(NULL, owner, name, &nameSize, domain, &domainSize, &use)) {
        name[0] = '\0';
    } else if (domain[0] != '\0') {
        char account[512];
        snprintf(account, sizeof account, "%s\\%s", domain, name);
        lstrcpynA(name, account, (int)capacity);
    }
    LocalFree(owner);
}

void blankControls(char *text)
{
    for (unsigned char *p = (unsigned char *)text; *p != 0; p++)
        if ((*p < 0x20 && *p != '\r' && *p != '\n') || *p == 0x7F)
            *p = ' ';
}
