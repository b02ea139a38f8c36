// The launcher's string operations on arbitrary input: every result is
// checked for the properties it must have, every buffer is allocated with
// exactly its capacity so that AddressSanitizer sees the first byte past it.
#include "check_support.h"

static const size_t ANSI_CAPACITIES[] = {1, 2, 3, 4, 5, 8, 259, 260, 261, 32765, 32766, ANSI_CAPACITY};
static const size_t COUNTS[] = {0, 1, 20, 30, 32765, 32766, 32767, 32768, 0x7ffffffe, 0x7fffffff,
                                (size_t)-1, (size_t)-20, (size_t)-30};

static void checkBounded(unsigned operation, const std::wstring &source, const std::wstring &start, uint64_t count)
{
    wchar_t *actual = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    wchar_t *before = (wchar_t *)malloc(PATH_CAPACITY * sizeof(wchar_t));
    REQUIRE(actual != NULL && before != NULL, "memory");
    for (size_t i = 0; i < PATH_CAPACITY; i++)
        actual[i] = (wchar_t)(L'A' + i % 23);
    // Now and then the destination has no terminator at all.
    bool unterminated = operation % 5 == 4;
    std::wstring kept = start.substr(0, PATH_CAPACITY - 1);
    if (!unterminated)
        memcpy(actual, kept.c_str(), (kept.size() + 1) * sizeof(wchar_t));
    memcpy(before, actual, PATH_CAPACITY * sizeof(wchar_t));

    // What the operation gives with no bound.
    std::wstring whole;
    bool leftAlone = false;
    switch ((operation / 5) % 4) {
    case 0:
        boundedCopy(actual, source.c_str());
        whole = source;
        break;
    case 1: {
        size_t n = (count & 1) ? COUNTS[(count >> 1) % (sizeof COUNTS / sizeof COUNTS[0])] : (size_t)(count >> 1);
        boundedPrefixCopy(actual, source.c_str(), n);
        whole = n > BOUNDED_COUNT_LIMIT ? std::wstring() : source.substr(0, n);
        break;
    }
    case 2:
        boundedAppend(actual, source.c_str());
        leftAlone = unterminated;
        whole = kept + source;
        break;
    default:
        // The directory is always a terminated path buffer.
        REQUIRE(joinPath(actual, kept.c_str(), source.c_str()) == (kept.size() + source.size() < PATH_CAPACITY),
                "joinPath's result");
        whole = kept + source;
        break;
    }
    if (leftAlone) {
        REQUIRE(memcmp(actual, before, PATH_CAPACITY * sizeof(wchar_t)) == 0, "unterminated destination left alone");
    } else {
        size_t length = wcsnlen(actual, PATH_CAPACITY);
        REQUIRE(length == (whole.size() < PATH_CAPACITY ? whole.size() : PATH_CAPACITY - 1), "as much as fits");
        REQUIRE(wmemcmp(actual, whole.data(), length) == 0, "the start of the unbounded result");
        REQUIRE(wmemcmp(actual + length + 1, before + length + 1, PATH_CAPACITY - length - 1) == 0,
                "nothing after the terminator changed");
    }
    free(actual);
    free(before);
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
    requireAnsiCopy(source, ansi, capacity);

    // The cut ends after a whole character, and the next one would pass the limit.
    size_t length = strlen(ansi), limit = choice % (length + 2);
    size_t cut = ansiCutLength(ansi, limit);
    std::vector<std::pair<size_t, size_t>> ends = characterEnds(source, length);
    size_t i = 0;
    while (i < ends.size() && ends[i].first < cut)
        i++;
    REQUIRE(i < ends.size() && ends[i].first == cut && cut <= limit, "ANSI cut after a whole character");
    REQUIRE(cut == length || ends[i + 1].first > limit, "ANSI cut keeps all that fits");
    formatClassPathOption(checkClassPath.classPathOption, ansi);
    requireOption(ansi);
    free(ansi);

    std::wstring name = source.substr(0, MAX_PATH - 1);
    char nameAnsi[ANSI_CAPACITY];
    ansiCopy(name.c_str(), nameAnsi);
    size_t nameLength = strlen(nameAnsi);
    bool jar = isJarName(name.c_str(), nameAnsi);
    REQUIRE(!jar || (name.size() > 4 && nameLength >= 4 && memcmp(nameAnsi + nameLength - 4, ".jar", 4) == 0),
            "a jar's name ends with .jar");
    REQUIRE(jar || name.size() <= 4 || name.compare(name.size() - 4, 4, L".jar") != 0, "a name ending with .jar is a jar");
}

// Encoded, then decoded: the start of the source, all of it when the result
// says so; only what no unit would fit into is left over.
static void checkModifiedUtf8(const std::wstring &source, unsigned choice, unsigned usedChoice)
{
    size_t capacity = (choice & 1) ? ANSI_CAPACITY : 1 + (choice >> 1) % 300;
    size_t used = usedChoice % capacity;
    char *text = (char *)malloc(capacity);
    REQUIRE(text != NULL, "memory");
    memset(text, 'p', capacity);
    text[used] = '\0';
    bool whole = appendModifiedUtf8(text, capacity, source.c_str());
    REQUIRE(terminatedWithin(text, capacity), "modified UTF-8 terminated");
    REQUIRE(std::string(text, used) == std::string(used, 'p'), "modified UTF-8 keeps what was there");
    size_t appended = strlen(text) - used;
    std::vector<wchar_t> back(appended + 1);
    size_t decoded = modifiedUtf8ToWide(text + used, back.data(), back.size());
    REQUIRE(source.compare(0, decoded, back.data(), decoded) == 0, "modified UTF-8 holds the source's start");
    REQUIRE(whole == (decoded == source.size()), "modified UTF-8 result");
    REQUIRE(whole || capacity - 1 - used - appended < 3, "modified UTF-8 holds all that fits");
    free(text);
}

// Decoding gives back what encoding made, up to the buffer's capacity and
// never ending between the halves of a pair; arbitrary bytes stay in bounds.
static void checkUtf8Decoding(const std::wstring &source, const uint8_t *raw, size_t rawSize, unsigned choice)
{
    size_t capacity = 1 + choice % 300;
    wchar_t *wide = (wchar_t *)malloc(capacity * sizeof(wchar_t));
    REQUIRE(wide != NULL, "memory");
    std::vector<char> encoded(3 * source.size() + 1, '\0');
    REQUIRE(appendModifiedUtf8(encoded.data(), encoded.size(), source.c_str()), "encoded whole");
    size_t decoded = modifiedUtf8ToWide(encoded.data(), wide, capacity);
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
