// The tokens of status --json: a fixed set per field, so that a monitoring
// agent compares words, not sentences. Each is listed in the operator's
// guide; a change of a set is a change of STATUS_JSON_SCHEMA (status.h).
#include "console/status/status.h"

#include <string.h>

#include "console/service_view.h"

static const char UNKNOWN_TOKEN[] = "unknown";

// Token or text (column 0 or 1) of a value that indexes its table; a value
// beyond the table (a newer outcome than the table knows) is "unknown".
template <size_t count, size_t columns>
static const char *tableEntry(const char *const (&table)[count][columns], int value, int column)
{
    return value >= 0 && (size_t)value < count ? table[value][column] : UNKNOWN_TOKEN;
}

static const struct {
    DWORD state;
    const char *token;
} stateTokens[] = {
    {SERVICE_NOT_INSTALLED, "not_installed"},       {SERVICE_STOPPED, "stopped"},
    {SERVICE_START_PENDING, "start_pending"},       {SERVICE_STOP_PENDING, "stop_pending"},
    {SERVICE_RUNNING, "running"},                   {SERVICE_CONTINUE_PENDING, "continue_pending"},
    {SERVICE_PAUSE_PENDING, "pause_pending"},       {SERVICE_PAUSED, "paused"},
};

const char *serviceStateToken(DWORD state)
{
    for (const auto &entry : stateTokens)
        if (entry.state == state)
            return entry.token;
    return UNKNOWN_TOKEN;
}

// By StartOutcome.
static const char *const startTokens[][2] = {
    {"main_invoked", "main invoked"},
    {"main_threw", "main invoked, and it threw an exception"},
    {"start_failed", "main not invoked: the start stopped at a failure"},
    {"start_unfinished", "main not invoked (yet): the start is still under way or ended without a record"},
};

const char *startOutcomeToken(StartOutcome outcome)
{
    return tableEntry(startTokens, (int)outcome, 0);
}

const char *startOutcomeText(StartOutcome outcome)
{
    return tableEntry(startTokens, (int)outcome, 1);
}

// By StopOutcome; the texts are the ones status --json gave before its tokens.
static const char *const stopTokens[][2] = {
    {NULL, NULL},
    {"shutdown_returned", "shutdown returned"},
    {"shutdown_threw", "shutdown threw"},
    {"stop_failed", "failed"},
    {"no_shutdown_record", "no record of shutdown"},
};

const char *stopOutcomeToken(StopOutcome outcome)
{
    return tableEntry(stopTokens, (int)outcome, 0);
}

const char *stopOutcomeText(StopOutcome outcome)
{
    return tableEntry(stopTokens, (int)outcome, 1);
}

// By UncleanStop.
static const char *const uncleanTokens[][1] = {
    {NULL}, {"shutdown_not_returned"}, {"attach_failed"}, {"shutdown_threw"}, {"process_ended"},
};

const char *uncleanStopToken(UncleanStop kind)
{
    return tableEntry(uncleanTokens, (int)kind, 0);
}

// The states of java.lang.Thread.State, as the dump writes their names.
static const char *const threadStates[][2] = {
    {"NEW", "new"},         {"RUNNABLE", "runnable"},           {"BLOCKED", "blocked"},
    {"WAITING", "waiting"}, {"TIMED_WAITING", "timed_waiting"}, {"TERMINATED", "terminated"},
};

const char *threadStateToken(const char *javaName)
{
    for (const auto &entry : threadStates)
        if (javaName != NULL && strcmp(javaName, entry[0]) == 0)
            return entry[1];
    return UNKNOWN_TOKEN;
}

static const struct {
    LogFileState state;
    const char *token;
} refusalTokens[] = {
    {LOG_FILE_LINK, "link"},
    {LOG_FILE_SECOND_NAME, "second_name"},
    {LOG_FILE_UNKNOWN, "kind_unreadable"},
    {LOG_FILE_FOREIGN_OWNER, "foreign_owner"},
};

const char *logRefusalToken(LogFileState state)
{
    for (const auto &entry : refusalTokens)
        if (entry.state == state)
            return entry.token;
    return UNKNOWN_TOKEN;
}
