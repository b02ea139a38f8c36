// Rotation renames files, never copies them: the cost does not grow with the
// size. A rename goes through a handle opened with the output file's
// refusals, so no name reached through a link is moved or removed, and
// never replaces an existing name, so nothing planted at the new name is
// written through or lost.
#include "launcher/output_rotation.h"

#include <stdio.h>
#include <wchar.h>

#include "launcher/inputs.h"
#include "launcher/output_open.h"
#include "launcher/records.h"
#include "launcher/strings.h"
#include "log/log.h"

static bool parseDigits(const wchar_t **text, ULONGLONG limit, ULONGLONG *value)
{
    const wchar_t *at = *text;
    *value = 0;
    for (; *at >= L'0' && *at <= L'9'; at++) {
        ULONGLONG digit = (ULONGLONG)(*at - L'0');
        if (*value > (limit - digit) / 10)
            return false;
        *value = *value * 10 + digit;
    }
    bool any = at != *text;
    *text = at;
    return any;
}

bool parseOutputSize(const wchar_t *text, ULONGLONG *size)
{
    const ULONGLONG limit = 0x7fffffffffffffffULL;
    ULONGLONG value;
    if (text == NULL || !parseDigits(&text, limit, &value) || value == 0)
        return false;
    int shift = 0;
    switch (*text) {
    case L'\0': break;
    case L'k': case L'K': shift = 10; break;
    case L'm': case L'M': shift = 20; break;
    case L'g': case L'G': shift = 30; break;
    default: return false;
    }
    if (shift != 0 && (text[1] != L'\0' || value > (limit >> shift)))
        return false;
    *size = value << shift;
    return true;
}

bool parseOutputKeep(const wchar_t *text, int *keep)
{
    ULONGLONG value;
    if (text == NULL || !parseDigits(&text, OUTPUT_KEEP_MOST, &value) || *text != L'\0')
        return false;
    *keep = (int)value;
    return true;
}

void setOutputRotation(const wchar_t *sizeText, const wchar_t *keepText, OutputRotation *rotation)
{
    rotation->size = 0;
    rotation->keep = OUTPUT_KEEP_DEFAULT;
    if (sizeText != NULL && !parseOutputSize(sizeText, &rotation->size)) {
        rotation->size = 0;
        logWrite(RECORD_OUTPUT_SIZE_INVALID);
    }
    if (keepText != NULL && !parseOutputKeep(keepText, &rotation->keep)) {
        rotation->keep = OUTPUT_KEEP_DEFAULT;
        logWrite(RECORD_OUTPUT_KEEP_INVALID, OUTPUT_KEEP_MOST, OUTPUT_KEEP_DEFAULT);
    }
}

ULONGLONG rotatedFilesMost(const OutputRotation *rotation)
{
    ULONGLONG files = (ULONGLONG)rotation->keep + 1;
    return rotation->size > ~0ULL / files ? ~0ULL : rotation->size * files;
}

// "<path>.<number>" (number 0: the path itself), wide and ANSI.
static bool rotatedName(const wchar_t *path, int number, wchar_t *name, char *nameAnsi)
{
    wchar_t suffix[8] = L"";
    if (number > 0)
        swprintf(suffix, 8, L".%d", number);
    if (!joinPath(name, path, suffix))
        return false;
    ansiCopy(name, nameAnsi);
    return true;
}

// Renames the file `from` (number) to `to` through its handle; a missing
// file is no failure. `to` NULL removes it.
static bool moveOne(const wchar_t *from, const char *fromAnsi, const wchar_t *to, DWORD *error)
{
    HANDLE file = openRotatedFile(from, fromAnsi, error);
    if (file == INVALID_HANDLE_VALUE)
        return *error == ERROR_FILE_NOT_FOUND;
    bool done;
    if (to == NULL) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        done = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    } else {
        // FILE_RENAME_INFO ends in the new name; room for a full path.
        size_t length = wcslen(to);
        size_t bytes = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
        FILE_RENAME_INFO *rename = (FILE_RENAME_INFO *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
        done = rename != NULL;
        if (done) {
            rename->ReplaceIfExists = FALSE;
            rename->FileNameLength = (DWORD)(length * sizeof(wchar_t));
            memcpy(rename->FileName, to, length * sizeof(wchar_t));
            done = SetFileInformationByHandle(file, FileRenameInfo, rename, (DWORD)bytes);
            HeapFree(GetProcessHeap(), 0, rename);
        } else {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    *error = done ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return done;
}

bool rotateOutputFiles(const wchar_t *path, int keep, bool quiet, bool sweep)
{
    // Two names on the heap: a path buffer each is too much for a stack.
    wchar_t *from = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, 2 * PATH_CAPACITY * sizeof(wchar_t));
    char *fromAnsi = (char *)HeapAlloc(GetProcessHeap(), 0, ANSI_CAPACITY);
    if (from == NULL || fromAnsi == NULL) {
        HeapFree(GetProcessHeap(), 0, from);
        HeapFree(GetProcessHeap(), 0, fromAnsi);
        if (!quiet)
            logWrite(RECORD_OUTPUT_NOT_ROTATED, "the Java output file", (unsigned long)ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    wchar_t *to = from + PATH_CAPACITY;
    DWORD error = ERROR_SUCCESS;
    bool done = true;
    // From the highest number a count can leave down: past the count (what a
    // larger count left) and at it, removed; below it, moved up by one.
    for (int number = sweep ? OUTPUT_KEEP_MOST : keep; number >= 0 && done; number--) {
        bool past = number > keep;
        // The source's ANSI name last: its records name it.
        if ((!past && !rotatedName(path, number + 1, to, fromAnsi)) || !rotatedName(path, number, from, fromAnsi)) {
            // A name too long to make was never one of the rotation's files.
            if (past)
                continue;
            error = ERROR_FILENAME_EXCED_RANGE;
            done = false;
            break;
        }
        done = moveOne(from, fromAnsi, number >= keep ? NULL : to, &error);
    }
    if (!done && !quiet && error != ERROR_SUCCESS) {
        ansiCopy(path, fromAnsi);
        logWrite(RECORD_OUTPUT_NOT_ROTATED, fromAnsi, (unsigned long)error);
    }
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, fromAnsi);
    return done;
}
