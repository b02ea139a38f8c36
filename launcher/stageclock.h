// The stage clock of the benchmark build. Built with VELMORANE_STAGE_CLOCK,
// the service notes the performance counter at each step of its start and the
// time spent inside the log call, and writes them out just before it calls
// main (bench/stageclock.cpp). The release build compiles every mark away.
#ifndef VELMORANE_STAGECLOCK_H
#define VELMORANE_STAGECLOCK_H

#ifdef VELMORANE_STAGE_CLOCK
// Notes the counter under `name`, with the log's time and records so far.
void stageMark(const char *name);
// Brackets one log record.
void stageLogEnter(void);
void stageLogLeave(void);
// Writes the marks to the log's path with ".stages" appended.
void stageWrite(void);
#define STAGE_MARK(name) stageMark(name)
#define STAGE_LOG_ENTER() stageLogEnter()
#define STAGE_LOG_LEAVE() stageLogLeave()
#define STAGE_WRITE() stageWrite()
#else
#define STAGE_MARK(name) ((void)0)
#define STAGE_LOG_ENTER() ((void)0)
#define STAGE_LOG_LEAVE() ((void)0)
#define STAGE_WRITE() ((void)0)
#endif

#endif
