#include "tormel.h"

OsEvent TormelStopEvent;
OsEvent TormelStartEvent;
