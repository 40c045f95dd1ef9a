// The console, for listings that wait for a key press.
#pragma once

// A wait for a key: from OsConsoleKeyWaitBegin to OsConsoleKeyWaitEnd the
// console is held without echo, so that no key pressed during the pauses of
// the wait shows on the screen. Begin is false when there is no console.
// One wait at a time; End restores the console as Begin found it, and so
// does a termination signal that ends the process during the wait.
bool OsConsoleKeyWaitBegin();
void OsConsoleKeyWaitEnd();
// True when a key press is waiting.
bool OsConsoleKeyPending();
// Reads one key code without echo; -1 when there is no console.
int OsConsoleReadKey();
