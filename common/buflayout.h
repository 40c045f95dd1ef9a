// Where each field of a buffer line and of the frame made of it stands, and
// the bytes that mean something in them. The service, the buffer-file
// module, tormelctl, the reference receiver and the tests take every column,
// size and mark from here.
#pragma once
#include <cstddef>

// A buffer line, columns counted from 0: the mark ("$" pending, "*"
// delivered), columns nobody reads, the receiver address, five more columns
// nobody reads, the record content and the line end.
constexpr int TORMEL_ADDRESS_COLUMN = 38;
constexpr int TORMEL_ADDRESS_WIDTH = 15;
constexpr int TORMEL_CONTENT_COLUMN = 58;
// A line as the service reads it: at most 550 characters, its line end (CR
// LF read as one LF) included; a longer line comes in pieces of that length.
constexpr int TORMEL_LINE_MAX = 550;
constexpr int TORMEL_LINE_SIZE = TORMEL_LINE_MAX + 1;  // with the terminator
// The longest record content that goes whole in one line.
constexpr size_t TORMEL_RECORD_MAX = TORMEL_LINE_MAX - TORMEL_CONTENT_COLUMN - 1;

// The frame: the sender's address and its port text, each left-aligned and
// blank-padded, in place of the line's columns 38-57, then the line from
// column 58 on up to its first zero byte, then zeros.
constexpr int TORMEL_FRAME_SIZE = 512;
constexpr int TORMEL_PORT_WIDTH = 5;
constexpr int TORMEL_PREFIX_SIZE = TORMEL_ADDRESS_WIDTH + TORMEL_PORT_WIDTH;
static_assert(TORMEL_ADDRESS_COLUMN + TORMEL_PREFIX_SIZE == TORMEL_CONTENT_COLUMN);

// The marks in column 0 of a buffer line.
constexpr char TORMEL_MARK_PENDING = '$';
constexpr char TORMEL_MARK_DELIVERED = '*';
// CTRL-Z: as a file's last byte it closes the text (a line end is put in
// its place); anywhere else it ends the readable text there.
constexpr char TORMEL_CTRL_Z = 0x1A;

// The receiver's answer that acknowledges a frame; any other byte refuses it.
constexpr char TORMEL_ANSWER_DELIVERED = '1';
