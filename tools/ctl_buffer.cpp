// Buffer files as the service reads them, for looking only, and the line a
// producer appends.
#include <fstream>

#include "bufstream.h"
#include "ctl.h"

namespace {

constexpr int kEndOfText = -1;
constexpr char kCtrlZ = 0x1A;

// The next character as the service's text-mode reads deliver it: CR LF
// arrives as one LF, and a CTRL-Z ends the readable text wherever it stands.
int NextChar(std::ifstream& in) {
  int c = in.get();
  if (c == std::ifstream::traits_type::eof() || c == kCtrlZ) return kEndOfText;
  if (c == '\r' && in.peek() == '\n') {
    in.get();
    return '\n';
  }
  return c;
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Columns 38-52 of the first line: at most 15 characters from byte 38, up to
// and including a line end, as the service reads them.
bool ReadReceiver(std::ifstream& in, std::string* receiver) {
  receiver->clear();
  in.seekg(TORMEL_ADDRESS_COLUMN);
  if (!in) {
    // The file ends before column 38: nothing to read, as for the service.
    in.clear();
    return true;
  }
  std::string field;
  for (int i = 0; i < TORMEL_ADDRESS_WIDTH; ++i) {
    int c = NextChar(in);
    if (c == kEndOfText) break;
    field += static_cast<char>(c);
    if (c == '\n') break;
  }
  if (in.bad()) return false;
  *receiver = Trimmed(field);
  return true;
}

}  // namespace

bool CtlReadReceiver(const std::string& path, std::string* receiver) {
  std::ifstream in(path, std::ios::binary);
  return in.is_open() && ReadReceiver(in, receiver);
}

bool CtlReadBuffer(const std::string& path, CtlBufferInfo* info) {
  *info = CtlBufferInfo{};
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open() || !ReadReceiver(in, &info->receiver)) return false;
  in.clear();
  in.seekg(0);
  // A line longer than the service reads at once comes in pieces, and every
  // piece is judged by its own first character; so are they counted here.
  int first = 0;
  int pieceLength = 0;
  auto count = [&] {
    if (first == '$') ++info->pending;
    if (first == '*') ++info->delivered;
    pieceLength = 0;
  };
  for (int c = NextChar(in); c != kEndOfText; c = NextChar(in)) {
    if (pieceLength == 0) first = c;
    ++pieceLength;
    if (c == '\n' || pieceLength == BUF_LINE_MAX) count();
  }
  if (pieceLength > 0) count();
  return !in.bad();
}

std::string CtlBufferLine(const std::string& ip, const std::string& record) {
  std::string line = "$";
  line.resize(TORMEL_ADDRESS_COLUMN, ' ');
  line += ip;
  line.resize(TORMEL_CONTENT_COLUMN, ' ');
  line += record;
  line += "\r\n";
  return line;
}
