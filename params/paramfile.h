// The parameter file reader: the caller describes every parameter it expects
// in a table of ParamEntry records and hands it to ParamFileRead, which fills,
// checks, lists or releases it according to the mode bits.
#pragma once
#include <cstdint>

// Type codes of ParamEntry::type. -7 is not assigned.
constexpr int32_t TYPSTRING = -1;
constexpr int32_t TYPCHAR = -2;
constexpr int32_t TYPBOOL = -3;
constexpr int32_t TYPINT = -4;
constexpr int32_t TYPLONG = -5;
constexpr int32_t TYPDOUBLE = -6;
constexpr int32_t TYPDYN = -8;

// Mode bits of ParamFileRead; they may be combined.
constexpr int32_t PARREAD = 1;   // read and parse the file into the table
constexpr int32_t PARCHECK = 2;  // check mandatory parameters, apply defaults
constexpr int32_t PARLIST = 4;   // list the table on the console
constexpr int32_t PARFREE = 8;   // release the item arrays of TYPDYN entries

// Result codes. The position reported with them is a line number (from 1)
// for the parser's codes and a table index (from 0) for -40 and -41.
constexpr int32_t PAROK = 0;
constexpr int32_t PARNOMODE = -1;       // none of the four mode bits set
constexpr int32_t PARNOOPEN = -2;       // the file cannot be opened
constexpr int32_t PARNOCLOSE = -3;      // the file cannot be closed
constexpr int32_t PARNOPATH = -5;       // reading requested without a path
constexpr int32_t PAREOF = -11;         // the file ended where more text was required
constexpr int32_t PARTOKLONG = -12;     // a token longer than 100 characters
constexpr int32_t PARNOKEYINI = -20;    // the file does not begin with "KEYINI"
constexpr int32_t PARNOOPENBR = -21;    // "[" expected
constexpr int32_t PARNOCLOSEBR = -22;   // "]" expected after a section name
constexpr int32_t PARNOEQUAL = -23;     // "=" expected after a key
constexpr int32_t PARUNKNOWNKEY = -31;  // a key not described for this section
constexpr int32_t PARMISSING = -40;     // a mandatory parameter is missing
constexpr int32_t PARINVALID = -41;     // no valid value and no onError
constexpr int32_t PARNOTDYN = -50;      // dynamic section whose entry is not TYPDYN
constexpr int32_t PARNOMEM = -51;       // no memory for the dynamic item array

// Longest token, content, value text, section name or key, in characters.
constexpr int32_t PARTEXTMAX = 100;

// Largest parameter file PARREAD takes, in bytes (1 MiB). A larger file, and
// anything but a regular file (a FIFO, a device, a folder), counts as one
// that cannot be opened (-2), and is refused at once.
constexpr int64_t PARFILEMAX = 1024 * 1024;

// One line of a dynamic section: the key in bytes 0-99, the value in bytes
// 100-199, each zero-padded and unterminated when exactly 100 characters long.
constexpr int32_t PARDYNITEMSIZE = 200;
constexpr int32_t PARDYNVALUEOFFSET = 100;

union ParamValue {
  char text[PARTEXTMAX + 1];  // TYPSTRING
  char ch;                    // TYPCHAR
  int32_t number;             // TYPBOOL (0/1), TYPINT, TYPLONG
  double real;                // TYPDOUBLE
  char* items;                // TYPDYN: the item array, owned by the reader
};

struct ParamEntry {
  const char* groupToken;  // section name, without brackets
  const char* paramToken;  // key name
  int32_t tokenId;         // the caller's own identifier, only listed
  int32_t found;           // set by the reader once the key was met
  int32_t optional;        // the parameter may be missing
  int32_t onError;         // the default replaces a missing or unusable value
  int32_t valid;           // set by the reader once a file value was accepted
  double minValue;         // lower bound; minimum length for TYPSTRING
  double maxValue;         // upper bound; maximum length for TYPSTRING
  int32_t type;            // one of the TYP codes
  const char* defaultValue;  // default as text; cleared by a dynamic section
  char content[PARTEXTMAX + 1];  // the value exactly as read from the file
  ParamValue value;
  const char* comment;
};

// Runs the requested steps in the order read, check, list, free; the first
// failure returns 0 with *errorCode set and, for parser and check failures,
// *errorWhere set to the line or the table index. On success returns 1; the
// code becomes 0 only when PARREAD or PARCHECK was requested.
// One call at a time per process: the reader keeps module-wide state.
int32_t ParamFileRead(const char* path, int32_t modes, ParamEntry* table, int32_t count,
                      int32_t* errorCode, int32_t* errorWhere);

// English meaning of a result code, for messages such as
// "FILE line 7: "=" expected after a key (-23)".
const char* ParamErrorText(int32_t code);

// Number of items stored by the last dynamic section that the latest PARREAD
// met; 0 when it met none.
int32_t ParamDynItemCount();
