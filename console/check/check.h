// "check": the report's sections, each a routine over the snapshot
// (console/snapshot.h) plus what only Windows can tell it (registration,
// permissions, the log file).
#ifndef VELMORANE_CHECK_H
#define VELMORANE_CHECK_H

#include "console/snapshot.h"

void checkLayout(const Snapshot *snapshot);
void checkClassPath(const Snapshot *snapshot);
void checkRuntime(const Snapshot *snapshot);
void checkApplication(const Snapshot *snapshot);
void checkRegistration(const Snapshot *snapshot);
void checkPermissions(const Snapshot *snapshot);
void checkEnvironment(const Snapshot *snapshot);
void checkLog(const Snapshot *snapshot);
void checkJavaOutput(const Snapshot *snapshot);

#endif
