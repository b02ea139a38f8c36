r"""The service log's texts as the Python suites expect them: every record the service
writes, grouped by the thread that writes it, the sequences the suites compare against, and
the split of one run's records per thread.

Written from the system's own texts, never taken from the product's code, so that a misspelt
message in the product fails the tests. The system's own misspellings ("direcotry",
"mscvr100.dll", "vcruntime.dll", "jvm dll") stand here as the system writes them.

A record's text is its printf format without the closing "\n"; fill it with `%`
(NAME_SIZE % 38). To add a record: one entry under the thread that writes it (_launcher,
_shutdown, _pump, or _both with the launcher record it follows), and, when it belongs in one of
the sequences below, its place there. The reliability suite's known messages are these
entries.
"""

import re

MAIN_CLASS = "com/orvenda/calistren/test/lt/nextgen/Velmorane"

LAUNCHER_TEXTS = []
SHUTDOWN_TEXTS = []
# The rotated Java output's writer: a thread of its own, and the stop or System.exit.
PUMP_TEXTS = []
DUMP_TEXTS = []
# Texts both threads write: {text: the launcher records it follows in the launcher's run}.
SHARED_AFTER = {}


def _launcher(text):
    LAUNCHER_TEXTS.append(text)
    return text


def _shutdown(text):
    SHUTDOWN_TEXTS.append(text)
    return text


def _pump(text):
    PUMP_TEXTS.append(text)
    return text


def _dump(text):
    DUMP_TEXTS.append(text)
    return _shutdown(text)


def _both(text, after):
    SHARED_AFTER[text] = set(after)
    return _launcher(_shutdown(text))


# ---------------------------------------------------------------- launcher thread

# Installation paths
BANNER = _launcher("***** Velmorane Windows service starting *****")
EXE_HEADING = _launcher("Executable file name:")
# (then the executable path as a bare "%s" record)
NAME_SIZE = _launcher("Name size:  %d")
BASE_PATH = _launcher("Base path '%s'")
KTR_PATH = _launcher("KTR path '%s'")
TP_LINE = _launcher("Includes support for quoted service path (TP-85987)")
VLJVMDLL_LINE = _launcher("Will load jvm based on VLJVMDLL environment variable")
VLJVMDLL_TOO_LONG = _launcher("VLJVMDLL environment variable is longer than %d characters and is ignored")
VLJVMDLL_RELATIVE = _launcher("VLJVMDLL environment variable is not a full path, no jvm.dll is loaded from it")

# Class path
LOOKING = _launcher("Looking for needed jar files in the lib directory")
LIB_FOUND = _launcher("The lib directory was found")
FILE = _launcher("File:  %s")
EXT = _launcher("Ext:  '%s'")
LIB_MISSING = _launcher("The lib directory was not found, trying plugins")
NOW_SEARCHING = _launcher("Now searching %s")
SUB_FILE = _launcher("Sub file:  %s")
JAR_FILE = _launcher("*** Jar file:  %s")
NEITHER = _launcher("Unable to find lib or plugins direcotry so the classpath may be invalid.")
VLCLASSPATH_UNCONVERTED = _launcher("Can't convert the VLCLASSPATH environment variable, it is ignored")
OPTIONS_HEAD = _launcher("JVM options:")
DIGEST_OPTION = _launcher("-Djdk.nativeDigest=false")
# (then the class path option as a bare "%s" record; its own line feed leaves an empty line)
CLASS_PATH_OPTION = "-Djava.class.path="

# The Java output file ("VLJAVAOUTPUT"), between the options and the probing
JAVA_OUTPUT_TOO_LONG = _launcher("VLJAVAOUTPUT environment variable is longer than %d characters and is ignored")
JAVA_OUTPUT_OPEN = _launcher("Java output goes to %s")
JAVA_OUTPUT_FAILED = _launcher("Can't open %s for the Java output, error %d")
JAVA_OUTPUT_REFUSED = _launcher("Can't open %s for the Java output, refused: %s")
JAVA_OUTPUT_SIZE_INVALID = _launcher(
    "VLJAVAOUTPUTSIZE environment variable is not a size, the Java output is not rotated")
JAVA_OUTPUT_KEEP_INVALID = _launcher(
    "VLJAVAOUTPUTKEEP environment variable is not a number from 0 to %d, %d older files are kept")
JAVA_OUTPUT_NOT_ROTATED = _pump("Can't rotate %s, error %d; the Java output goes on into it")
JAVA_OUTPUT_NOT_WRITTEN = _pump("%d bytes of the Java output could not be written to %s, error %d")
# System.exit or Runtime.halt, from the virtual machine's exit hook (a thread of the VM's)
JVM_EXIT = _pump("The JVM is ending the process (System.exit or Runtime.halt) with exit code %d")
# A failed start that stops the service (VLSTOPONFAILURE=1), after the failure's records
STOP_ON_FAILURE = _launcher("The start failed and VLSTOPONFAILURE is set: the service stops with exit code %d")

# Library probing
TRY_MSVCR120 = _launcher("Trying to load msvcr120.dll at %s")
LOADED_MSVCR120 = _launcher("Success loading msvcr120.dll at %s")
FAILED_MSVCR120 = _launcher("Failed to load msvcr120.dll at %s")
TRY_MSVCR100 = _launcher("Trying to load msvcr100.dll at %s")
TRY_MSVCR100_ORACLE = _launcher("Trying to load msvcr100.dll at Oracle location %s")
LOADED_MSVCR100 = _launcher("Success loading msvcr100.dll at %s")
FAILED_MSVCR100 = _launcher("Failed to load msvcr100.dll at %s")
FAILED_MSCVR100 = _launcher("Failed to load mscvr100.dll at %s")
TRY_VCRUNTIME = _launcher("Trying to load vcruntime140.dll at %s")
LOADED_VCRUNTIME = _launcher("Success loading vcruntime140.dll at %s")
FAILED_VCRUNTIME140 = _launcher("Failed to load vcruntime140.dll at %s")
FAILED_VCRUNTIME = _launcher("Failed to load vcruntime.dll at %s")
TRY_JVM_FIRST = _launcher("Trying to load jvm dll at %s")
TRY_JVM = _launcher("Trying to load jvm.dll at %s")
TRY_JVM_ORACLE = _launcher("Trying to load jvm.dll at Oracle location %s")
TRY_JVM_OPENJ9 = _launcher("Trying to load jvm.dll at OpenJ9 location %s")
TRY_JVM_OPENJ9_17 = _launcher("Trying to load jvm.dll at OpenJ9 VM 17 location %s")
LOADED_JVM = _launcher("Success loading jvm.dll at %s")
FAILED_JVM = _launcher("Failed to load jvm.dll at %s")

# The virtual machine and main
NO_OPTIONS = _launcher("Can't allocate the JVM options")
GET_CREATE = _launcher("GetProcAddress for JNI_CreateJavaVM")
NO_EXPORT = _launcher("Can't find JNI_CreateJavaVM in jvm.dll")
CALLING_CREATE = _launcher("Calling createJVM")
CREATE_RETURNED = _launcher("Completed call to createJVM")
CREATE_FAILED = _launcher("Can't create Java VM.  Return code %d")
CREATED_JVM = _launcher("Successfully created JVM")
FOUND_CLASS = _launcher("Found class %s")
NO_MAIN = _launcher("Can't find main()")
FOUND_MAIN = _launcher("Found static method main()")
INVOKING_MAIN = _launcher("Invoking main()")
MAIN_THREW = _launcher("Call to main() resulted in exception")

# ---------------------------------------------------------------- shutdown thread

NO_VM = _shutdown("No Java VM was created, shutdown() not called")
NO_CLASS_AT_STOP = _shutdown("The main class was not found, shutdown() not called")
ATTACH_FAILED = _shutdown("AttachCurrentThread failed")
NO_CLASS = _both("Can't find class %s", after=[CREATED_JVM])
NO_SHUTDOWN = _shutdown("No shutdown() method found for %s")
SHUTDOWN_THREW = _shutdown("Call to shutdown() resulted in exception")
SHUTDOWN_CALLED = _shutdown("Shutdown method called on class %s")
DETACHED = _shutdown("Detached thread")

# The Java threads' dump when shutdown() has not returned 15 s after the stop: a thread of its
# own, and the stop's record of a dump not taken or cut off; among the shutdown thread's records.
DUMP_BEGIN = _dump("shutdown() has not returned after %d s, Java threads: %d")
DUMP_SHUTDOWN_THREAD = _dump('Shutdown thread "%s" %s')
DUMP_THREAD = _dump('Java thread "%s" %s')
DUMP_FRAME = _dump("    at %s")
DUMP_FRAMES_LEFT_OUT = _dump("    frames left out: %d")
DUMP_THREADS_LEFT_OUT = _dump("Java threads left out: %d")
DUMP_NOT_TAKEN = _dump("The Java threads could not be dumped")
DUMP_CUT = _dump("The dump of the Java threads was cut off")

# What the Java side threw, after the record of the failed lookup or call (either thread).
JAVA_EXCEPTION = _both("Java exception: %s", after=[NO_CLASS, NO_MAIN, MAIN_THREW])

# ---------------------------------------------------------------- sequences

CREATE = [GET_CREATE, CALLING_CREATE, CREATE_RETURNED]
CREATED = CREATE + [CREATED_JVM, FOUND_CLASS % MAIN_CLASS]
STARTED = CREATED + [FOUND_MAIN, INVOKING_MAIN]
# What the launcher writes once main has returned. A main that blocks until shutdown() may
# return while the process ends: its records are then cut off anywhere (see up_to_main).
MAIN_RETURNED = []
SHUTDOWN_DONE = [SHUTDOWN_CALLED % MAIN_CLASS, DETACHED]


def first_stage(exe, base, ktr):
    return [BANNER, EXE_HEADING, exe, NAME_SIZE % len(exe), BASE_PATH % base, KTR_PATH % ktr, TP_LINE]


def lib_lines(names, base):
    """(records, class path) of lib\\ entries returned in the order `names`: a file line
    each, an extension line for names of more than 4 characters, and the jar files (by the
    case-sensitive ".jar" test) on the class path."""
    lines, class_path = [], ""
    for name in names:
        lines.append(FILE % name)
        if len(name) > 4:
            lines.append(EXT % name[-4:])
            if name.endswith(".jar"):
                class_path += f"{base}lib\\{name};"
    return lines, class_path


def option_lines(class_path, continuation=True):
    """The option records; the class path option's own line feed leaves an empty line
    (`continuation`), which the per-run lists leave out."""
    return [OPTIONS_HEAD, DIGEST_OPTION, CLASS_PATH_OPTION + class_path] + ([""] if continuation else [])


# Runtime library candidates: (relative path, hangs off the KTR path (else the base path),
# trying, success or None, failure).
RUNTIME = [
    ("jdk\\jre\\bin\\msvcr120.dll", True, TRY_MSVCR120, LOADED_MSVCR120, FAILED_MSVCR120),
    ("jdk\\jre\\bin\\default\\msvcr100.dll", True, TRY_MSVCR100, None, FAILED_MSVCR100),
    ("jdk\\jre\\bin\\default\\msvcr100.dll", False, TRY_MSVCR100, LOADED_MSVCR100, FAILED_MSCVR100),
    ("jdk\\jre\\bin\\msvcr100.dll", True, TRY_MSVCR100_ORACLE, LOADED_MSVCR100, FAILED_MSCVR100),
    ("jdk\\jre\\bin\\vcruntime140.dll", True, TRY_VCRUNTIME, LOADED_VCRUNTIME, FAILED_VCRUNTIME140),
    ("jdk\\bin\\vcruntime140.dll", True, TRY_VCRUNTIME, LOADED_VCRUNTIME, FAILED_VCRUNTIME),
]
# Virtual machine library candidates: (relative path, hangs off the KTR path, trying).
JVM = [
    ("jdk\\jre\\bin\\default\\jvm.dll", True, TRY_JVM_FIRST),
    ("jdk\\jre\\bin\\default\\jvm.dll", False, TRY_JVM),
    ("jdk\\jre\\bin\\server\\jvm.dll", True, TRY_JVM_ORACLE),
    ("jdk\\jre\\bin\\j9vm\\jvm.dll", True, TRY_JVM_OPENJ9),
    ("jdk\\bin\\j9vm\\jvm.dll", True, TRY_JVM_OPENJ9_17),
]


def runtime_lines(base, ktr, found=None):
    """The runtime probe's records when candidate `found` (1-based) is the first that
    loads; None: none loads."""
    lines = []
    for number, (rel, off_ktr, trying, success, failure) in enumerate(RUNTIME, 1):
        path = (ktr if off_ktr else base) + rel
        lines.append(trying % path)
        if number == found:
            return lines + ([success % path] if success else [])
        lines.append(failure % path)
    return lines


def jvm_lines(base, ktr, found=None, first=None):
    """The virtual machine probe's records when candidate `found` loads (None: none);
    `first` replaces the path of candidate 1 (the "VLJVMDLL" value)."""
    lines = []
    for number, (rel, off_ktr, trying) in enumerate(JVM, 1):
        path = first if number == 1 and first is not None else (ktr if off_ktr else base) + rel
        lines.append(trying % path)
        if number == found:
            return lines + [LOADED_JVM % path]
        lines.append(FAILED_JVM % path)
    return lines


def launcher_run(exe, base, ktr, lib_names, jvm_found=None):
    """The launcher's records of one run, without the option's empty line, for an
    installation with `lib_names` in lib\\ (in the order the log shows them), no runtime
    library, and jvm.dll loading at candidate `jvm_found` (then on up to main's invocation)
    or, with None, at none."""
    entries, class_path = lib_lines(lib_names, base)
    lines = (first_stage(exe, base, ktr) + [LOOKING, LIB_FOUND] + entries + option_lines(class_path, False)
             + runtime_lines(base, ktr) + jvm_lines(base, ktr, jvm_found))
    return lines + STARTED if jvm_found else lines


def file_names(lines):
    return [line[len(FILE) - 2:] for line in lines if line.startswith(FILE[:-2])]


def up_to_main(launcher):
    """The launcher's records without those written after main returned, provided they
    are MAIN_RETURNED cut off anywhere; anything else stays, for the comparison to show."""
    if INVOKING_MAIN not in launcher:
        return launcher
    at = launcher.index(INVOKING_MAIN) + 1
    tail = launcher[at:]
    return launcher[:at] if tail == MAIN_RETURNED[:len(tail)] else launcher


# ---------------------------------------------------------------- reading a run

def _pattern(message):
    parts = re.split(r"(%s|%d)", message)
    body = "".join(".+" if p == "%s" else r"-?\d+" if p == "%d" else re.escape(p) for p in parts)
    return re.compile(body + r"\Z")


_LAUNCHER_PATTERNS = [_pattern(t) for t in LAUNCHER_TEXTS]
_SHUTDOWN_PATTERNS = [_pattern(t) for t in SHUTDOWN_TEXTS]
_PUMP_PATTERNS = [_pattern(t) for t in PUMP_TEXTS]
_SHARED = [(_pattern(t), [_pattern(a) for a in after]) for t, after in SHARED_AFTER.items()]


def known_message(text):
    """Whether `text` is the text of a record the service writes (the bare records, the
    executable path and the class path option, are checked apart)."""
    return any(p.match(text) for p in _LAUNCHER_PATTERNS + _SHUTDOWN_PATTERNS + _PUMP_PATTERNS)


def _written_by_launcher_after(text):
    for pattern, after in _SHARED:
        if pattern.match(text):
            return after
    return None


def threads(texts):
    """The thread of each of one run's record texts, "launcher" or "shutdown". A text
    both threads write is the launcher's where the launcher's records so far end in the
    record it follows there; every text of no thread (the bare records, unknown ones) is
    the launcher's, for its comparison to show."""
    result, last = [], None
    for text in texts:
        after = _written_by_launcher_after(text)
        if after is not None:
            mine = last is not None and any(p.match(last) for p in after)
        else:
            mine = not any(p.match(text) for p in _SHUTDOWN_PATTERNS)
        result.append("launcher" if mine else "shutdown")
        last = text if mine else last
    return result


def split(texts):
    """(launcher's records, shutdown thread's records) of one run's record texts."""
    labels = threads(texts)
    return ([t for t, who in zip(texts, labels) if who == "launcher"],
            [t for t, who in zip(texts, labels) if who == "shutdown"])


_DUMP_PATTERNS = [_pattern(t) for t in DUMP_TEXTS]


def split_dump(stop_records):
    """(the shutdown thread's records, the thread dump's) of a run's stop records; a Java
    exception after the dump's record of a dump not taken or cut off is the dump's."""
    theirs, dump = [], []
    for text in stop_records:
        if any(p.match(text) for p in _DUMP_PATTERNS) or (
                dump and dump[-1] in (DUMP_NOT_TAKEN, DUMP_CUT) and _pattern(JAVA_EXCEPTION).match(text)):
            dump.append(text)
        else:
            theirs.append(text)
    return theirs, dump


def stop_after_main(texts):
    """Whether every record of the shutdown thread comes after the launcher's records up to
    main's invocation (or its end, where it ended before): those it writes once main has
    returned may stand among the shutdown thread's."""
    labels = threads(texts)
    launcher = [t for t, who in zip(texts, labels) if who == "launcher"]
    seen = 0
    for who in labels:
        if who == "launcher":
            seen += 1
        elif seen < len(up_to_main(launcher)):
            return False
    return True
