// "status": the facts read once, then printed in the form asked for.
#include "console/status/status.h"

#include <stdlib.h>

#include "console/console.h"

int statusCommand(const Installation *installation, bool json)
{
    StatusFacts facts;
    readStatusFacts(&installation->manager, &facts);
    if (json)
        printStatusJson(&facts);
    else {
        printStatusText(&facts);
        printJavaOutputStatus(&facts);
    }
    free(facts.logText);
    return facts.exitCode;
}
