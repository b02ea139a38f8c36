// Under Wine files have no owners of their own: every file reads back as
// the Unix user's, which is also the account every Wine process runs as, so
// the service's own files pass as the account's. On Windows a service runs
// as LocalSystem, and a log it made belongs to SYSTEM or Administrators.
#include "log/logowner.h"

#include <aclapi.h>
#include <sddl.h>

FileOwnerQuery fileOwnerQuery = queryFileOwner;
PSID logOwnerAccount = NULL;

DWORD queryFileOwner(HANDLE file, PSECURITY_DESCRIPTOR *descriptor)
{
    return GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL, descriptor);
}

bool isTrustedPrincipal(PSID sid)
{
    static const WELL_KNOWN_SID_TYPE wellKnown[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (WELL_KNOWN_SID_TYPE type : wellKnown)
        if (IsWellKnownSid(sid, type))
            return true;
    // TrustedInstaller, the service SID of the installer's service.
    PSID installer = NULL;
    if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
        return false;
    bool same = EqualSid(sid, installer) != FALSE;
    LocalFree(installer);
    return same;
}

bool isTrustedLogOwner(PSECURITY_DESCRIPTOR descriptor, PSID self)
{
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        return false;
    return owner == NULL || isTrustedPrincipal(owner) || (self != NULL && EqualSid(owner, self));
}

static void ownerTextOf(PSECURITY_DESCRIPTOR descriptor, char *ownerText)
{
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    char *text = NULL;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != NULL &&
        ConvertSidToStringSidA(owner, &text)) {
        lstrcpynA(ownerText, text, OWNER_TEXT_CAPACITY);
        LocalFree(text);
    }
}

bool hasTrustedOwner(HANDLE file, char *ownerText)
{
    ownerText[0] = '\0';
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (fileOwnerQuery(file, &descriptor) != ERROR_SUCCESS)
        return false;
    // The process's own account, from its token, unless another is named.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } self;
    HANDLE token = NULL;
    DWORD size = 0;
    PSID selfSid = logOwnerAccount;
    if (selfSid == NULL && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, &self, sizeof self, &size))
            selfSid = self.user.User.Sid;
        CloseHandle(token);
    }
    bool trusted = isTrustedLogOwner(descriptor, selfSid);
    if (!trusted)
        ownerTextOf(descriptor, ownerText);
    LocalFree(descriptor);
    return trusted;
}

void fileOwnerText(HANDLE file, char *ownerText)
{
    ownerText[0] = '\0';
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (fileOwnerQuery(file, &descriptor) != ERROR_SUCCESS)
        return;
    ownerTextOf(descriptor, ownerText);
    LocalFree(descriptor);
}
