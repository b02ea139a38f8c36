// Environment: the variables the service and its JVM read, as the service
// gets them.
#include "console/check/check.h"

#include "console/report.h"

void checkEnvironment(const Snapshot *snapshot)
{
    reportSection("Environment (as the service gets it)");
    const ServiceEnvironment *environment = &snapshot->environment;
    for (int index = 0; index < SERVICE_VARIABLE_COUNT; index++) {
        const char *name = reportPath(serviceVariableName((ServiceVariable)index));
        const wchar_t *value = environment->values[index];
        const char *origin = variableOriginText(environment->origins[index]);
        if (environment->origins[index] == ORIGIN_NONE) {
            reportFinding(FINDING_OK, "%s is not set", name);
        } else if (index == VARIABLE_JVM_LIBRARY && !isFullPath(value)) {
            reportFinding(FINDING_WARNING, "%s=%s (%s) is not an absolute path", name, reportPath(value), origin);
            reportRemedy("set it to the full path of jvm.dll, e.g. C:\\Apps\\jdk\\bin\\server\\jvm.dll");
        } else if (index == VARIABLE_STOP_ON_FAILURE) {
            if (stopOnFailureValue(value)) {
                reportFinding(FINDING_OK, "%s=1 (%s): a start that fails stops the service with an exit code of its own",
                              name, origin);
            } else {
                reportFinding(FINDING_WARNING, "%s=%s (%s): only 1 turns it on; the service stays running after a failed start",
                              name, reportPath(value), origin);
                reportRemedy("set it to 1, or remove it");
            }
        } else if (index == VARIABLE_JAVA_OUTPUT) {
            reportFinding(FINDING_OK, "%s=%s (%s): the application's console output goes to that file", name,
                          reportPath(value), origin);
        } else if (index == VARIABLE_JAVA_TOOL_OPTIONS && environment->origins[index] == ORIGIN_SERVICE_ENVIRONMENT) {
            // How the guide and the package pass options to this service alone.
            reportFinding(FINDING_OK, "%s=%s (%s): the JVM takes these options", name, reportPath(value), origin);
        } else if (index == VARIABLE_JAVA_TOOL_OPTIONS || index == VARIABLE_JAVA_OPTIONS) {
            reportFinding(FINDING_WARNING, "%s=%s (%s): the JVM takes these options too", name, reportPath(value), origin);
            reportRemedy("remove it unless the application needs these options");
        } else {
            reportFinding(FINDING_OK, "%s=%s (%s)", name, reportPath(value), origin);
        }
    }
}
