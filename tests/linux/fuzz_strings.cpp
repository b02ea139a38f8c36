// The launcher's string operations on arbitrary input: every result is
// compared with its model, every buffer is allocated with exactly its
// capacity so that AddressSanitizer sees the first byte past it.
#include "check_support.h"

static const size_t ANSI_CAPACITIES[] = {1, 2, 3, 4, 5, 8, 259, 260, 261, 32765, 32766, ANSI_CAPACITY};
static const size_t COUNTS[] = {0, 1, 20, 30, 32765, 32766, 32767, 32768, 0x7ffffffe, 0x7fffffff,
                                (size_t)-1, (size_t)-20, (size_t)-30};

static void checkBounded(unsigned operation, const std::wstring &source, const std::wstring &start, uint64_t count)
{
    wchar_t *actual = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    wchar_t *expected = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    REQUIRE(actual != NULL && expected != NULL, "memory");
    for (size_t i = 0; i < PATH_CAPACITY; i++)
        actual[i] = (wchar_t)(L'A' + i % 23);
    // Now and then the destination has no terminator at all.
    if (operation % 5 != 4) {
        size_t keep = start.size() < PATH_CAPACITY - 1 ? start.size() : PATH_CAPACITY - 1;
        memcpy(actual, start.c_str(), keep * sizeof(wchar_t));
        actual[keep] = L'\0';
    }
    memcpy(expected, actual, PATH_CAPACITY * sizeof(wchar_t));

    switch ((operation / 5) % 4) {
    case 0:
        boundedCopy(actual, source.c_str());
        modelCopy(expected, source.c_str());
        break;
    case 1: {
        size_t n = (count & 1) ? COUNTS[(count >> 1) % (sizeof COUNTS / sizeof COUNTS[0])] : (size_t)(count >> 1);
        boundedPrefixCopy(actual, source.c_str(), n);
        modelPrefixCopy(expected, source.c_str(), n);
        break;
    }
    case 2:
        boundedAppend(actual, source.c_str());
        modelAppend(expected, source.c_str());
        break;
    default: {
        // The directory is always a terminated path buffer.
        std::wstring dir = start.substr(0, PATH_CAPACITY - 1);
        bool fitted = joinPath(actual, dir.c_str(), source.c_str());
        modelCopy(expected, dir.c_str());
        modelAppend(expected, source.c_str());
        REQUIRE(fitted == (dir.size() + source.size() < PATH_CAPACITY), "joinPath's result");
        break;
    }
    }
    REQUIRE(memcmp(actual, expected, PATH_CAPACITY * sizeof(wchar_t)) == 0, "bounded operation against its model");
    free(actual);
    free(expected);
}

static void checkAnsi(const std::wstring &text, unsigned choice)
{
    // Sources are path buffers: terminated within their capacity.
    std::wstring source = text.substr(0, PATH_CAPACITY - 1);
    size_t capacity = (choice & 1) ? ANSI_CAPACITIES[(choice >> 1) % (sizeof ANSI_CAPACITIES / sizeof ANSI_CAPACITIES[0])]
                                   : 1 + (choice >> 1) % 600;
    char *ansi = (char *)malloc(capacity);
    REQUIRE(ansi != NULL, "memory");
    memset(ansi, 'n', capacity);
    if (capacity == ANSI_CAPACITY)
        ansiCopy(source.c_str(), ansi);
    else
        ansiCopyN(source.c_str(), ansi, capacity);
    REQUIRE(terminatedWithin(ansi, capacity), "ANSI copy terminated");
    REQUIRE(std::string(ansi) == modelAnsi(source.c_str(), capacity), "ANSI copy against its model");

    size_t limit = choice % (strlen(ansi) + 2);
    REQUIRE(ansiCutLength(ansi, limit) == modelCut(ansi, limit), "ANSI cut length");
    formatClassPathOption(ansi);
    REQUIRE(terminatedWithin(classPathOption, ANSI_CAPACITY), "option terminated");
    REQUIRE(std::string(classPathOption) == modelOption(ansi), "option against its model");
    free(ansi);

    std::wstring name = source.substr(0, MAX_PATH - 1);
    char nameAnsi[ANSI_CAPACITY];
    ansiCopy(name.c_str(), nameAnsi);
    REQUIRE(isJarName(name.c_str(), nameAnsi) == modelIsJar(name), "jar test");
}

static void checkModifiedUtf8(const std::wstring &source, unsigned choice, unsigned usedChoice)
{
    size_t capacity = (choice & 1) ? ANSI_CAPACITY : 1 + (choice >> 1) % 300;
    size_t used = usedChoice % capacity;
    char *text = (char *)malloc(capacity);
    REQUIRE(text != NULL, "memory");
    memset(text, 'p', capacity);
    text[used] = '\0';
    bool whole = false;
    std::string expected = std::string(used, 'p') + modelUtf8(source, capacity - 1 - used, &whole);
    REQUIRE(appendModifiedUtf8(text, capacity, source.c_str()) == whole, "modified UTF-8 result");
    REQUIRE(terminatedWithin(text, capacity), "modified UTF-8 terminated");
    REQUIRE(std::string(text) == expected, "modified UTF-8 against its model");
    free(text);
}

// Decoding gives back what encoding made, up to the buffer's capacity and
// never ending between the halves of a pair; arbitrary bytes stay in bounds.
static void checkUtf8Decoding(const std::wstring &source, const uint8_t *raw, size_t rawSize, unsigned choice)
{
    size_t capacity = 1 + choice % 300;
    wchar_t *wide = (wchar_t *)malloc(capacity * sizeof(wchar_t));
    REQUIRE(wide != NULL, "memory");
    bool whole = false;
    std::string encoded = modelUtf8(source, 3 * source.size() + 1, &whole);
    size_t decoded = modifiedUtf8ToWide(encoded.c_str(), wide, capacity);
    size_t expected = source.size() < capacity - 1 ? source.size() : capacity - 1;
    if (expected < source.size() && expected > 0 && IS_HIGH_SURROGATE(source[expected - 1]))
        expected--;
    REQUIRE(decoded == expected && wide[decoded] == L'\0', "decoded length and terminator");
    REQUIRE(wmemcmp(wide, source.data(), decoded) == 0, "decoded text");

    std::string bytes((const char *)raw, strnlen((const char *)raw, rawSize));
    decoded = modifiedUtf8ToWide(bytes.c_str(), wide, capacity);
    REQUIRE(decoded < capacity && wide[decoded] == L'\0', "arbitrary bytes decoded in bounds");
    free(wide);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input = {data, size};
    shimSetCodePage((takeByte(&input) & 1) ? SHIM_DOUBLE_BYTE : SHIM_SINGLE_BYTE);
    unsigned operation = takeByte(&input);
    uint64_t count = takeQuad(&input);
    unsigned choice = takeWord(&input);
    unsigned usedChoice = takeWord(&input);
    std::wstring source = takeText(&input, 40000);
    std::wstring start = takeText(&input, 40000);

    checkBounded(operation, source, start, count);
    checkAnsi(source, choice);
    checkModifiedUtf8(source.substr(0, 4000), choice, usedChoice);
    checkUtf8Decoding(source.substr(0, 4000), data, size, usedChoice);
    return 0;
}
