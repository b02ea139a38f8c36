// The record with which a failed start's stage ended it, for the launcher's
// own use and the event log's, which is told the failure by the launcher.
#include "launcher/launcher.h"

#include <stdio.h>

#include "launcher/java_contract.h"
#include "launcher/records.h"

const char *failureRecordOf(LaunchFailure failure, const LaunchResults *results, char *text, size_t capacity)
{
    static const char *const records[LAUNCH_FAILURE_LAST + 1] = {
        NULL, NULL, RECORD_NO_CREATE_EXPORT, RECORD_CREATE_FAILED, RECORD_NO_CLASS, RECORD_NO_MAIN, RECORD_MAIN_THREW,
        RECORD_NO_OPTIONS,
    };
    if (failure > LAUNCH_FAILURE_LAST)
        failure = LAUNCH_NOT_FAILED;
    const char *record = records[failure];
    text[0] = '\0';
    if (failure == FAILURE_JVM_NOT_CREATED)
        snprintf(text, capacity, record, (int)results->jvm.createResult);
    else if (record != NULL)
        snprintf(text, capacity, record, MAIN_CLASS_NAME);
    return record;
}
