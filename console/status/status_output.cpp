// The status's line on the Java output: the file the service writes now.
// Rotation keeps that name (the older files get numbers), so it is the
// service's VLJAVAOUTPUT as the service gets it.
#include <stdio.h>
#include <stdlib.h>

#include "console/service_view.h"
#include "console/status/status.h"

void readJavaOutputFacts(StatusFacts *facts)
{
    facts->javaOutput[0] = '\0';
    facts->javaOutputSize = 0;
    facts->javaOutputError = 0;
    ServiceEnvironment *environment = (ServiceEnvironment *)malloc(sizeof(ServiceEnvironment));
    if (environment == NULL)
        return;
    readServiceEnvironment(environment);
    const wchar_t *path = serviceVariable(environment, VARIABLE_JAVA_OUTPUT);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path != NULL) {
        ansiCopyN(path, facts->javaOutput, sizeof facts->javaOutput);
        if (GetFileAttributesExW(path, GetFileExInfoStandard, &data))
            facts->javaOutputSize = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        else
            facts->javaOutputError = GetLastError();
    }
    free(environment);
}

void printJavaOutputStatus(const StatusFacts *facts)
{
    if (facts->javaOutput[0] == '\0')
        return;
    if (facts->javaOutputError != 0)
        printf("Java output: %s can't be read (error %lu)\n", facts->javaOutput, facts->javaOutputError);
    else
        printf("Java output: %s, %llu bytes\n", facts->javaOutput, facts->javaOutputSize);
}
