#include "tormel.h"

char TormelMessage[TORMEL_MESSAGE_SIZE];
