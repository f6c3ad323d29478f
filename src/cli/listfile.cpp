// The reading of a list file: one line at a time, whatever its length, into one path text.
#include "cli/listfile.h"

// Reads byte by byte, so that a line is always read to its line feed: text that does not fit
// is dropped, never left for the next read to take as a line of its own.
bool readListLine(ListFile *file, char *line, size_t room, bool *tooLong) {
  *tooLong = false;
  if (room == 0)
    return false;
  int c = listFileGetc(file);
  if (c == LIST_FILE_END)
    return false;
  bool quoted = c == '"';
  if (quoted)
    c = listFileGetc(file);
  bool closed = false; // the closing quote has been met: the rest of the line is a remark
  bool trail = false;  // the byte read is the trail byte of a two-byte character
  size_t length = 0;
  for (; c != LIST_FILE_END && c != '\n'; c = listFileGetc(file)) {
    if (closed)
      continue;
    char ch = static_cast<char>(c);
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
      *tooLong = true;
  }
  line[length] = '\0';
  // A lead byte whose trail byte did not fit goes too.
  if (*tooLong && length > 0) {
    char *last = lastCharPtr(line);
    if (isLeadByte(static_cast<unsigned char>(*last)) && last[1] == '\0')
      *last = '\0';
  }
  return true;
}
