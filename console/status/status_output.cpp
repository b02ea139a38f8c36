// The status's line on the Java output: the file the service writes now.
// Rotation keeps that name (the older files get numbers), so it is the
// service's VLJAVAOUTPUT as the service gets it.
#include <stdio.h>
#include <stdlib.h>

#include "console/report.h"
#include "console/service_view.h"
#include "console/status/status.h"

void printJavaOutputStatus(void)
{
    ServiceEnvironment *environment = (ServiceEnvironment *)malloc(sizeof(ServiceEnvironment));
    if (environment == NULL)
        return;
    readServiceEnvironment(environment);
    const wchar_t *path = serviceVariable(environment, VARIABLE_JAVA_OUTPUT);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path != NULL && !GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        printf("Java output: %s can't be read (error %lu)\n", reportPath(path), GetLastError());
    else if (path != NULL)
        printf("Java output: %s, %llu bytes\n", reportPath(path),
               ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow);
    free(environment);
}
