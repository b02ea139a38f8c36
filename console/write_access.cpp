// The decision works on the descriptor alone, so it is tested on descriptors
// built from SDDL strings.
#include "console/write_access.h"

#include <sddl.h>

#define PRINCIPAL_LIMIT 64

static SID_IDENTIFIER_AUTHORITY worldAuthority = {SECURITY_WORLD_SID_AUTHORITY};

static bool isTrusted(PSID sid, PSID owner)
{
    static const wchar_t *const trusted[] = {
        L"S-1-5-18",     // SYSTEM
        L"S-1-5-32-544", // Administrators
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // TrustedInstaller
    };
    for (const wchar_t *text : trusted) {
        PSID known = NULL;
        if (ConvertStringSidToSidW(text, &known)) {
            bool same = EqualSid(sid, known);
            LocalFree(known);
            if (same)
                return true;
        }
    }
    return owner != NULL && EqualSid(sid, owner);
}

// Generic rights stand for write access on files as well.
static ACCESS_MASK writeRights(ACCESS_MASK mask)
{
    return mask & WRITE_ACCESS_MASK;
}

int findOtherWriters(PSECURITY_DESCRIPTOR descriptor, PSID *writers, int capacity)
{
    static BYTE everyone[SECURITY_MAX_SID_SIZE];
    PSID principals[PRINCIPAL_LIMIT];
    ACCESS_MASK allowed[PRINCIPAL_LIMIT];
    ACCESS_MASK denied[PRINCIPAL_LIMIT];
    int count = 0;

    BOOL present = FALSE, defaulted = FALSE, ownerDefaulted = FALSE;
    PACL acl = NULL;
    PSID owner = NULL;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted))
        return 0;
    GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted);
    if (!present || acl == NULL) {
        if (capacity < 1)
            return 0;
        InitializeSid((PSID)everyone, &worldAuthority, 1);
        *GetSidSubAuthority((PSID)everyone, 0) = SECURITY_WORLD_RID;
        writers[0] = (PSID)everyone;
        return 1;
    }

    for (DWORD index = 0; index < acl->AceCount; index++) {
        ACE_HEADER *header = NULL;
        if (!GetAce(acl, index, (void **)&header))
            continue;
        // An inherit-only entry is for what is created inside, not the folder.
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;
        bool allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        if (!allow && header->AceType != ACCESS_DENIED_ACE_TYPE)
            continue;
        // Allowed and denied entries share one layout.
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        PSID sid = (PSID)&ace->SidStart;
        ACCESS_MASK rights = writeRights(ace->Mask);
        if (rights == 0 || isTrusted(sid, owner))
            continue;
        int at = 0;
        while (at < count && !EqualSid(principals[at], sid))
            at++;
        if (at == count) {
            if (count == PRINCIPAL_LIMIT)
                continue;
            principals[count] = sid;
            allowed[count] = 0;
            denied[count] = 0;
            count++;
        }
        // Entries are applied in order: a denial only counts before the grant.
        if (allow)
            allowed[at] |= rights & ~denied[at];
        else
            denied[at] |= rights & ~allowed[at];
    }

    int found = 0;
    for (int at = 0; at < count && found < capacity; at++)
        if (allowed[at] != 0)
            writers[found++] = principals[at];
    return found;
}
