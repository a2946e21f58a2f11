// The one line syntax of the settings files and of the programmes' key
// lines: a key, an optional underscore and index, a colon, then fields
// separated by TAB characters; lines beginning with "##" are comments. Every
// reader of QS_ADD's files takes its lines from here, so that each says the
// line's number the same way and reads numbers the same way.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// A piece of a key line between TABs, as written, and whether a TAB ended it
// (the last piece of a line ends at its newline instead).
struct KeyPiece {
  std::string text;
  bool tabbed = false;
};

struct KeyLine {
  int number = 0;     // its line in the file, counted from 1
  std::string key;    // before the colon (plain form) or the first underscore (indexed form)
  std::string index;  // indexed form: the text between the underscore and the colon
  std::string rest;   // after the colon, without the newline
  bool ended = false; // a newline ended the line (the last line of a file may have none)
  // `rest` cut at its TABs: the first piece is the text between the colon
  // and the first TAB, which most keys skip.
  std::vector<KeyPiece> pieces;

  // The fields most keys take: the pieces after the first, without the
  // blanks around them; the last one counts when it holds something.
  std::vector<std::string> values() const;
  // The line's fields are separated by blanks where TABs belong: there is
  // text after the colon but no TAB at all.
  bool blanksForTabs() const;
};

enum class KeyForm { Plain, Indexed };

// Every key line of `path` in file order (comments and lines without a
// colon, or without an underscore before it in the indexed form, are
// skipped); false when the file cannot be opened. With a key, only the
// lines of that key (compared without regard to case).
bool readKeyLines(const std::string& path, KeyForm form, std::vector<KeyLine>* out);
bool readKeyLines(const std::string& path, std::string_view key, KeyForm form, std::vector<KeyLine>* out);

// The text without the blanks, TABs and line ends around it.
std::string trimmed(std::string_view text);

// A number as a person writes it here: an optional sign, digits with a
// decimal comma or point, and nothing else but blanks around it (an
// exponent as C writes it is taken too, so a file written by a program
// reads as it did). None for anything else: an empty field, letters, two
// separators, a number too large to hold.
std::optional<double> decimalNumber(std::string_view field);

// How a message names a field and what was in it: "cos φ «0,5x»".
std::string fieldShown(std::string_view name, std::string_view text);

// "строка 3 файла QS_ADD/common.sch": where a message points.
std::string lineOfFile(int number, const std::string& path);

}  // namespace qs
