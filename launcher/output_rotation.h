// The Java output file rotated by size: "<file>" becomes "<file>.1", the
// older ones move up by one, the ones beyond the count are removed.
#ifndef VELMORANE_OUTPUT_ROTATION_H
#define VELMORANE_OUTPUT_ROTATION_H

#include <windows.h>

#define OUTPUT_KEEP_DEFAULT 5
#define OUTPUT_KEEP_MOST 99

// The size at which the file is rotated (0: never) and how many older files
// are kept; set from VLJAVAOUTPUTSIZE and VLJAVAOUTPUTKEEP before the output
// is redirected.
struct OutputRotation {
    ULONGLONG size;
    int keep;
};

// Digits with an optional K, M or G (either case), above 0 and below 2^63.
bool parseOutputSize(const wchar_t *text, ULONGLONG *size);
// Digits, 0 to OUTPUT_KEEP_MOST.
bool parseOutputKeep(const wchar_t *text, int *keep);
// The most the rotated files can take in all: size × (keep + 1) bytes, or
// the largest ULONGLONG when that is more.
ULONGLONG rotatedFilesMost(const OutputRotation *rotation);
// Reads both variables' values (NULL: not set) into rotation, with a record
// for a value that is not one.
void setOutputRotation(const wchar_t *sizeText, const wchar_t *keepText, OutputRotation *rotation);

// Removes "<path>.<keep>" (with `sweep`, every "<path>.<n>" from
// OUTPUT_KEEP_MOST down to keep: the ones past keep were left by a larger
// count, so one sweep a process is enough), moves "<path>.<n>" to
// "<path>.<n+1>" down from keep-1, then moves "<path>" to "<path>.1" (keep 0:
// removes it).
// Each file is opened with the output file's refusals and renamed through its
// handle, never onto an existing name. False when a step failed: the record
// says which (a refusal's, or RECORD_OUTPUT_NOT_ROTATED when `quiet` is
// false), and "<path>" is where it was.
bool rotateOutputFiles(const wchar_t *path, int keep, bool quiet, bool sweep);

#endif
