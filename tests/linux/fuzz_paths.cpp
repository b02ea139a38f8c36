// Path derivation from an arbitrary executable path and "VLJVMDLL", on the
// launcher's own process-wide buffers (AddressSanitizer puts red zones around
// each), compared with the cuts by count.
#include "check_support.h"
#include "launcher/paths.h"

static std::wstring cutByCount(const std::wstring &path, size_t cut)
{
    return path.size() > cut ? path.substr(0, path.size() - cut) : std::wstring();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input = {data, size};
    unsigned mode = startTarget(&input);
    std::wstring raw = takeText(&input, 40000);
    std::wstring value = takeText(&input, 40000);

    shimClearEnvironment();
    if (mode & 2)
        shimSetEnvironment(JVM_LIBRARY_VARIABLE, (mode & 4) ? L"" : value.c_str(), (mode & 4) ? 0 : value.size());
    LaunchInputs inputs;
    readLaunchInputs(&inputs);
    PathsResult result;
    if (mode & 1) {
        // Through the system call, which cuts and terminates what does not fit.
        shimSetModulePath(raw.c_str(), raw.size());
        findInstallationPaths(&inputs, &checkPaths, &result);
    } else {
        // Straight into the buffer, which may then hold no terminator at all.
        size_t stored = raw.size() < PATH_CAPACITY ? raw.size() : PATH_CAPACITY;
        memcpy(checkPaths.executablePath, raw.c_str(), stored * sizeof(wchar_t));
        if (stored < PATH_CAPACITY)
            checkPaths.executablePath[stored] = L'\0';
        deriveInstallationPaths(&inputs, &checkPaths, &result);
    }

    std::wstring path = raw.substr(0, PATH_CAPACITY - 1);
    std::wstring base = cutByCount(path, EXECUTABLE_NAME_LENGTH);
    std::wstring ktr = cutByCount(path, EXECUTABLE_DIR_AND_NAME_LENGTH);
    std::wstring jvm = ktr + JVM_LIBRARY_SUFFIX;
    std::wstring runtime = ktr + RUNTIME_LIBRARY_SUFFIX;
    const wchar_t *override = _wgetenv(JVM_LIBRARY_VARIABLE);
    if (override != NULL && wcslen(override) < PATH_CAPACITY)
        jvm = override;

    const wchar_t *const wide[] = {checkPaths.executablePath, checkPaths.basePath, checkPaths.ktrPath, checkPaths.jvmLibraryPath, checkPaths.runtimeLibraryPath};
    const char *const ansi[] = {checkPaths.executablePathAnsi, checkPaths.basePathAnsi, checkPaths.ktrPathAnsi, checkPaths.jvmLibraryPathAnsi,
                                checkPaths.runtimeLibraryPathAnsi};
    const std::wstring expected[] = {path, base, ktr, jvm, runtime};
    for (int i = 0; i < 5; i++) {
        REQUIRE(terminatedWithin(wide[i], PATH_CAPACITY), "path buffer terminated");
        REQUIRE(terminatedWithin(ansi[i], ANSI_CAPACITY), "ANSI buffer terminated");
        REQUIRE(std::wstring(wide[i]) == expected[i], "path against the cuts by count");
        requireAnsiCopy(expected[i], ansi[i], ANSI_CAPACITY);
    }
    return 0;
}
