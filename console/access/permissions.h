// The permission section's state, shared by the routine that judges and the
// one that lists what the service runs, and how both see files and the key.
#ifndef VELMORANE_PERMISSIONS_H
#define VELMORANE_PERMISSIONS_H

#include <windows.h>
#include <aclapi.h>

#include "console/snapshot.h"

// The folders the stages look in (four of their own, each candidate's
// nearest existing folder, the folders VLCLASSPATH and VLJAVAOUTPUT name, and
// the folders of what the service runs).
#define FOLDER_LIMIT 64
// The most of an options file (-XX:VMOptionsFile=, -XX:Flags=) that is read.
#define OPTIONS_FILE_CAPACITY 65536

// What a descriptor is judged for: a folder or a file of what the service
// runs; the folder above the installation root; the service's registry key;
// the machine-wide environment's key; the service itself, whose
// configuration names the program it runs.
enum JudgedObject { JUDGE_PLACE, JUDGE_ROOT_PARENT, JUDGE_KEY, JUDGE_ENVIRONMENT_KEY, JUDGE_SERVICE };

struct FolderList;
// How the section reads the file system and the registry: Windows' own
// calls (windowsPermissionSource), or a made-up tree in the tests. The
// listing calls `visit` for each entry of the folder but "." and "..". The
// contents are a file's first bytes, at most `capacity`, their count in
// *length: ERROR_MORE_DATA when the file holds more, or why it can't be read.
typedef void (*EntryVisitor)(FolderList *list, const wchar_t *name, DWORD attributes);
struct PermissionSource {
    DWORD (*attributes)(const wchar_t *path);
    DWORD (*descriptor)(const wchar_t *path, SE_OBJECT_TYPE type, PSECURITY_DESCRIPTOR *descriptor);
    void (*listing)(const wchar_t *folder, EntryVisitor visit, FolderList *list);
    DWORD (*contents)(const wchar_t *path, char *buffer, DWORD capacity, DWORD *length);
};
// GetFileAttributesW, GetNamedSecurityInfoW for the owner and the access
// list, FindFirstFileW, ReadFile.
const PermissionSource *windowsPermissionSource(void);

// The folders judged so far, each once, quiet judgements counted, and room
// for paths; on the heap. Every judgement reads through `source`.
struct FolderList {
    const PermissionSource *source;
    PSID serviceAccount; // whose own grants are no one else's; NULL: LocalSystem, trusted anyway
    bool ownersKept;
    int count;
    int judged, sound; // quiet judgements: how many, how many found well
    int budget;        // entries a walk of a tree may still look at
    int depth;         // folders a walk may still go down
    const wchar_t *loadedFiles[2]; // the runtime library and jvm.dll judged already; or NULL
    wchar_t folders[FOLDER_LIMIT][PATH_CAPACITY];
    wchar_t path[PATH_CAPACITY];
    wchar_t quoted[PATH_CAPACITY];
    wchar_t walk[PATH_CAPACITY];
    wchar_t option[PATH_CAPACITY];
    bool inOptionsFile; // judging what an options file adds: one level deep
    wchar_t optionsFile[PATH_CAPACITY];
    char fileBytes[OPTIONS_FILE_CAPACITY];
    wchar_t fileText[OPTIONS_FILE_CAPACITY + 1];
};

// An empty list on the heap that reads through `source`, owners judged or
// not, the grants of the service's account (NULL: none found) passed over;
// NULL when out of memory. The caller frees it.
FolderList *newFolderList(const PermissionSource *source, bool ownersKept, PSID serviceAccount);
// Adds a folder that exists and is not listed yet; true when it did.
bool addFolder(FolderList *list, const wchar_t *folder);
// The nearest existing folder above a path, when it is not listed yet: true
// when it added it (as the last folder).
bool addNearestParent(FolderList *list, const wchar_t *path);
// Whether the path is one of the folders or loaded files judged already.
bool judgedAlready(const FolderList *list, const wchar_t *path);
// Calls visit with each entry of a class path (";" between entries) that
// fits path (PATH_CAPACITY), copied there, and what is at it
// (INVALID_FILE_ATTRIBUTES: nothing).
void forEachClassPathEntry(FolderList *list, const wchar_t *classPath, wchar_t *path, EntryVisitor visit);
// Reports who else may change the object; `quiet` leaves out the line for
// one that is well and counts it in list->judged and list->sound. A link is
// named, not followed. Returns false when someone else may change it.
bool judgeObject(FolderList *list, const wchar_t *path, JudgedObject what, bool quiet);

// The path as icacls takes it, quoted in list->quoted; it lasts as reportPath's do.
const char *icaclsPath(FolderList *list, const wchar_t *path);

// The service's account from its registration, named in the section: its
// SID, kept until the next call, for the judgement of who else may write to
// pass over; NULL, with a warning, when this machine can't find it.
PSID knowServiceAccount(const ServiceManager *manager);
// Whether that account may read the installation's folders and jars, load
// the runtime library and jvm.dll, write or create the log and the Java
// output file.
void judgeAccountAccess(const Snapshot *snapshot, const PermissionSource *source);

// The section after its title, with owners judged or not, the grants of
// the service's account (NULL: none found) passed over.
void judgePermissions(const Snapshot *snapshot, const PermissionSource *source, bool ownersKept, PSID serviceAccount);
// What the service runs and trusts beyond the folders the stages look in:
// its executable, the runtime, VLCLASSPATH's jars and what its folders
// hold, what its options load or run, the folder above the installation
// root, its registry key.
void judgeWhatItRuns(FolderList *list, const Snapshot *snapshot);
// A jar or other file the service loads, quietly; a folder of classes or an
// unpacked jar with all it holds, to a bound (a warning past it).
void judgeLoadedEntry(FolderList *list, const wchar_t *path, DWORD attributes);

#endif
