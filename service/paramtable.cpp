#include <cstring>

#include "paramfile.h"
#include "tormel.h"

void TormelParamTable(ParamEntry* table) {
  struct Row {
    const char* key;
    int32_t type;
    double min, max;
    const char* defaultValue;
    const char* comment;
  };
  static const Row rows[TORMEL_PARAM_COUNT] = {
      {"XFRIP", TYPSTRING, 1, 20, "127.0.0.1", "XFR-Empfangs-IP"},
      {"XFRPORT", TYPSTRING, 1, 5, "6665", "XFR-Empfangs-Port"},
      {"BUFFDATEI", TYPSTRING, 1, 50, "TORMEL.BUF", "TORMEL-Bufferdatei"},
      {"LOGDATEI", TYPSTRING, 1, 50, "TORMEL.LOG", "TORMEL-Logdatei"},
      {"MAXLOGSIZE", TYPINT, 1, 10000, "2000", "max. Logdateigroesse"},
      {"ERRLEVEL", TYPINT, 0, 10000, "1000", "ErrorLoglevel"},
      {"TIMEOUT", TYPINT, 0, 1000, "3", "Send-TimeOut"},
      // Optional: without it the service sends one record at a time.
      {"WINDOW", TYPINT, 1, 256, "1", "Saetze unterwegs"},
  };
  for (int i = 0; i < TORMEL_PARAM_COUNT; ++i) {
    ParamEntry& e = table[i];
    memset(&e, 0, sizeof e);
    e.groupToken = "TORMEL";
    e.paramToken = rows[i].key;
    e.tokenId = i;
    e.minValue = rows[i].min;
    e.maxValue = rows[i].max;
    e.type = rows[i].type;
    e.defaultValue = rows[i].defaultValue;
    e.comment = rows[i].comment;
    e.optional = i == PARAM_WINDOW ? 1 : 0;
  }
}
