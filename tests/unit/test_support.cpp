#include "test_support.h"

LaunchContext *const testStages = newLaunchContext();

#include <io.h>
#include <stdio.h>

#include "log/log.h"
#include "log/logfile.h"
#include "service/eventlog.h"

static std::string testLogPath;

std::string makeTempDir(const char *tag)
{
    static LONG counter;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char path[MAX_PATH + 64];
    snprintf(path, sizeof path, "%svelmorane-%s-%lu-%ld", base, tag, GetCurrentProcessId(),
             InterlockedIncrement(&counter));
    removeTree(path);
    CreateDirectoryA(path, NULL);
    return path;
}

std::string printedText(const std::function<void()> &routine)
{
    std::string path = makeTempDir("printed") + "\\out.txt";
    fflush(stdout);
    int saved = _dup(1);
    FILE *file = fopen(path.c_str(), "w");
    _dup2(_fileno(file), 1);
    routine();
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    fclose(file);
    std::string text;
    readFile(path, &text);
    return text;
}

void removeTree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

void writeFile(const std::string &path, const std::string &text)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file != NULL) {
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
}

bool readFile(const std::string &path, std::string *text)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (file == NULL)
        return false;
    text->clear();
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    fclose(file);
    return true;
}

std::wstring fixturePath(const wchar_t *relative)
{
    wchar_t self[MAX_PATH];
    std::wstring path(self, GetModuleFileNameW(NULL, self, MAX_PATH));
    path.resize(path.rfind(L'\\'));
    return path.substr(0, path.rfind(L'\\')) + L"\\fixtures\\" + relative;
}

void useTestLog(void)
{
    static bool lockCreated;
    if (!lockCreated) {
        logLockCreate();
        lockCreated = true;
    }
    testLogPath = makeTempDir("log") + "\\velmoraneservice.log";
    logFilePath = testLogPath.c_str();
    logRetired = 0;
}

std::string testLogText(void)
{
    std::string text;
    readFile(testLogPath, &text);
    return text;
}

static bool hasStamp(const std::string &line)
{
    static const char shape[] = "00/00/00 00:00:00 ";
    if (line.size() < 18)
        return false;
    for (size_t i = 0; i < 18; i++) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i])
            return false;
    }
    return true;
}

std::vector<std::string> testLogMessages(void)
{
    std::vector<std::string> messages;
    std::string text = testLogText();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        messages.push_back(hasStamp(line) ? line.substr(18) : line);
        if (end == std::string::npos)
            break;
        at = end + 2;
    }
    return messages;
}

static HANDLE openRelease;

static HANDLE blockedOpen(const char *path, DWORD disposition)
{
    WaitForSingleObject(openRelease, INFINITE);
    return openLogFile(path, disposition);
}

HANDLE startStuckRecord(void)
{
    openRelease = CreateEventW(NULL, TRUE, FALSE, NULL);
    logFileOpen = blockedOpen;
    HANDLE writer = CreateThread(NULL, 0, [](LPVOID) -> DWORD { return logWrite("stuck\n"), 0; }, NULL, 0, NULL);
    for (; TryEnterCriticalSection(&logLock); Sleep(1))
        LeaveCriticalSection(&logLock);
    return writer;
}

void releaseStuckRecord(HANDLE writer)
{
    SetEvent(openRelease);
    WaitForSingleObject(writer, INFINITE);
    logFileOpen = openLogFile;
}

// Read only after the threads that report have ended.
static std::vector<CapturedEvent> captured;

static void captureEvent(WORD type, DWORD id, WORD count, const wchar_t **inserts)
{
    captured.push_back({type, id, std::vector<std::wstring>(inserts, inserts + count)});
}

void captureEvents(void)
{
    eventReport = captureEvent;
    eventsBegin();
    // Wired as the service main routine wires its launch.
    testStages->observer = {reportLogRefused, reportStartFailure, keepShutdownFrame};
    logNoticeRefusals(reportLogRefused);
    captured.clear();
}

std::vector<CapturedEvent> capturedEvents(void)
{
    return captured;
}
