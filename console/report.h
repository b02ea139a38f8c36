// The check's report: one line per finding, marked ok, warning or problem,
// the remedy on the line after a warning or problem.
#ifndef VELMORANE_REPORT_H
#define VELMORANE_REPORT_H

#include <windows.h>

enum FindingMark { FINDING_OK, FINDING_WARNING, FINDING_PROBLEM };

void reportSection(const char *title);
void reportFinding(FindingMark mark, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
// A finding that is one of the service's records, as the service would write
// it (a RECORD_ format and its arguments), without its line feed.
void reportRecord(FindingMark mark, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
void reportRemedy(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
// A wide path as the report prints it (the ANSI code page); it lasts until the
// next section begins, so a finding can name any number of paths.
const char *reportPath(const wchar_t *path);
// The words after a count, so that a count of one reads right: `one` for
// 1, `many` for any other count.
const char *countWords(long long count, const char *one, const char *many);
// How many findings of that mark have been made so far.
int reportCount(FindingMark mark);
// EXIT_ALL_WELL, EXIT_WARNINGS or EXIT_PROBLEMS after the findings so far.
int reportExitCode(void);

#endif
