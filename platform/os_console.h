// The console, for listings that wait for a key press.
#pragma once

// True when the process has a console (a terminal) to take keys from.
bool OsConsoleAvailable();
// True when a key press is waiting.
bool OsConsoleKeyPending();
// Reads one key code without echo; -1 when there is no console.
int OsConsoleReadKey();
