#include "paramlist.h"

#include <cstdio>

#include "os_console.h"
#include "os_stop.h"
#include "os_time.h"

namespace {

// The C library's "(null)" for a null %s is not guaranteed, so it is spelt out.
const char* ParamShown(const char* text) { return text != nullptr ? text : "(null)"; }

// Waits for one key press, without echo from the first look to the read.
// Without a console nobody can press a key, and an unattended process must
// not hang here, so the wait is skipped; a termination request ends it.
void ParamWaitForKey() {
  if (!OsConsoleKeyWaitBegin()) return;
  while (!OsConsoleKeyPending() && !OsStopRequested()) OsSleepMs(500);
  if (!OsStopRequested()) OsConsoleReadKey();
  OsConsoleKeyWaitEnd();
}

// The name the listing gives a type code.
const char* ParamTypeName(int32_t type) {
  switch (type) {
    case TYPSTRING: return "TYPSTRING";
    case TYPCHAR: return "TYPCHAR";
    case TYPBOOL: return "TYPBOOL";
    case TYPINT: return "TYPINT";
    case TYPLONG: return "TYPLONG";
    case TYPDOUBLE: return "TYPDOUBLE";
    case TYPDYN: return "TYPDYN";
    default: return "TYPUNKNOWN";
  }
}

}  // namespace

void ParamListTable(const ParamEntry* table, int32_t count) {
  std::printf("Parameterliste fuer Programm-Initialisierungsdatei:\r\n");
  for (int32_t i = 0; i < count; i++) {
    const ParamEntry* e = &table[i];
    std::printf("\r\n");
    std::printf("Nummer_________: %d\r\nGruppen-Token__: %s\r\n", static_cast<int>(i),
                ParamShown(e->groupToken));
    std::printf("Parameter-Token: %s\r\nToken-ID_______: %d\r\n", ParamShown(e->paramToken),
                static_cast<int>(e->tokenId));
    std::printf("Optional_______: %d\r\nOnError________: %d\r\n", static_cast<int>(e->optional),
                static_cast<int>(e->onError));
    std::printf("Min____________: %f\r\nMax____________: %f\r\n", e->minValue, e->maxValue);
    std::printf("Typ____________: %s\r\nDefault-Wert___: %s\r\n", ParamTypeName(e->type),
                ParamShown(e->defaultValue));
    // content is at most 100 characters, also in a table the caller filled.
    std::printf("Inhalt_________: %.100s\r\nKommentar______: %s\r\n", e->content,
                ParamShown(e->comment));
    std::printf("\r\nBitte eine Taste druecken !\r\n");
    std::fflush(stdout);
    ParamWaitForKey();
  }
  std::fflush(stdout);
}
