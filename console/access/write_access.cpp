// The decision works on the descriptor alone, so it is tested on descriptors
// built from SDDL strings.
#include "console/access/write_access.h"

#include <sddl.h>
#include <string.h>

#include "log/logowner.h"

// The system's own principals and the service's account.
static bool isTrusted(PSID sid, PSID serviceAccount)
{
    return isTrustedPrincipal(sid) || (serviceAccount != NULL && EqualSid(sid, serviceAccount));
}

static SID_IDENTIFIER_AUTHORITY worldAuthority = {SECURITY_WORLD_SID_AUTHORITY};

// The placeholders for whoever creates the child or owns the object; the
// group placeholders stand for a group, not for the creator.
static bool isOwnerPlaceholder(PSID sid)
{
    static SID_IDENTIFIER_AUTHORITY creatorAuthority = {SECURITY_CREATOR_SID_AUTHORITY};
    if (memcmp(GetSidIdentifierAuthority(sid), &creatorAuthority, sizeof creatorAuthority) != 0 ||
        *GetSidSubAuthorityCount(sid) != 1)
        return false;
    DWORD rid = *GetSidSubAuthority(sid, 0);
    return rid == SECURITY_CREATOR_OWNER_RID || rid == SECURITY_CREATOR_OWNER_SERVER_RID ||
           rid == SECURITY_CREATOR_OWNER_RIGHTS_RID;
}

// Entries that allow or deny depending on a condition evaluated at run time
// (callback and conditional entries) or on object types.
static bool grantsByCondition(BYTE type)
{
    switch (type) {
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        return true;
    default:
        return false;
    }
}

int findOtherWriters(PSECURITY_DESCRIPTOR descriptor, bool judgeOwner, PSID serviceAccount, PSID *writers, int capacity,
                     int *unjudged)
{
    UnjudgedEntries entries;
    int count =
        findPrincipalsWith(descriptor, judgeOwner, serviceAccount, WRITE_ACCESS_MASK, true, writers, capacity, &entries);
    *unjudged = entries.conditional + entries.crowded;
    return count;
}

int findPrincipalsWith(PSECURITY_DESCRIPTOR descriptor, bool judgeOwner, PSID serviceAccount, ACCESS_MASK wanted,
                       bool withInherited, PSID *writers, int capacity, UnjudgedEntries *unjudged)
{
    unjudged->conditional = 0;
    unjudged->crowded = 0;
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
    // The owner may rewrite the access list whatever it says.
    if (judgeOwner && owner != NULL && !isTrusted(owner, serviceAccount)) {
        principals[count] = owner;
        allowed[count] = WRITE_DAC;
        denied[count] = 0;
        count++;
    }
    if (!present || acl == NULL) {
        InitializeSid((PSID)everyone, &worldAuthority, 1);
        *GetSidSubAuthority((PSID)everyone, 0) = SECURITY_WORLD_RID;
        principals[count] = (PSID)everyone;
        allowed[count] = GENERIC_ALL;
        denied[count] = 0;
        count++;
        acl = NULL;
    }

    for (DWORD index = 0; acl != NULL && index < acl->AceCount; index++) {
        ACE_HEADER *header = NULL;
        if (!GetAce(acl, index, (void **)&header))
            continue;
        // An inherit-only entry is for what is created inside: the files the
        // service loads from the folder. One that nothing inherits is void.
        if ((header->AceFlags & INHERIT_ONLY_ACE) &&
            (!withInherited || !(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))))
            continue;
        bool allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        if (!allow && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            // Audit, alarm, label and trust entries grant nothing.
            if (grantsByCondition(header->AceType))
                unjudged->conditional++;
            continue;
        }
        // Allowed and denied entries share one layout.
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        PSID sid = (PSID)&ace->SidStart;
        // Generic rights stand for write access on files as well.
        ACCESS_MASK rights = ace->Mask & wanted;
        // Where owners are not told apart, the owner is everybody's account.
        bool ownersAccount = !judgeOwner && owner != NULL && EqualSid(sid, owner);
        if (rights == 0 || isTrusted(sid, serviceAccount) || isOwnerPlaceholder(sid) || ownersAccount)
            continue;
        int at = 0;
        while (at < count && !EqualSid(principals[at], sid))
            at++;
        if (at == count) {
            // Its grant might be the one that matters: said, not passed over.
            if (count == PRINCIPAL_LIMIT) {
                unjudged->crowded++;
                continue;
            }
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
