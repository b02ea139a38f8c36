// Log: the service writes its records to a fixed file; a missing folder, a
// file held open, or one the service refuses loses them silently.
#include "console/check/check.h"

#include <string.h>

#include "console/log_view.h"
#include "console/report.h"
#include "log/log.h"
#include "log/logfile.h"

// The log's folder: its path up to the last backslash.
static void logFolder(char *folder, size_t capacity)
{
    lstrcpynA(folder, LOG_FILE_PATH, (int)capacity);
    char *slash = strrchr(folder, '\\');
    if (slash != NULL)
        *slash = '\0';
}

// A log file that can't be opened for appending: why, by the open's error.
static void reportUnopenable(const LogFileCheck *check)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(LOG_FILE_PATH, GetFileExInfoStandard, &data))
        data.dwFileAttributes = INVALID_FILE_ATTRIBUTES;
    if (data.dwFileAttributes != INVALID_FILE_ATTRIBUTES && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reportFinding(FINDING_PROBLEM, "%s is a link or a folder, not a file", LOG_FILE_PATH);
        reportRemedy("delete it; the service makes a new file");
        return;
    }
    ULONGLONG size = data.dwFileAttributes == INVALID_FILE_ATTRIBUTES
                         ? 0
                         : ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    if (check->error == ERROR_SHARING_VIOLATION) {
        reportFinding(FINDING_WARNING, "%s (%llu bytes) is held open by another program: the service drops its records meanwhile",
                      LOG_FILE_PATH, size);
        reportRemedy("close the program that holds it");
    } else {
        reportFinding(FINDING_WARNING, "%s (%llu bytes) can't be written from this account (error %lu)", LOG_FILE_PATH,
                      size, check->error);
        reportRemedy("run the check as administrator; the service's account must be able to write it");
    }
}

// A log someone else made beforehand: they could read or forge its records,
// so the service writes none to it.
static void reportForeignOwner(const LogFileCheck *check)
{
    char name[512];
    ownerAccountName(check->owner, name, sizeof name);
    reportFinding(FINDING_PROBLEM, "%s belongs to %s (%s), not to the system or the service's account: the service writes no record to it",
                  LOG_FILE_PATH, name[0] != '\0' ? name : "an unknown account",
                  check->owner[0] != '\0' ? check->owner : "owner unreadable");
    reportRemedy("del %s (the service makes a new file)", LOG_FILE_PATH);
}

void checkLog(const Snapshot *snapshot)
{
    reportSection("Log");
    char folder[MAX_PATH];
    logFolder(folder, sizeof folder);
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reportFinding(FINDING_PROBLEM, "the log folder %s does not exist: the service would write no log", folder);
        reportRemedy("create %s", folder);
        return;
    }
    // Judged as the service judges it, its owner against the service's
    // account, and closed again at once.
    LogFileCheck check;
    judgeLogAsTheService(&snapshot->installation->manager);
    logInspect(&check);
    switch (check.state) {
    case LOG_FILE_ABSENT:
        reportFinding(FINDING_OK, "%s does not exist yet; the first start creates it", LOG_FILE_PATH);
        break;
    case LOG_FILE_PLAIN:
        reportFinding(FINDING_OK, "%s: writable, %llu bytes", LOG_FILE_PATH, check.size);
        break;
    case LOG_FILE_LINK:
    case LOG_FILE_SECOND_NAME:
    case LOG_FILE_UNKNOWN: {
        char reason[128];
        logRefusalText(check.state, reason, sizeof reason);
        reportFinding(FINDING_PROBLEM, "%s is %s: the service writes no record to it", LOG_FILE_PATH, reason);
        reportRemedy("delete it; the service makes a new file");
        break;
    }
    case LOG_FILE_UNOPENABLE:
        reportUnopenable(&check);
        break;
    case LOG_FILE_FOREIGN_OWNER:
        reportForeignOwner(&check);
        break;
    }
}
