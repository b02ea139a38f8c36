// The judgement works on the descriptor and a set of SIDs alone, so it is
// tested on descriptors built from SDDL strings: Wine keeps no access lists
// and knows no virtual accounts.
#include "console/access/account_access.h"

#include <string.h>

static bool addSid(AccountSids *sids, WELL_KNOWN_SID_TYPE type)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    PSID sid = (PSID)sids->storage[sids->count];
    if (sids->count == ACCOUNT_SID_LIMIT || !CreateWellKnownSid(type, NULL, sid, &size))
        return false;
    sids->sids[sids->count++] = sid;
    return true;
}

bool isVirtualAccount(PSID account)
{
    static const SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    return IsValidSid(account) && memcmp(GetSidIdentifierAuthority(account), &ntAuthority, sizeof ntAuthority) == 0 &&
           *GetSidSubAuthorityCount(account) > 1 && *GetSidSubAuthority(account, 0) == SECURITY_SERVICE_ID_BASE_RID;
}

bool serviceAccountSids(PSID account, AccountSids *sids)
{
    sids->count = 0;
    if (!IsValidSid(account) || !CopySid(SECURITY_MAX_SID_SIZE, (PSID)sids->storage[0], account))
        return false;
    sids->sids[sids->count++] = (PSID)sids->storage[0];
    bool made = addSid(sids, WinWorldSid) && addSid(sids, WinAuthenticatedUserSid) &&
                addSid(sids, WinBuiltinUsersSid) && addSid(sids, WinServiceSid) && addSid(sids, WinLocalSid);
    if (IsWellKnownSid(account, WinLocalSystemSid))
        made = made && addSid(sids, WinBuiltinAdministratorsSid);
    // ALL SERVICES (S-1-5-80-0) has no well-known type of its own.
    if (made && isVirtualAccount(account) && sids->count < ACCOUNT_SID_LIMIT) {
        static SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
        PSID all = (PSID)sids->storage[sids->count];
        InitializeSid(all, &ntAuthority, 2);
        *GetSidSubAuthority(all, 0) = SECURITY_SERVICE_ID_BASE_RID;
        *GetSidSubAuthority(all, 1) = 0;
        sids->sids[sids->count++] = all;
    }
    return made;
}

static bool isAccountSid(const AccountSids *sids, PSID sid)
{
    for (int index = 0; index < sids->count; index++)
        if (EqualSid(sids->sids[index], sid))
            return true;
    return false;
}

ACCESS_MASK accountAccess(PSECURITY_DESCRIPTOR descriptor, const AccountSids *sids)
{
    static GENERIC_MAPPING fileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                          FILE_ALL_ACCESS};
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = NULL;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted))
        return 0;
    if (!present || acl == NULL)
        return FILE_ALL_ACCESS;
    ACCESS_MASK allowed = 0, denied = 0;
    for (DWORD index = 0; index < acl->AceCount; index++) {
        ACE_HEADER *header = NULL;
        if (!GetAce(acl, index, (void **)&header) || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
            continue;
        // Allowed and denied entries share one layout.
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        if (!isAccountSid(sids, (PSID)&ace->SidStart))
            continue;
        ACCESS_MASK rights = ace->Mask;
        MapGenericMask(&rights, &fileMapping);
        // Entries are applied in order: a denial only counts before the grant.
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE)
            allowed |= rights & ~denied;
        else
            denied |= rights & ~allowed;
    }
    return allowed;
}
