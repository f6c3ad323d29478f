// The reading of a list file: one line at a time, whatever its length, into one path text.
#include "cli/listfile.h"
#include "paths/pathtext.h"
#include "paths/runtime.h"

namespace {

// The bytes of a line: those read ahead in search of a byte-order mark that turned out to be
// text, then the file's.
struct LineBytes {
  ListFile *file;
  int ahead[3]; // bytes read ahead (LIST_FILE_END among them when the file ended there)
  int count;    // how many of `ahead` are held
  int next;     // the next of them to hand out
  int get() { return next < count ? ahead[next++] : listFileGetc(file); }
};

// Reads ahead the bytes of a UTF-8 byte-order mark: the whole mark is dropped, anything else
// read is kept for the line.
void skipByteOrderMark(LineBytes &bytes) {
  static const int MARK[3] = {0xEF, 0xBB, 0xBF};
  while (bytes.count < 3) {
    int c = listFileGetc(bytes.file);
    bytes.ahead[bytes.count++] = c;
    if (c != MARK[bytes.count - 1])
      return;
  }
  bytes.count = 0;
}

} // namespace

// Reads byte by byte, so that a line is always read to its line feed: text that does not fit
// is dropped, never left for the next read to take as a line of its own.
bool readListLine(ListFile *file, char *line, size_t room, bool first, ListLineFault *fault) {
  *fault = LINE_FITS;
  if (room == 0)
    return false;
  LineBytes bytes = {file, {0, 0, 0}, 0, 0};
  if (first)
    skipByteOrderMark(bytes);
  int c = bytes.get();
  if (c == LIST_FILE_END)
    return false;
  bool quoted = c == '"';
  if (quoted)
    c = bytes.get();
  bool closed = false; // the closing quote has been met: the rest of the line is a remark
  bool trail = false;  // the byte read is the trail byte of a two-byte character
  size_t length = 0;
  for (; c != LIST_FILE_END && c != '\n'; c = bytes.get()) {
    if (closed || *fault == LINE_HOLDS_NUL)
      continue;
    char ch = static_cast<char>(c);
    if (ch == '\0') {
      *fault = LINE_HOLDS_NUL; // the text before it stays, for the report
      continue;
    }
    if (trail) {
      trail = false;
    } else if (quoted && ch == '"') {
      closed = true;
      continue;
    } else {
      if (ch == '/')
        ch = '\\';
      trail = isLeadByte(static_cast<unsigned char>(ch));
    }
    if (length + 1 < room)
      line[length++] = ch;
    else
      *fault = LINE_TOO_LONG;
  }
  line[length] = '\0';
  // A lead byte whose trail byte did not fit (or was a NUL) goes too.
  if (*fault != LINE_FITS && length > 0) {
    char *last = lastCharPtr(line);
    if (isLeadByte(static_cast<unsigned char>(*last)) && last[1] == '\0')
      *last = '\0';
  }
  return true;
}
