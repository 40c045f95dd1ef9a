// One writer of the concurrent error-log test, as a process of its own:
//   log_writer LOG COUNT LETTER
// writes COUNT entries whose message is 300 times LETTER.
#include <cstdlib>
#include <string>

#include "sockio.h"

int main(int argc, char** argv) {
  if (argc != 4 || !CLogOpen(argv[1], 1000, 10000)) return 2;
  std::string message(300, argv[3][0]);
  for (int i = 0, count = atoi(argv[2]); i < count; ++i)
    CLogWrite("tormel", "TormelWork()", 1, i, argv[3][0], message.c_str(), "");
  return 0;
}
