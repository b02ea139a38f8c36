// Log: the service writes its records to a fixed file; a missing folder or a
// file held open loses them silently.
#include "console/check.h"

#include "console/report.h"
#include "log/log.h"

#define LOG_FOLDER "c:\\windows\\temp"

void checkLog(void)
{
    reportSection("Log");
    DWORD folder = GetFileAttributesA(LOG_FOLDER);
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) {
        reportFinding(FINDING_PROBLEM, "the log folder %s does not exist: the service would write no log", LOG_FOLDER);
        reportRemedy("create %s", LOG_FOLDER);
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(LOG_FILE_PATH, GetFileExInfoStandard, &data)) {
        reportFinding(FINDING_OK, "%s does not exist yet; the first start creates it", LOG_FILE_PATH);
        return;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        reportFinding(FINDING_PROBLEM, "%s is a link or a folder, not a file", LOG_FILE_PATH);
        reportRemedy("delete it; the service makes a new file");
        return;
    }
    ULONGLONG size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    // Opened as the service opens it: for appending, shared with nobody.
    HANDLE file = CreateFileA(LOG_FILE_PATH, FILE_APPEND_DATA, 0, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        reportFinding(FINDING_OK, "%s: writable, %llu bytes", LOG_FILE_PATH, size);
    } else if (error == ERROR_SHARING_VIOLATION) {
        reportFinding(FINDING_WARNING, "%s (%llu bytes) is held open by another program: the service drops its records meanwhile",
                      LOG_FILE_PATH, size);
        reportRemedy("close the program that holds it");
    } else {
        reportFinding(FINDING_WARNING, "%s (%llu bytes) can't be written from this account (error %lu)", LOG_FILE_PATH,
                      size, error);
        reportRemedy("run the check as administrator; the service's account must be able to write it");
    }
}
