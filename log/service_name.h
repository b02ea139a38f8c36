// The service's name, as the Service Control Manager, the event log, the
// Java threads and the file system know it. Narrow texts, so that the
// resource scripts and the records can quote them; L"" before one makes it
// wide. Only definitions: the resource compiler includes this too. Here at
// the bottom of the layout, so that every folder may include it.
#ifndef VELMORANE_SERVICE_NAME_H
#define VELMORANE_SERVICE_NAME_H

#define VELMORANE_SERVICE_NAME "VelmoraneService"
// The executable's file name, which the paths are cut by (launcher/paths.h).
#define EXECUTABLE_NAME VELMORANE_SERVICE_NAME ".exe"

#endif
