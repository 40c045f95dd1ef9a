// Buffer files: the one place that names them, opens, reads, marks, retires
// and appends to them. The service, tormelctl and the tests meet the files
// only through here, so that producers and the service keep one protocol:
//
// - A producer appends whole lines under an exclusive lock on the file and
//   appends only to the file that its name still names.
// - The service marks delivered records in place and removes a file only
//   under that lock, only while its name still names the file it read, only
//   when nothing lies past where its reading stopped, and only once no other
//   process holds it open. To find out the last, it first gives the file a
//   private name (a producer opening the name afterwards starts a new file),
//   then asks the system; a file still held open stays under its private
//   name as a "retired" file of its number, is delivered before the number's
//   newer file, and goes once nobody holds it.
// - A last line without line end is sent only once nobody holds the file
//   open for writing (where the system can tell) and the file has not grown
//   for BUF_QUIET_MS: its producer may still be writing it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bufstream.h"
#include "os_file.h"
#include "os_watch.h"

// How long a file must not have grown before a last line without line end
// counts as complete.
constexpr uint64_t BUF_QUIET_MS = 2000;

// --- Names

// Turns BUFFDATEI into the base of the numbered names, in place: the letters
// a-z of its file-name part upper-cased and the text cut at the first ".BUF"
// there. A folder in it is used as written, except where the file system
// ignores case: there the whole text is upper-cased and cut.
void BufBaseName(char* bufferFile);
// The name of buffer file n: the base, n in decimal, ".BUF".
std::string BufFileName(const char* base, unsigned n);

// One buffer file in the folder: under its own name (seq 0), or retired.
struct BufEntry {
  unsigned n = 0;
  uint64_t seq = 0;  // order of retirement; 0 for the file under its own name
  std::string path;
};
// The buffer files of base that lie in its folder, in delivery order: by
// number, and of one number the retired ones first, oldest first.
std::vector<BufEntry> BufListFolder(const char* base);

// --- The service's side

// What the forwarding loop knows about its buffer folder between passes.
struct BufRetired {
  BufEntry entry;
  uint64_t doneSize = 0;  // delivered up to this size when last found held; 0 unknown
};
// A file under its own name whose records were all delivered up to size,
// but which could not be removed yet (its producer holds the lock, or holds
// it open where that forbids a rename).
struct BufDelivered {
  OsFileId id;
  uint64_t size = 0;
};
struct BufQuiet {
  OsFileId id;
  uint64_t size = 0;
  uint64_t sinceMs = 0;  // when the file was first seen at this size
};
// What the loop left a file as when it was done with it, so that a change
// it made itself does not wake it.
struct BufLastLook {
  std::string path;
  bool exists = false;
  uint64_t size = 0;
};
struct BufFolder {
  std::string base;
  std::vector<BufRetired> retired;  // in order of retirement
  std::vector<BufQuiet> quiet;
  std::vector<BufDelivered> delivered;
  std::vector<OsFileId> straysReported;
  std::vector<OsFileId> marksFailed;  // files whose marks could not be written or synced
  // Where a folder's entries are made durable by one call, a delivered file
  // goes without a sync of its marks, and the removals are made durable
  // together (BufFolderCommit); elsewhere its marks are synced before it goes.
  bool commitTogether = false;
  bool removalsUnsynced = false;
  uint64_t nextSeq = 1;
  // Waiting for producers.
  OsWatch watch;
  bool watching = false;
  OsFileId watchedId;  // the folder watched; another one in its place is not
  std::unordered_map<std::string, BufLastLook> lastLooks;  // by path
  std::deque<std::string> lastLooksOrder;                  // oldest first, to forget the oldest
  // Paths of the files the loop holds open: what changes there is its own
  // doing, or is seen when it lets the file go.
  std::vector<std::string> inHand;
  // Paths a producer changed since the loop last asked (BufTakeTouched).
  std::unordered_set<std::string> touched;
};

// Takes up the folder of base: the files a run before this one retired.
void BufFolderStart(BufFolder* folder, const char* base);
// Makes the removals since the last commit durable in one call. 0, or the
// system's error: then from now on each file's marks are synced before it
// goes.
int BufFolderCommit(BufFolder* folder);
void BufFolderStop(BufFolder* folder);
// The files to serve for number n, in order: retired ones, then the file
// under its own name.
std::vector<BufEntry> BufFilesOf(const BufFolder* folder, unsigned n);

// The file in hand.
struct BufFile {
  BufStream stream;
  OsFileId id;  // which file it is, whatever it is called meanwhile
  uint64_t bornMs = 0;  // when it was made, where the system records it
  BufEntry entry;
  std::string openedAs;             // its path when it was opened
  uint64_t handledUpTo = UINT64_MAX;  // where the loop's handling ended, once it retires the file
  bool marksUnsynced = false;         // marks written since the last sync
  bool removed = false;               // retired and removed: nothing of it is left at a name
};

// Opens a buffer file for reading and marking; 0 or the system's error when
// it is absent, no regular file (a symbolic link included), read-only or
// not openable.
int BufFileOpen(BufFolder* folder, BufFile* f, const BufEntry& entry);
// Closes the file and notes what it was left as. True when a producer has
// added to it past where the loop's handling ended (BufRetire): news the
// watch no longer tells, since the changes came while the loop held it.
bool BufFileClose(BufFolder* folder, BufFile* f);
// True for a file that has not changed since everything in it was
// delivered and it could not be removed (a retired file found held open,
// or one that could not be retired): nothing in it to send up to *size,
// where it ends as it was found. A producer may append at any moment: the
// file may be retired only up to *size.
bool BufDeliveredAndUnchanged(const BufFolder* folder, const BufFile* f, uint64_t* size);
// Whether the last line, which has no line end and was read up to lineEnd,
// may be sent now: nobody holds the file open for writing, it has not grown
// for BUF_QUIET_MS, and it still ends at lineEnd once that is known.
bool BufTailReady(BufFolder* folder, BufFile* f, uint64_t lineEnd);
// Whether the line just read (length characters) may be sent as it stands:
// it has its line end, or more follows it (a piece of a long line), or a
// CTRL-Z ends the text there, or it is the last line and its tail is ready.
bool BufLineReady(BufFolder* folder, BufFile* f, const char* line, int length);

// The pending records of the file in hand, one after another.
struct BufCursor {
  BufFolder* folder = nullptr;
  BufFile* file = nullptr;
  bool complete = true;  // false once reading stopped before the end of the text
};
enum class BufPending {
  Found,       // a record ("$" line, or piece of a long line)
  End,         // the end of the text
  Unfinished,  // the last line may still be in the writing; it is read again next time
  Failed,      // a read failed (BufError tells why)
  Later,       // many lines passed over without a record: ask again
};
// The next pending record: its text, length and offset with Found.
BufPending BufNextPending(BufCursor* c, char* line, int* length, uint64_t* lineStart);

// Reads the receiver column, columns 38-52 of the first line, as the loop
// reads it: at most 15 characters from byte 38, up to and including a line
// end, into field (terminated); *length 0 when the file is too short to
// reach it. The stream is left at its start. 0 or the read's error.
int BufReadReceiverField(BufStream* s, char field[TORMEL_ADDRESS_WIDTH + 1], int* length);
// When the reading ended at a CTRL-Z: the bytes behind it, never sent; else 0.
uint64_t BufBytesBehindMark(BufStream* s);
// Bytes behind a CTRL-Z that ended the reading, once per file: 0 when there
// are none or they were told before.
uint64_t BufNewStrayBytes(BufFolder* folder, BufFile* f);

// Marks the record at lineStart delivered, in place. 0 or the system's error.
int BufMarkDelivered(BufFile* f, uint64_t lineStart);
// Makes the marks written so far durable; 0 or the system's error.
int BufSyncMarks(BufFile* f);
// Notes that the file's marks could not be written or synced: true the first
// time for this file, when it is to be told.
bool BufNoteMarkFailure(BufFolder* folder, const BufFile* f);
// Whether marks may be written to the file: true unless they failed before
// and still do (tried by writing its first byte over with itself, synced).
bool BufMarksWritable(BufFolder* folder, BufFile* f);

enum class BufRetirement {
  Removed,  // gone, nothing lost
  Kept,     // stays for its next turn: locked, grown, or not to be renamed
  Held,     // renamed, but a producer still holds it open
  Gone,     // its name no longer names it: somebody else removed or replaced it
};
// Removes a file whose every record was delivered up to end, where reading
// stopped, if that loses nothing. Never waits for a lock.
BufRetirement BufRetire(BufFolder* folder, BufFile* f, uint64_t end);

// Watching the folder for producers: 0, or the system's error when changes
// cannot be told there (the loop then only sleeps).
int BufWatchStart(BufFolder* folder);
// The watch to wait on beside the connections; nullptr when changes cannot
// be told (any more).
OsWatch* BufWatchOf(BufFolder* folder);
enum class BufWatchNews {
  None,     // nothing, or only changes the loop made itself
  Changed,  // a producer changed a buffer file: something to look at
  Lost,     // the folder can no longer be watched; from now on only sleeps
};
// Takes the news the watch has, without waiting.
BufWatchNews BufWatchRead(BufFolder* folder);
// The paths of buffer files that producers changed since the last call.
std::vector<std::string> BufTakeTouched(BufFolder* folder);
// True when the watched folder was removed or replaced since the watch
// began: the watch is closed then, for it tells nothing of the new one.
bool BufWatchLost(BufFolder* folder);

// The lock that lets one service at a time work on the folder of base, held
// for the whole run. 0, OS_FILE_LOCKED when another service holds it, or the
// system's error; *path receives the lock file's name.
int BufFolderLock(const char* base, OsFile* lock, std::string* path);

// --- Producers

// The buffer line of one pending record for the receiver ip, with CR LF.
std::string BufRecordLine(const std::string& ip, const std::string& record);
// Appends one whole line (ending in a line end) to a buffer file, creating
// it when missing: under the producers' lock, on a line of its own, and
// returns only once the line is on the disk (the file's data synced, and its
// folder too when the file is new). A failed write or sync is cut back to
// the old size. 0 or the system's error; *failed (when given) tells which
// step failed.
enum class BufAppendStep { Write, Sync };
int BufAppendLine(const char* path, const char* line, size_t length, BufAppendStep* failed = nullptr);

// --- Looking only

struct BufView {
  std::string receiver;     // columns 38-52 of the first line, trimmed
  uint64_t pending = 0;     // lines (pieces) beginning with "$"
  uint64_t delivered = 0;   // lines (pieces) beginning with "*"
  uint64_t behindMark = 0;  // bytes behind a CTRL-Z that ends the text early
};
// Reads a buffer file as the service would, changing nothing. 0 or the
// system's error.
int BufInspect(const char* path, BufView* view);
// Counts the records of an open stream from its start into view (all but
// the receiver), leaving the stream at the end. 0 or the system's error.
int BufCountRecords(BufStream* s, BufView* view);
// Only the receiver address of the first line, trimmed.
int BufReadReceiver(const char* path, std::string* receiver);
