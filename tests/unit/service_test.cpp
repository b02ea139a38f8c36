// The service main routine and control handler in-process: the Service
// Control Manager's side is replaced at link time (the test program provides
// the import slots of the calls below), so every report can be recorded and
// the control handler can be given codes the real manager never sends, such
// as SHUTDOWN.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "fake_jni.h"
#include "launcher/jvm.h"
#include "launcher/launcher.h"
#include "launcher/shutdown.h"
#include "launcher/thread_dump.h"
#include "log/log.h"
#include "service/install.h"
#include "service/service.h"
#include "test_support.h"

namespace {

CRITICAL_SECTION reportsLock;
std::vector<SERVICE_STATUS> reports;
HANDLE reportEvent;
LPHANDLER_FUNCTION registeredHandler;
std::wstring registeredName;
bool failRegister;
bool failCreateEvent;
bool failLauncherThread;
bool failShutdownThread;
LONG launcherStarts;
LPTHREAD_START_ROUTINE shutdownStandIn;
DWORD slowReporter;
HANDLE shutdownRelease;
const SERVICE_STATUS_HANDLE FAKE_STATUS_HANDLE = (SERVICE_STATUS_HANDLE)0x5eed;

typedef HANDLE(WINAPI *CreateEventWFunction)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
typedef HANDLE(WINAPI *CreateThreadFunction)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);

FARPROC realKernel32(const char *name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

// What the stand-in launcher ends with.
DWORD launcherResult;

// Not -1: the stand-in tells of a System.exit with this code (VLSTOPONFAILURE: exitStops).
int exitToTell;
bool exitStops;

DWORD WINAPI idleLauncher(LPVOID parameter)
{
    LaunchContext *launch = (LaunchContext *)parameter;
    if (exitToTell != -1) {
        launch->inputs.stopOnFailure = exitStops;
        launch->observer.jvmExit(launch, exitToTell);
        SetEvent(stopEvent); // as the process's end ends the wait
    }
    return launcherResult;
}

} // namespace

extern "C" {

SERVICE_STATUS_HANDLE WINAPI fakeRegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler)
{
    registeredName = name;
    registeredHandler = handler;
    return failRegister ? NULL : FAKE_STATUS_HANDLE;
}

BOOL WINAPI fakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    if (handle != FAKE_STATUS_HANDLE)
        return FALSE;
    // The record as the call reads it; one thread's reports take a while to
    // reach the manager, and let the held shutdown() return meanwhile.
    SERVICE_STATUS taken = *status;
    if (GetCurrentThreadId() == slowReporter) {
        SetEvent(shutdownRelease);
        Sleep(300);
    }
    EnterCriticalSection(&reportsLock);
    reports.push_back(taken);
    LeaveCriticalSection(&reportsLock);
    SetEvent(reportEvent);
    return TRUE;
}

HANDLE WINAPI fakeCreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    if (failCreateEvent) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    return ((CreateEventWFunction)(void *)realKernel32("CreateEventW"))(security, manualReset, initialState, name);
}

// The real launcher would look for a Java runtime next to the test program;
// these tests are about the service's side only.
HANDLE WINAPI fakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE routine,
                               LPVOID parameter, DWORD flags, LPDWORD id)
{
    if (routine == launcherThread) {
        InterlockedIncrement(&launcherStarts);
        if (failLauncherThread) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        routine = idleLauncher;
    }
    if (routine == shutdownThread && failShutdownThread) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    if (routine == shutdownThread && shutdownStandIn != NULL)
        routine = shutdownStandIn;
    return ((CreateThreadFunction)(void *)realKernel32("CreateThread"))(security, stack, routine, parameter, flags, id);
}

// The service manager's side of install and uninstall: the manager opens
// unless refused, the service is refused, with these errors.
DWORD managerRefusal, serviceRefusal;

SC_HANDLE WINAPI fakeOpenSCManagerW(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(managerRefusal);
    return managerRefusal != 0 ? NULL : (SC_HANDLE)FAKE_STATUS_HANDLE;
}

SC_HANDLE WINAPI fakeOpenServiceW(SC_HANDLE, LPCWSTR, DWORD)
{
    SetLastError(serviceRefusal);
    return NULL;
}

BOOL WINAPI fakeCloseServiceHandle(SC_HANDLE) { return TRUE; }

void *__imp_OpenSCManagerW = (void *)fakeOpenSCManagerW;
void *__imp_OpenServiceW = (void *)fakeOpenServiceW;
void *__imp_CloseServiceHandle = (void *)fakeCloseServiceHandle;
void *__imp_RegisterServiceCtrlHandlerW = (void *)fakeRegisterServiceCtrlHandlerW;
void *__imp_SetServiceStatus = (void *)fakeSetServiceStatus;
void *__imp_CreateEventW = (void *)fakeCreateEventW;
void *__imp_CreateThread = (void *)fakeCreateThread;
}

namespace {

class ServiceTest : public ::testing::Test {
protected:
    HANDLE serviceThread = NULL;

    void SetUp() override
    {
        static bool initialised;
        if (!initialised) {
            InitializeCriticalSection(&reportsLock);
            reportEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
            shutdownRelease = CreateEventW(NULL, FALSE, FALSE, NULL);
            initialised = true;
        }
        useTestLog();
        reports.clear();
        registeredHandler = NULL;
        failRegister = failCreateEvent = failLauncherThread = failShutdownThread = false;
        launcherStarts = 0;
        launcherResult = 0;
        exitToTell = -1;
        shutdownStandIn = NULL;
        slowReporter = 0;
        testStages->vm.jvmHandle = NULL;
    }

    void TearDown() override
    {
        if (serviceThread != NULL) {
            WaitForSingleObject(serviceThread, 30000);
            CloseHandle(serviceThread);
        }
        logRetired = 0;
        shutdownStandIn = NULL;
    }

    static DWORD WINAPI runServiceMain(LPVOID)
    {
        wchar_t name[] = L"VelmoraneService";
        wchar_t parameter[] = L"--ignored";
        LPWSTR argv[] = {name, parameter};
        serviceMain(2, argv);
        return 0;
    }

    void startService() { serviceThread = CreateThread(NULL, 0, runServiceMain, NULL, 0, NULL); }

    bool serviceEnded(DWORD timeout) { return WaitForSingleObject(serviceThread, timeout) == WAIT_OBJECT_0; }

    std::vector<SERVICE_STATUS> snapshot()
    {
        EnterCriticalSection(&reportsLock);
        std::vector<SERVICE_STATUS> copy = reports;
        LeaveCriticalSection(&reportsLock);
        return copy;
    }

    // Reported at some point: a launcher that asks to stop at once may have
    // the service past RUNNING before the test looks.
    bool waitForState(DWORD state)
    {
        for (int i = 0; i < 100; i++) {
            std::vector<SERVICE_STATUS> now = snapshot();
            for (const SERVICE_STATUS &report : now)
                if (report.dwCurrentState == state)
                    return true;
            WaitForSingleObject(reportEvent, 100);
        }
        return false;
    }
};

struct Report {
    DWORD state;
    DWORD controlsAccepted;
};

void expectReports(const std::vector<SERVICE_STATUS> &actual, const std::vector<Report> &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); i++) {
        EXPECT_EQ(actual[i].dwServiceType, 0x30u) << "report " << i;
        EXPECT_EQ(actual[i].dwCurrentState, expected[i].state) << "report " << i;
        EXPECT_EQ(actual[i].dwControlsAccepted, expected[i].controlsAccepted) << "report " << i;
        EXPECT_EQ(actual[i].dwWin32ExitCode, 0u) << "report " << i;
        EXPECT_EQ(actual[i].dwServiceSpecificExitCode, 0u) << "report " << i;
        EXPECT_EQ(actual[i].dwCheckPoint, 0u) << "report " << i;
        EXPECT_EQ(actual[i].dwWaitHint, 0u) << "report " << i;
    }
}

const std::vector<Report> FULL_LIFE = {
    {SERVICE_START_PENDING, 0}, {SERVICE_RUNNING, 5}, {SERVICE_STOP_PENDING, 5},
    {SERVICE_STOP_PENDING, 5},  {SERVICE_STOPPED, 0},
};

// SHUTDOWN, which Wine's manager never sends, must do exactly what STOP does.
TEST_F(ServiceTest, StopAndShutdownReportTheSameSequence)
{
    const DWORD codes[] = {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN};
    for (DWORD code : codes) {
        SetUp();
        startService();
        ASSERT_TRUE(waitForState(SERVICE_RUNNING));
        EXPECT_EQ(registeredName, L"VelmoraneService");
        registeredHandler(code);
        ASSERT_TRUE(serviceEnded(10000)) << "code " << code;
        expectReports(snapshot(), FULL_LIFE);
        // The shutdown thread ran: without a virtual machine it says so.
        EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"No Java VM was created, shutdown() not called"}));
        EXPECT_EQ(stopEvent, (HANDLE)NULL);
        EXPECT_EQ(launcherStarts, 1);
        CloseHandle(serviceThread);
        serviceThread = NULL;
    }
}

TEST_F(ServiceTest, OtherControlsRepeatTheCurrentReport)
{
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    const DWORD codes[] = {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, 128, 255};
    for (DWORD code : codes)
        registeredHandler(code);
    registeredHandler(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(serviceEnded(10000));
    expectReports(snapshot(), {{SERVICE_START_PENDING, 0},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_RUNNING, 5},
                               {SERVICE_STOP_PENDING, 5},
                               {SERVICE_STOP_PENDING, 5},
                               {SERVICE_STOPPED, 0}});
}

// A second STOP or SHUTDOWN only repeats the report: it never reports
// STOP_PENDING after STOPPED and never touches the closed event.
TEST_F(ServiceTest, RepeatedStopOnlyReReports)
{
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    registeredHandler(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(serviceEnded(10000));
    registeredHandler(SERVICE_CONTROL_STOP);
    registeredHandler(SERVICE_CONTROL_SHUTDOWN);
    std::vector<Report> expected = FULL_LIFE;
    expected.push_back({SERVICE_STOPPED, 0});
    expected.push_back({SERVICE_STOPPED, 0});
    expectReports(snapshot(), expected);
    EXPECT_EQ(testLogMessages().size(), 1u);
}

TEST_F(ServiceTest, HandlerThatCannotBeRegisteredEndsWithoutReports)
{
    failRegister = true;
    startService();
    ASSERT_TRUE(serviceEnded(10000));
    EXPECT_TRUE(snapshot().empty());
    EXPECT_EQ(logRetired, 0);
}

// Without a stop event the service could not be stopped: it reports itself
// stopped at once, with the reason as its exit code, starts no launcher and
// retires the log as on every other way out.
TEST_F(ServiceTest, StopEventThatCannotBeCreatedStopsTheService)
{
    failCreateEvent = true;
    startService();
    ASSERT_TRUE(serviceEnded(10000));
    std::vector<SERVICE_STATUS> actual = snapshot();
    ASSERT_EQ(actual.size(), 2u);
    EXPECT_EQ(actual[0].dwCurrentState, (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(actual[1].dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(actual[1].dwControlsAccepted, 0u);
    EXPECT_EQ(actual[1].dwWin32ExitCode, (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(launcherStarts, 0);
    logWrite("late record\n");
    EXPECT_EQ(testLogText(), "");
}

TEST_F(ServiceTest, LauncherThatCannotStartLeavesTheServiceRunningAndStoppable)
{
    failLauncherThread = true;
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    EXPECT_FALSE(serviceEnded(300));
    registeredHandler(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(serviceEnded(10000));
    expectReports(snapshot(), FULL_LIFE);
}

// A launcher that ends asking the service to stop (a failed start with
// VLSTOPONFAILURE set) stops it as a STOP would, shutdown thread included,
// and the stop is a failure to Windows: a service-specific exit code. One
// that ends otherwise (main returned, or a failure without the variable)
// leaves the service running.
TEST_F(ServiceTest, LauncherAskingToStopStopsTheServiceWithItsExitCode)
{
    const DWORD results[] = {0, 1, STOP_ON_FAILURE_RESULT + FAILURE_NO_MAIN_CLASS};
    for (DWORD result : results) {
        SetUp();
        captureEvents();
        launcherResult = result;
        startService();
        ASSERT_TRUE(waitForState(SERVICE_RUNNING));
        bool stopping = result > STOP_ON_FAILURE_RESULT;
        EXPECT_EQ(serviceEnded(stopping ? 10000 : 300), stopping) << result;
        if (!stopping)
            registeredHandler(SERVICE_CONTROL_STOP);
        ASSERT_TRUE(serviceEnded(10000)) << result;
        std::vector<SERVICE_STATUS> actual = snapshot();
        ASSERT_FALSE(actual.empty());
        SERVICE_STATUS last = actual.back();
        actual.back().dwWin32ExitCode = actual.back().dwServiceSpecificExitCode = 0;
        expectReports(actual, FULL_LIFE);
        EXPECT_EQ(last.dwWin32ExitCode, stopping ? (DWORD)ERROR_SERVICE_SPECIFIC_ERROR : 0u) << result;
        EXPECT_EQ(last.dwServiceSpecificExitCode, stopping ? (DWORD)FAILURE_NO_MAIN_CLASS : 0u) << result;
        std::vector<CapturedEvent> events = capturedEvents();
        ASSERT_EQ(events.size(), stopping ? 1u : 0u) << result;
        if (stopping)
            EXPECT_TRUE(events[0].id == 0xC00003F3 && events[0].inserts == std::vector<std::wstring>{L"4"});
        EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"No Java VM was created, shutdown() not called"}));
        CloseHandle(serviceThread);
        serviceThread = NULL;
    }
}

// System.exit(0) under VLSTOPONFAILURE: a warning (1030) and a clean STOPPED
// (a non-zero code, and no variable: the end-to-end case).
TEST_F(ServiceTest, JvmExitWithZeroUnderStopOnFailureIsACleanStop)
{
    captureEvents();
    exitToTell = 0, exitStops = true;
    startService();
    ASSERT_TRUE(serviceEnded(10000));
    SERVICE_STATUS third = snapshot().at(2);
    EXPECT_TRUE(third.dwCurrentState == SERVICE_STOPPED && third.dwWin32ExitCode == 0 && third.dwServiceSpecificExitCode == 0);
    std::vector<CapturedEvent> events = capturedEvents();
    EXPECT_TRUE(events.size() == 1 && events[0].type == EVENTLOG_WARNING_TYPE && events[0].id == 0xC0000406 &&
                events[0].inserts == std::vector<std::wstring>{L"0"});
}

DWORD WINAPI slowShutdown(LPVOID)
{
    Sleep(SHUTDOWN_WAIT_MS + 1500);
    logWrite("late record\n");
    return 1;
}

// An application whose shutdown() outlives the wait: the service stops
// after 20000 ms, and the late thread's record is dropped, not torn.
TEST_F(ServiceTest, ShutdownLongerThanTheWaitIsLeftBehind)
{
    shutdownStandIn = slowShutdown;
    captureEvents();
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    DWORD start = GetTickCount();
    registeredHandler(SERVICE_CONTROL_STOP);
    DWORD waited = GetTickCount() - start;
    ASSERT_TRUE(serviceEnded(10000));
    EXPECT_GE(waited, (DWORD)SHUTDOWN_WAIT_MS - 100);
    expectReports(snapshot(), FULL_LIFE);
    std::vector<CapturedEvent> events = capturedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x800003F2u);
    Sleep(2500);
    EXPECT_TRUE(testLogMessages().empty());
}

// A shutdown thread that can't be started: the stop goes on at once, and no
// event says that a shutdown() outlived the wait, since none was called.
TEST_F(ServiceTest, ShutdownThreadThatCannotStartStopsAtOnceWithoutAnEvent)
{
    failShutdownThread = true;
    captureEvents();
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    DWORD start = GetTickCount();
    registeredHandler(SERVICE_CONTROL_STOP);
    EXPECT_LT(GetTickCount() - start, (DWORD)SHUTDOWN_WAIT_MS / 2);
    ASSERT_TRUE(serviceEnded(10000));
    expectReports(snapshot(), FULL_LIFE);
    EXPECT_TRUE(capturedEvents().empty());
}

// PRESHUTDOWN (15) stops the service only when VLPRESHUTDOWN=1 has made it
// accept it (0x105); otherwise it is one more control to re-report.
TEST_F(ServiceTest, PreshutdownStopsOnlyWhenAccepted)
{
    for (DWORD controls : {0x105u, 5u}) {
        SetUp();
        _wputenv_s(L"VLPRESHUTDOWN", controls == 0x105 ? L"1" : L"0");
        startService();
        ASSERT_TRUE(waitForState(SERVICE_RUNNING));
        registeredHandler(SERVICE_CONTROL_PRESHUTDOWN);
        if (!serviceEnded(300))
            registeredHandler(SERVICE_CONTROL_STOP);
        ASSERT_TRUE(serviceEnded(10000));
        std::vector<Report> expected = {{SERVICE_START_PENDING, 0}, {SERVICE_RUNNING, controls}, {SERVICE_STOP_PENDING, controls},
                                        {SERVICE_STOP_PENDING, controls}, {SERVICE_STOPPED, 0}};
        if (controls == 5)
            expected.insert(expected.begin() + 2, {SERVICE_RUNNING, 5});
        expectReports(snapshot(), expected);
        CloseHandle(serviceThread);
        serviceThread = NULL;
    }
    _wputenv_s(L"VLPRESHUTDOWN", L"");
}

// A shutdown() that returns when let go, or after the dump has begun.
DWORD WINAPI heldShutdown(LPVOID)
{
    WaitForSingleObject(shutdownRelease, THREAD_DUMP_AFTER_MS + 1000);
    return 1;
}

// A failed start's stop (VLSTOPONFAILURE) runs on the service main routine's
// thread while the dispatcher may re-report: a re-report that read the record
// before STOPPED reaches the manager before it, never after.
TEST_F(ServiceTest, ReReportDuringAFailedStartsStopNeverComesAfterStopped)
{
    launcherResult = STOP_ON_FAILURE_RESULT + FAILURE_NO_MAIN;
    shutdownStandIn = heldShutdown;
    startService();
    ASSERT_TRUE(waitForState(SERVICE_STOP_PENDING));
    slowReporter = GetCurrentThreadId();
    registeredHandler(SERVICE_CONTROL_INTERROGATE);
    ASSERT_TRUE(serviceEnded(10000));
    std::vector<SERVICE_STATUS> actual = snapshot();
    ASSERT_EQ(actual.size(), FULL_LIFE.size() + 1);
    EXPECT_EQ(actual.back().dwServiceSpecificExitCode, (DWORD)FAILURE_NO_MAIN);
    actual.back().dwWin32ExitCode = actual.back().dwServiceSpecificExitCode = 0;
    std::vector<Report> expected = FULL_LIFE;
    expected.insert(expected.begin() + 3, {SERVICE_STOP_PENDING, 5});
    expectReports(actual, expected);
}

// shutdown() returning while the dump still runs ends the stop at once: what
// the dump has not written is cut off, it never lengthens the stop.
TEST_F(ServiceTest, StopEndsWhenShutdownReturnsDuringTheDump)
{
    resetFakeJvm();
    HANDLE hold = CreateEventW(NULL, TRUE, FALSE, NULL);
    fakeScript.dumpHoldIn = "getAllStackTraces";
    fakeScript.dumpHold = hold;
    testStages->vm.jvmHandle = &fakeVm;
    shutdownStandIn = heldShutdown;
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(stopApplication(testStages));
    EXPECT_LT(GetTickCount64() - start, (ULONGLONG)THREAD_DUMP_AFTER_MS + 2500);
    SetEvent(hold);
    Sleep(500); // the dump's thread gives up and detaches
    testStages->vm.jvmHandle = NULL;
    CloseHandle(hold);
    EXPECT_EQ(testLogMessages(), (std::vector<std::string>{"The Java threads could not be dumped"}));
}

// A record stuck in the log's open holds up neither the stop nor STOPPED.
TEST_F(ServiceTest, RecordStuckInTheLogsOpenHoldsUpNeitherTheStopNorStopped)
{
    shutdownStandIn = [](LPVOID) -> DWORD { return logWrite("Shutdown called\n"), 1; };
    startService();
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    HANDLE writer = startStuckRecord();
    DWORD start = GetTickCount();
    registeredHandler(SERVICE_CONTROL_STOP);
    EXPECT_LT(GetTickCount() - start, (DWORD)LOG_RECORD_WAIT_MS + 1000);
    bool ended = serviceEnded(LOG_RECORD_WAIT_MS + 1000);
    releaseStuckRecord(writer);
    EXPECT_TRUE(ended);
    expectReports(snapshot(), FULL_LIFE);
}

// install and uninstall refused for want of rights (error 5: no elevation)
// or by a manager out of reach print their failure line with the code.
TEST(InstallCommands, RefusedOpensPrintTheFailureLine)
{
    const struct { void (*command)(void); DWORD manager, service; std::string printed; } cases[] = {
        {installService, ERROR_ACCESS_DENIED, 0, "VelmoraneService was not installed successfully. Error Code 5\r\n"},
        {uninstallService, ERROR_ACCESS_DENIED, 0, "Access denied while trying to remove VelmoraneService \r\n"},
        {uninstallService, RPC_S_SERVER_UNAVAILABLE, 0, "Error Code 1722 while trying to remove VelmoraneService \r\n"},
        {uninstallService, 0, ERROR_ACCESS_DENIED, "Access denied while trying to remove VelmoraneService \r\n"},
    };
    for (const auto &c : cases) {
        managerRefusal = c.manager;
        serviceRefusal = c.service;
        EXPECT_EQ(printedText(c.command), c.printed);
    }
}

} // namespace
