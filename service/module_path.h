// The executable's own path, as install reads it and registers it for the
// service and its event source.
#ifndef VELMORANE_MODULE_PATH_H
#define VELMORANE_MODULE_PATH_H

#define MODULE_PATH_CAPACITY 0x8000

#endif
