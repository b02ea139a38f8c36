// The class path builder over an arbitrary base path, lib\ and plugins\
// listings and "VLCLASSPATH", compared with the bounded appends it must make
// (the string routines' own properties are fuzz_strings' concern).
#include "check_support.h"
#include "launcher/paths.h"

static std::wstring bounded(const std::wstring &a, const std::wstring &b, const std::wstring &c = L"",
                            const std::wstring &d = L"")
{
    static wchar_t joined[PATH_CAPACITY];
    boundedCopy(joined, a.c_str());
    boundedAppend(joined, b.c_str());
    boundedAppend(joined, c.c_str());
    boundedAppend(joined, d.c_str());
    return joined;
}

static const wchar_t *const NAMES[] = {L".", L"..", L".jar", L"x.jar", L"..jar", L"B.JAR", L"c.Jar",
                                       L"a.jar.txt", L"ajar", L"lib.jar ", L"\x65E5.jar", L"\xD83D\xDE00.jar"};

// A name: one of the usual ones, or a text with an optional ".jar" suffix.
static std::wstring takeName(Input *input)
{
    unsigned kind = takeByte(input);
    if (kind < 0x40)
        return NAMES[kind % (sizeof NAMES / sizeof NAMES[0])];
    std::wstring name = takeText(input, MAX_PATH - 1);
    if (kind & 1)
        name += (kind & 2) ? L".JAR" : L".jar";
    if (name.size() > MAX_PATH - 1)
        name.erase(0, name.size() - (MAX_PATH - 1));
    return name;
}

static std::vector<std::wstring> takeListing(Input *input, unsigned most)
{
    std::vector<std::wstring> names;
    unsigned count = takeByte(input) % (most + 1);
    for (unsigned i = 0; i < count && input->size > 0; i++)
        names.push_back(takeName(input));
    // A long listing of long names, to fill the class path.
    unsigned filler = takeByte(input);
    if (filler >= 0xC0) {
        // At most 249 + 3 + 4 characters: every name fits an entry whole.
        std::wstring stem(200 + filler % 50, (wchar_t)(L'a' + filler % 26));
        for (unsigned i = 0; i < 150; i++)
            names.push_back(stem + std::to_wstring(i) + L".jar");
    }
    return names;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input = {data, size};
    unsigned mode = startTarget(&input);
    std::wstring base = takeText(&input, PATH_CAPACITY - 1);
    boundedCopy(checkPaths.basePath, base.c_str());

    shimResetSearches();
    int lib = shimAddSearch((mode & 3) != 0);
    std::vector<std::wstring> libNames = takeListing(&input, 40);
    for (const std::wstring &name : libNames)
        shimAddName(lib, name.c_str(), name.size());
    int plugins = shimAddSearch((mode & 4) != 0);
    std::vector<std::wstring> pluginNames = takeListing(&input, 20);
    if (pluginNames.size() > 60)
        pluginNames.resize(60);
    for (const std::wstring &name : pluginNames)
        shimAddName(plugins, name.c_str(), name.size());
    for (size_t i = 0; i < pluginNames.size(); i++) {
        int sub = shimAddSearch((takeByte(&input) & 1) != 0);
        std::vector<std::wstring> subNames = takeListing(&input, 6);
        for (size_t j = 0; j < subNames.size() && j < 6; j++)
            shimAddName(sub, subNames[j].c_str(), subNames[j].size());
    }

    shimClearEnvironment();
    std::wstring value = takeText(&input, 40000);
    if (mode & 8)
        shimSetEnvironment(CLASS_PATH_VARIABLE, value.c_str(), value.size());

    memset(checkClassPath.classPathOption, 'o', sizeof checkClassPath.classPathOption);
    LaunchInputs inputs;
    readLaunchInputs(&inputs);
    static FolderEntry entries[16];
    ClassPathResult result = {};
    result.entries = entries;
    result.entryCapacity = 16;
    buildClassPath(&inputs, checkPaths.basePath, &checkClassPath, &result);

    REQUIRE(shimOpenSearches() == 0, "every enumeration closed");
    REQUIRE(terminatedWithin(checkClassPath.searchPattern, PATH_CAPACITY), "search pattern terminated");
    REQUIRE(terminatedWithin(checkClassPath.subdirectoryPattern, PATH_CAPACITY), "sub-directory pattern terminated");
    REQUIRE(terminatedWithin(checkClassPath.classPathText, PATH_CAPACITY), "class path terminated");
    REQUIRE(terminatedWithin(checkClassPath.entryNameAnsi, ANSI_CAPACITY), "entry name terminated");
    REQUIRE(terminatedWithin(checkClassPath.subdirectoryPatternAnsi, ANSI_CAPACITY), "ANSI sub-directory pattern terminated");
    REQUIRE(terminatedWithin(checkClassPath.classPathTextAnsi, ANSI_CAPACITY), "ANSI class path terminated");
    REQUIRE(terminatedWithin(checkClassPath.classPathOption, ANSI_CAPACITY), "option terminated");
    REQUIRE(std::wstring(checkPaths.basePath) == base, "base path unchanged");

    bool libFound = (mode & 3) != 0 && !libNames.empty();
    bool pluginsFound = (mode & 4) != 0 && !pluginNames.empty();
    std::vector<std::wstring> patterns;
    patterns.push_back(bounded(base, L"lib\\*"));
    std::string classPathAnsi;
    if (libFound) {
        std::wstring text;
        static char nameAnsi[ANSI_CAPACITY];
        for (const std::wstring &name : libNames)
            if (ansiCopy(name.c_str(), nameAnsi), isJarName(name.c_str(), nameAnsi))
                text = bounded(text, base, L"lib\\", name), text = bounded(text, L";");
        REQUIRE(std::wstring(checkClassPath.classPathText) == text, "class path against the bounded appends");
        requireAnsiCopy(text, checkClassPath.classPathTextAnsi, ANSI_CAPACITY);
        classPathAnsi = checkClassPath.classPathTextAnsi;
    } else {
        patterns.push_back(bounded(base, L"plugins\\*"));
        if (pluginsFound)
            for (const std::wstring &name : pluginNames)
                patterns.push_back(bounded(base, L"plugins\\", name, L"\\*"));
    }
    REQUIRE(shimSearchCount() == (int)patterns.size(), "number of searches");
    for (size_t i = 0; i < patterns.size(); i++)
        REQUIRE(patterns[i] == shimSearchPattern((int)i), "search pattern");

    const wchar_t *override = _wgetenv(CLASS_PATH_VARIABLE);
    requireOption(override != NULL ? converted(override, wcslen(override)) : classPathAnsi);
    return 0;
}
