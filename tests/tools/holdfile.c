/*
 * holdfile: keeps a file open from a Windows process for a while, so that the
 * tests can see what the service does while another program holds its log.
 *
 *   holdfile PATH SECONDS [SHARE]
 *
 * SHARE is any combination of the letters r, w and d (FILE_SHARE_READ, _WRITE,
 * _DELETE), or "none"; the default is "none". The file is opened for reading
 * and created if it is missing. "held" is printed (and flushed) once the file
 * is open, "released" after it has been closed. Exit codes: 0 done, 1 usage,
 * 2 the open failed (error=N printed).
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static int parse_share(const wchar_t *text, DWORD *share)
{
    DWORD value = 0;
    const wchar_t *p;

    if (wcscmp(text, L"none") == 0) {
        *share = 0;
        return 1;
    }
    for (p = text; *p != L'\0'; p++) {
        if (*p == L'r')
            value |= FILE_SHARE_READ;
        else if (*p == L'w')
            value |= FILE_SHARE_WRITE;
        else if (*p == L'd')
            value |= FILE_SHARE_DELETE;
        else
            return 0;
    }
    *share = value;
    return 1;
}

int wmain(int argc, wchar_t **argv)
{
    DWORD share = 0;
    unsigned long seconds;
    wchar_t *end = NULL;
    HANDLE file;

    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: holdfile PATH SECONDS [r|w|d...|none]\n");
        return 1;
    }
    seconds = wcstoul(argv[2], &end, 10);
    if (end == argv[2] || *end != L'\0' || seconds > 3600)
        return 1;
    if (argc == 4 && !parse_share(argv[3], &share))
        return 1;

    file = CreateFileW(argv[1], GENERIC_READ, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        printf("error=%lu\n", GetLastError());
        fflush(stdout);
        return 2;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)(seconds * 1000UL));
    if (!CloseHandle(file)) {
        printf("error=%lu call=CloseHandle\n", GetLastError());
        fflush(stdout);
        return 2;
    }
    printf("released\n");
    fflush(stdout);
    return 0;
}
