// The Java output's rotation: the variables' values, the renames over a temp
// folder, the cut at a line's end, the pipe drained, refused writes counted.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/javaoutput.h"
#include "launcher/output_open.h"
#include "launcher/output_pump.h"
#include "launcher/output_rotation.h"
#include "log/log.h"
#include "log/logowner.h"
#include "test_support.h"

namespace {

TEST(OutputRotation, SizeAndKeepValues)
{
    struct { const wchar_t *text; bool valid; ULONGLONG size; } sizes[] = {
        {L"1", true, 1}, {L"10K", true, 10240}, {L"1m", true, 1048576}, {L"2G", true, 2147483648ULL},
        {L"9223372036854775807", true, 0x7fffffffffffffffULL}, {L"9223372036854775808", false, 0},
        {L"8589934592G", false, 0}, {L"0", false, 0}, {L"", false, 0}, {L"K", false, 0}, {L"1KB", false, 0},
        {L"-1", false, 0}, {L" 1", false, 0}, {L"1T", false, 0},
    };
    for (const auto &c : sizes) {
        ULONGLONG size = 0;
        EXPECT_EQ(parseOutputSize(c.text, &size), c.valid) << c.text;
        EXPECT_EQ(size, c.size) << c.text;
    }
    struct { const wchar_t *text; bool valid; int keep; } keeps[] = {
        {L"0", true, 0}, {L"99", true, 99}, {L"100", false, -1}, {L"5x", false, -1}, {L"", false, -1},
    };
    for (const auto &c : keeps) {
        int keep = -1;
        EXPECT_EQ(parseOutputKeep(c.text, &keep), c.valid) << c.text;
        EXPECT_EQ(keep, c.keep) << c.text;
    }
    // What the rotated files can take in all, at most the largest number.
    struct { ULONGLONG size; int keep; ULONGLONG most; } products[] = {{10, 2, 30}, {1ULL << 62, 3, ~0ULL}};
    for (const auto &c : products) {
        OutputRotation rotation = {c.size, c.keep};
        EXPECT_EQ(rotatedFilesMost(&rotation), c.most) << c.size;
    }
    useTestLog();
    setOutputRotation(L"1X", L"100", &testStages->output.pump.rotation);
    EXPECT_EQ(testStages->output.pump.rotation.size, 0u);
    EXPECT_EQ(testStages->output.pump.rotation.keep, 5);
    EXPECT_EQ(testLogMessages(),
              (std::vector<std::string>{
                  "VLJAVAOUTPUTSIZE environment variable is not a size, the Java output is not rotated",
                  "VLJAVAOUTPUTKEEP environment variable is not a number from 0 to 99, 5 older files are kept"}));
}

std::vector<std::string> contents(const std::string &path, int last)
{
    std::vector<std::string> texts;
    for (int n = 0; n <= last; n++) {
        std::string text = "-";
        readFile(n == 0 ? path : path + "." + std::to_string(n), &text);
        texts.push_back(text);
    }
    return texts;
}

// Older files move up, the oldest at the count and any past it go, a gap is
// no failure; a file another program holds without sharing deletion stops
// the rotation with one record and leaves the names as they were.
TEST(OutputRotation, RenamesOverAFolder)
{
    useTestLog();
    std::string path = makeTempDir("rotation") + "\\out.txt";
    std::wstring wide(path.begin(), path.end());
    writeFile(path, "new");
    writeFile(path + ".2", "two");
    ASSERT_TRUE(rotateOutputFiles(wide.c_str(), 2, false, false));
    EXPECT_EQ(contents(path, 3), (std::vector<std::string>{"-", "new", "-", "-"}));
    writeFile(path, "newer");
    HANDLE held = CreateFileA((path + ".1").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_FALSE(rotateOutputFiles(wide.c_str(), 2, false, false));
    CloseHandle(held);
    EXPECT_EQ(contents(path, 2), (std::vector<std::string>{"newer", "new", "-"}));
    EXPECT_TRUE(rotateOutputFiles(wide.c_str(), 2, false, false));
    // What a larger count left goes with the next rotation.
    writeFile(path + ".3", "three");
    writeFile(path + ".99", "last");
    writeFile(path, "x");
    EXPECT_TRUE(rotateOutputFiles(wide.c_str(), 2, false, true));
    EXPECT_EQ(contents(path, 3), (std::vector<std::string>{"-", "x", "newer", "-"}));
    EXPECT_EQ(GetFileAttributesA((path + ".99").c_str()), INVALID_FILE_ATTRIBUTES);
    writeFile(path, "y");
    EXPECT_TRUE(rotateOutputFiles(wide.c_str(), 0, false, true));
    EXPECT_EQ(contents(path, 3), (std::vector<std::string>{"-", "-", "-", "-"}));
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Can't rotate " + path +
                                                           ", error 32; the Java output goes on into it"}));
    removeTree(path.substr(0, path.size() - 8));
}

// Through the pipe: a file over the size is rotated first, each file ends at
// a line's end, a line over 64 KiB is cut, the stop's drain leaves nothing in
// the pipe; refused writes are counted once, in one record.
TEST(OutputRotation, PumpCutsAtLineEndsAndCountsWhatItDrops)
{
    useTestLog();
    std::string dir = makeTempDir("rotation"), path = dir + "\\out.txt";
    writeFile(path, "earlier run over the size\n");
    HANDLE savedOutput = GetStdHandle(STD_OUTPUT_HANDLE), savedError = GetStdHandle(STD_ERROR_HANDLE);
    setOutputRotation(L"8", L"9", &testStages->output.pump.rotation);
    redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
    HANDLE pipe = testStages->output.javaOutputFile;
    std::string longLine(OUTPUT_LONGEST_LINE + 3, 'x');
    std::string written = "a\nbb\nccccccccc\nd" + longLine + "\ne\n";
    DWORD count = 0;
    WriteFile(pipe, written.data(), (DWORD)written.size(), &count, NULL);
    // The thread writes it; the open file refuses a reader that does not share deletion.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    for (int wait = 0; wait < 200; wait++) {
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == 7)
            break;
        Sleep(10);
    }
    HANDLE current = testStages->output.pump.file;
    testStages->output.pump.file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    WriteFile(pipe, "lost\n", 5, &count, NULL);
    finishJavaOutput(&testStages->output, OUTPUT_DRAIN_MS);
    stopOutputPump(&testStages->output.pump);
    CloseHandle(testStages->output.pump.file);
    CloseHandle(current);
    clearJavaOutput(&testStages->output);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
    SetStdHandle(STD_ERROR_HANDLE, savedError);
    setOutputRotation(NULL, NULL, &testStages->output.pump.rotation);
    EXPECT_EQ(contents(path, 4), (std::vector<std::string>{"xxxx\ne\n", "d" + longLine.substr(4),
                                                           "a\nbb\nccccccccc\n", "earlier run over the size\n", "-"}));
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"Java output goes to " + path,
                                                           "5 bytes of the Java output could not be written to " +
                                                               path + ", error 5"}));
    removeTree(dir);
}

// At a stop or System.exit the process ends right after the output is
// finished: from then on the thread writes nothing, which the process's end
// could cut inside a line, but it still empties the pipe, so no writer waits.
TEST(OutputRotation, NothingIsWrittenAfterTheOutputIsFinished)
{
    useTestLog();
    std::string dir = makeTempDir("rotation"), path = dir + "\\out.txt";
    HANDLE savedOutput = GetStdHandle(STD_OUTPUT_HANDLE), savedError = GetStdHandle(STD_ERROR_HANDLE);
    setOutputRotation(L"1M", NULL, &testStages->output.pump.rotation);
    redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
    std::string after(2 * 1024 * 1024, 'x'); // more than the pipe holds
    DWORD count = 0;
    WriteFile(testStages->output.javaOutputFile, "before\n", 7, &count, NULL);
    finishJavaOutput(&testStages->output, OUTPUT_DRAIN_MS);
    EXPECT_TRUE(WriteFile(testStages->output.javaOutputFile, after.data(), (DWORD)after.size(), &count, NULL));
    stopOutputPump(&testStages->output.pump);
    CloseHandle(testStages->output.pump.file);
    clearJavaOutput(&testStages->output);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
    SetStdHandle(STD_ERROR_HANDLE, savedError);
    setOutputRotation(NULL, NULL, &testStages->output.pump.rotation);
    EXPECT_EQ(contents(path, 1), (std::vector<std::string>{"before\n", "-"}));
    removeTree(dir);
}

// An open of the rotation that does not return (an oplock on Windows).
HANDLE openRelease;
bool blockedOwnerCheck(HANDLE file, char *ownerText)
{
    WaitForSingleObject(openRelease, INFINITE);
    return hasTrustedOwner(file, ownerText);
}

// What a writer gives the pipe while the finish runs, a piece every 20 ms.
std::vector<std::string> finishPieces;
DWORD WINAPI writePieces(LPVOID)
{
    for (const std::string &piece : finishPieces) {
        DWORD count = 0;
        Sleep(20);
        WriteFile(testStages->output.javaOutputFile, piece.data(), (DWORD)piece.size(), &count, NULL);
    }
    return 0;
}

// The finish, on a thread of its own as the stop runs it, waits for the
// pump's thread, never for its file work: a rotation whose open blocks
// leaves it its bound, and what that thread holds when the open returns is
// not written. The file ends at a line's end: a line under way is waited
// for, and one the writer is still inside at the deadline is dropped, even
// when every piece ends inside a line.
TEST(OutputRotation, TheFinishKeepsItsBoundAndEndsTheFileAtALineEnd)
{
    std::string lines = "1\n";
    std::vector<std::string> straddling;
    for (int n = 2; n < 80; n++) {
        straddling.push_back(std::to_string(n) + "\n" + std::to_string(n + 1));
        lines += std::to_string(n) + std::to_string(n) + "\n";
    }
    struct { const wchar_t *size; std::string first; std::vector<std::string> pieces; bool blocked; std::string file; } cases[] = {
        {L"1M", "one\ntw", {"o\n"}, false, "one\ntwo\n"},
        {L"1M", "1\n2", straddling, false, lines}, // the file: some of these lines
        {L"8", "0123456789\n", {"lost\n"}, true, "0123456789\n"}, // rotated, when the open returns
    };
    for (const auto &c : cases) {
        std::string dir = makeTempDir("rotation"), path = dir + "\\out.txt";
        HANDLE savedOutput = GetStdHandle(STD_OUTPUT_HANDLE), savedError = GetStdHandle(STD_ERROR_HANDLE);
        openRelease = CreateEventW(NULL, TRUE, FALSE, NULL);
        setOutputRotation(c.size, NULL, &testStages->output.pump.rotation);
        redirectJavaOutputTo(std::wstring(path.begin(), path.end()).c_str(), &testStages->output);
        javaOutputOwnerCheck = c.blocked ? blockedOwnerCheck : hasTrustedOwner;
        finishPieces = {c.first};
        writePieces(NULL);
        Sleep(200);
        finishPieces = c.pieces;
        HANDLE writer = CreateThread(NULL, 0, writePieces, NULL, 0, NULL);
        if (c.blocked) // its rotation is under way before the finish
            WaitForSingleObject(writer, INFINITE);
        HANDLE finish = CreateThread(
            NULL, 0, [](LPVOID) -> DWORD { return finishJavaOutput(&testStages->output, 500), 0; }, NULL, 0, NULL);
        EXPECT_EQ(WaitForSingleObject(finish, 3000), WAIT_OBJECT_0) << c.first;
        WaitForSingleObject(writer, INFINITE);
        SetEvent(openRelease);
        javaOutputOwnerCheck = hasTrustedOwner;
        stopOutputPump(&testStages->output.pump);
        CloseHandle(testStages->output.pump.file);
        for (HANDLE handle : {finish, writer, openRelease})
            CloseHandle(handle);
        clearJavaOutput(&testStages->output);
        SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);
        SetStdHandle(STD_ERROR_HANDLE, savedError);
        std::string file, rest;
        readFile(c.blocked ? path + ".1" : path, &file);
        EXPECT_TRUE(!file.empty() && file.back() == '\n' && c.file.compare(0, file.size(), file) == 0) << file;
        EXPECT_TRUE(!c.blocked || (readFile(path, &rest) && rest.empty())) << rest;
        removeTree(dir);
    }
}

} // namespace
