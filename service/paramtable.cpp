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
      // Optional: without them the service sends one record at a time, to
      // up to eight stations at once, and tries a failed station again
      // after at most a minute.
      {"WINDOW", TYPINT, 1, 256, "1", "Saetze unterwegs"},
      {"STATIONS", TYPINT, 1, 64, "8", "Stationen zugleich"},
      {"RETRYMAX", TYPINT, 1, 3600, "60", "max. Pause vor Neuversuch"},
  };
  for (int i = 0; i < TORMEL_PARAM_COUNT; ++i) {
    const Row& r = rows[i];
    table[i] = ParamEntry{.groupToken = "TORMEL", .paramToken = r.key, .tokenId = i, .found = 0,
                          .optional = i >= PARAM_WINDOW ? 1 : 0, .onError = 0, .valid = 0, .minValue = r.min,
                          .maxValue = r.max, .type = r.type, .defaultValue = r.defaultValue, .content = {},
                          .value = {}, .comment = r.comment};
  }
}
