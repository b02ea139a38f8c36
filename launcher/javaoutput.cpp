// A service has no console: what the virtual machine and the application
// write to standard output and standard error goes nowhere unless the
// operator names a file for it in "VLJAVAOUTPUT".
//
// The Java class library writes System.out and System.err through the
// process's standard handles (GetStdHandle). The virtual machine's own
// messages go through file descriptors 1 and 2 of the C runtime it is linked
// with, which takes them from the standard handles when it starts. So the
// handles are set before any runtime library is loaded; a C runtime that is
// in the process already has its descriptors pointed at the file as well.
#include "launcher/javaoutput.h"

#include <stdarg.h>
#include <stdio.h>

#include "launcher/output_open.h"
#include "launcher/output_pump.h"
#include "launcher/output_rotation.h"
#include "launcher/records.h"
#include "log/log.h"

#define VM_MESSAGE_CAPACITY 4096

// The virtual machine calls its hook with no argument of ours: the output it
// writes to is the one its options were made for.
static JavaOutput *hookedOutput;

// The C runtimes a Java runtime's jvm.dll is linked with. Only one already in
// the process needs its descriptors set; nothing is loaded here.
static const wchar_t *const javaRuntimeCrts[] = {L"ucrtbase.dll", L"msvcr120.dll", L"msvcr100.dll"};

typedef intptr_t(__cdecl *GetOsfhandleFunction)(int);
typedef int(__cdecl *OpenOsfhandleFunction)(intptr_t, int);
typedef int(__cdecl *Dup2Function)(int, int);
typedef int(__cdecl *CloseFunction)(int);

#define CRT_O_TEXT 0x4000
// What a C runtime's descriptor holds when the process had no such handle
// when the runtime started (a service has no console).
#define CRT_NO_HANDLE ((intptr_t)-1)
#define CRT_NO_CONSOLE ((intptr_t)-2)

// Points descriptors 1 and 2 of one loaded C runtime at the file, in text
// mode as the runtime opens them itself. Only a descriptor without a handle
// is changed: _dup2 closes the handle a descriptor held, and that handle may
// be the one other code in the process writes to. The runtime owns the handle
// it is given, so it gets a duplicate; _dup2 duplicates again for each
// descriptor, and the first descriptor is closed after.
static void pointLoadedCrtAt(HMODULE crt, HANDLE file)
{
    GetOsfhandleFunction getOsfhandle = (GetOsfhandleFunction)(void *)GetProcAddress(crt, "_get_osfhandle");
    OpenOsfhandleFunction openOsfhandle = (OpenOsfhandleFunction)(void *)GetProcAddress(crt, "_open_osfhandle");
    Dup2Function dup2 = (Dup2Function)(void *)GetProcAddress(crt, "_dup2");
    CloseFunction close = (CloseFunction)(void *)GetProcAddress(crt, "_close");
    if (getOsfhandle == NULL || openOsfhandle == NULL || dup2 == NULL || close == NULL)
        return;
    HANDLE copy = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return;
    int fd = openOsfhandle((intptr_t)copy, CRT_O_TEXT);
    if (fd < 0) {
        CloseHandle(copy);
        return;
    }
    for (int standard = 1; standard <= 2; standard++) {
        intptr_t held = getOsfhandle(standard);
        if (held != CRT_NO_HANDLE && held != CRT_NO_CONSOLE)
            continue;
        // _dup2 duplicates with inheritance on (Wine's msvcrt and the UCRT
        // alike): a child started with inheritance would hold the file.
        if (dup2(fd, standard) == 0)
            SetHandleInformation((HANDLE)getOsfhandle(standard), HANDLE_FLAG_INHERIT, 0);
    }
    close(fd);
}

// Both standard handles, or neither: on failure the previous ones are put back.
static bool setStandardHandles(HANDLE file)
{
    HANDLE previousOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    if (SetStdHandle(STD_OUTPUT_HANDLE, file) && SetStdHandle(STD_ERROR_HANDLE, file))
        return true;
    DWORD error = GetLastError();
    SetStdHandle(STD_OUTPUT_HANDLE, previousOutput);
    SetLastError(error);
    return false;
}

void clearJavaOutput(JavaOutput *output)
{
    output->javaOutputPath[0] = L'\0';
    output->javaOutputPathAnsi[0] = '\0';
    output->javaOutputFile = INVALID_HANDLE_VALUE;
    output->pump.rotation.size = 0;
    output->pump.rotation.keep = OUTPUT_KEEP_DEFAULT;
    output->pump.thread = NULL;
    output->pump.file = INVALID_HANDLE_VALUE;
}

void redirectJavaOutputTo(const wchar_t *value, JavaOutput *output)
{
    wchar_t *javaOutputPath = output->javaOutputPath;
    char *javaOutputPathAnsi = output->javaOutputPathAnsi;
    if (value == NULL || value[0] == L'\0')
        return;
    if (wcsnlen(value, PATH_CAPACITY) >= PATH_CAPACITY) {
        // A cut path could name some other file: refuse the value instead.
        logWrite(RECORD_OUTPUT_VARIABLE_TOO_LONG, PATH_CAPACITY - 1);
        return;
    }
    boundedCopy(javaOutputPath, value);
    ansiCopy(javaOutputPath, javaOutputPathAnsi);

    // Shared for reading, writing and deletion, so the file can be read,
    // rotated or removed while the service runs. Not inheritable: the file
    // stays open for the life of the process, and a child that should write
    // there is given it explicitly (Java's ProcessBuilder marks the handles
    // it passes on inheritable itself); otherwise every child started with
    // inheritance would hold it open too.
    DWORD error = ERROR_SUCCESS;
    HANDLE file = openOutputFile(javaOutputPath, javaOutputPathAnsi, &error);
    if (file == INVALID_HANDLE_VALUE && error == ERROR_SUCCESS)
        return;
    // With rotation the virtual machine writes into the pump's pipe, and the
    // pump into the file; without it, straight into the file as ever.
    HANDLE target = file;
    if (file != INVALID_HANDLE_VALUE && output->pump.rotation.size > 0) {
        target = startOutputPump(&output->pump, javaOutputPath, javaOutputPathAnsi, &file);
        if (file == INVALID_HANDLE_VALUE)
            return; // the new file after the first rotation: its record is written
        if (target == INVALID_HANDLE_VALUE)
            target = file; // no pipe: straight into the file, not rotated
    }
    if (target != INVALID_HANDLE_VALUE && !setStandardHandles(target)) {
        error = GetLastError();
        stopOutputPump(&output->pump);
        CloseHandle(file);
        target = INVALID_HANDLE_VALUE;
    }
    if (target == INVALID_HANDLE_VALUE) {
        logWrite(RECORD_OUTPUT_UNOPENED, javaOutputPathAnsi, (unsigned long)error);
        return;
    }
    output->javaOutputFile = target;
    bool crtPointed = false;
    for (const wchar_t *name : javaRuntimeCrts) {
        HMODULE crt = GetModuleHandleW(name);
        if (crt != NULL) {
            pointLoadedCrtAt(crt, target);
            crtPointed = true;
        }
    }
    // A C runtime's _dup2 onto descriptor 1 or 2 sets the standard handle to
    // its own duplicate (Wine's always, Windows' in console programs): put
    // back the one handle that lives as long as the process. Should that
    // fail, the handles still name the file, through the duplicates.
    if (crtPointed)
        (void)setStandardHandles(target);
    logWrite(RECORD_OUTPUT_REDIRECTED, javaOutputPathAnsi);
}

void finishJavaOutput(JavaOutput *output, DWORD timeoutMs)
{
    // Without the pump's thread (no rotation) there is nothing to finish.
    finishOutputPump(&output->pump, timeoutMs);
}

// Where the standard handles lead: behind what the application wrote. The
// bytes are those the virtual machine's C runtime writes in text mode: each
// line feed becomes CR LF, so the text is at most twice the message. What is
// returned is the message's length, as vfprintf counts it.
static jint JNICALL vfprintfHook(FILE *, const char *format, va_list arguments)
{
    char message[VM_MESSAGE_CAPACITY];
    int length = vsnprintf(message, sizeof message, format, arguments);
    if (length < 0)
        return length;
    size_t count = (size_t)length < sizeof message ? (size_t)length : sizeof message - 1;
    char text[2 * VM_MESSAGE_CAPACITY];
    size_t textLength = 0;
    for (size_t at = 0; at < count; at++) {
        if (message[at] == '\n')
            text[textLength++] = '\r';
        text[textLength++] = message[at];
    }
    DWORD written = 0;
    if (!WriteFile(hookedOutput->javaOutputFile, text, (DWORD)textLength, &written, NULL) ||
        written != textLength)
        return -1;
    return (jint)count;
}

int addJavaOutputHook(JavaOutput *output, JavaVMOption *option)
{
    if (output->javaOutputFile == INVALID_HANDLE_VALUE)
        return 0;
    hookedOutput = output;
    option->optionString = (char *)"vfprintf";
    option->extraInfo = (void *)vfprintfHook;
    return 1;
}
