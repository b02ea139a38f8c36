// Runs a fuzz target without libFuzzer: a fixed number of inputs from a fixed
// seed (VELMORANE_BOUNDS_SEED picks another), or the files named on the command
// line. On a failure it names the seed and the input, and writes that input to
// a file that the fuzzer binary of the same target replays.
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static uint64_t seed;
static long current = -1;
static uint8_t input[4096];
static size_t inputSize;

static uint64_t next(uint64_t *state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

static void reportInput(void)
{
    char name[96];
    snprintf(name, sizeof name, "failed-input-%016llx-%ld", (unsigned long long)seed, current);
    FILE *file = fopen(name, "wb");
    if (file != NULL) {
        fwrite(input, 1, inputSize, file);
        fclose(file);
    }
    fprintf(stderr, "failed: seed 0x%016llx, input %ld, saved as %s\n", (unsigned long long)seed, current, name);
}

static void onAbort(int signal)
{
    (void)signal;
    reportInput();
    _exit(1);
}

int main(int argc, char **argv)
{
    __sanitizer_set_death_callback(reportInput);
    signal(SIGABRT, onAbort);
    const char *text = getenv("VELMORANE_BOUNDS_SEED");
    seed = text != NULL && *text != '\0' ? strtoull(text, NULL, 0) : 0x5eedb0d5c0ffee01ull;
    if (argc > 1 && argv[1][0] != '-' && access(argv[1], R_OK) == 0) {
        for (int i = 1; i < argc; i++) {
            FILE *file = fopen(argv[i], "rb");
            if (file == NULL)
                return 2;
            inputSize = fread(input, 1, sizeof input, file);
            fclose(file);
            current = i;
            LLVMFuzzerTestOneInput(input, inputSize);
        }
        return 0;
    }
    long count = argc > 1 ? strtol(argv[1], NULL, 10) : 2000;
    uint64_t state = seed;
    for (current = 0; current < count; current++) {
        inputSize = (size_t)(next(&state) % 600);
        for (size_t i = 0; i < inputSize; i++)
            input[i] = (uint8_t)next(&state);
        LLVMFuzzerTestOneInput(input, inputSize);
    }
    printf("%s: %ld inputs from seed 0x%016llx, no finding\n", argv[0], count, (unsigned long long)seed);
    return 0;
}
