// The executable as its own installer.
#ifndef VELMORANE_INSTALL_H
#define VELMORANE_INSTALL_H

#include "service/module_path.h"

// A quote, the longest path the module path buffer returns, a quote, the terminator.
#define QUOTED_PATH_CAPACITY (MODULE_PATH_CAPACITY + 2)

// The command line the service is registered with: the module path between
// double quotes, into quotedPath (QUOTED_PATH_CAPACITY).
void quoteModulePath(const wchar_t *modulePath, wchar_t *quotedPath);

void installService(void);
void uninstallService(void);

#endif
