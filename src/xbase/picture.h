// Pictures: TRANSFORM-style formatting and the description of an entry mask
// that an entry field (a widget, elsewhere) enforces while the user types.
//
// A picture is "[@functions][ template]": functions ! (upper case), K (the
// first key typed clears the field), S<n> (scroll: shown n wide), R (template
// literals are inserted, not stored), Z (blank when zero), B (left-justify
// numbers), E (European: "," decimal point, "." thousands), X/C/( (DB, CR,
// parentheses for negatives), D (date format), ! in the template upper-cases
// one position. Template characters: 9 # digit (numbers: also sign), A
// letter, N letter or digit, X any, L T/F, Y Y/N, ! any upper-cased,
// $ * leading fill for numbers, "." decimal point, "," thousands separator;
// anything else is a literal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xbase/value.h"

namespace xb {

struct PictureFunctions {
    bool upper = false;            // @!
    bool clearOnFirstKey = false;  // @K
    bool insertLiterals = false;   // @R
    bool blankZero = false;        // @Z
    bool leftJustify = false;      // @B
    bool european = false;         // @E
    bool credit = false;           // @C
    bool debit = false;            // @X
    bool parens = false;           // @(
    bool dateFormat = false;       // @D
    int scrollWidth = 0;           // @S<n>, 0 = none
};

struct Picture {
    PictureFunctions fn;
    std::string mask;  // the template (may be empty)
};

Picture parsePicture(std::string_view picture);

// TRANSFORM(value, picture).
std::string transform(const Value& v, std::string_view picture);

// One editable or literal position of an entry mask.
struct MaskPos {
    enum Kind { Digit, Sign, Letter, AlphaNum, Any, Logical, YesNo, Literal };
    Kind kind = Any;
    char literal = 0;    // for Literal
    bool upper = false;  // typed letters are upper-cased
};

struct EntryMask {
    char type = 'C';  // C, N, D or L: the value edited
    bool clearOnFirstKey = false;
    bool upper = false;
    int scrollWidth = 0;  // 0 = the field shows its whole width
    // Literal positions are stored in the value (character pictures without @R)
    // or only shown (numbers, dates, @R).
    bool literalsStored = true;
    std::vector<MaskPos> positions;  // one per shown position
    // Numbers: where the point is (-1 none), decimals, thousands separators.
    int pointPos = -1;
    int decimals = 0;
    bool thousands = false;
    char pointChar = '.';
    char thousandsChar = ',';

    size_t width() const { return positions.size(); }
    // Whether `c` may be typed at position `pos` (after upper-casing rules).
    bool accepts(size_t pos, unsigned char c) const;
    unsigned char apply(size_t pos, unsigned char c) const;  // upper-casing
};

// The mask for editing `v` with `picture`; without template the mask is made
// from the value (its length, or the number's width and decimals).
EntryMask entryMask(std::string_view picture, const Value& v);

// The text an entry field shows for `v` (TRANSFORM with the edit mask).
std::string entryText(const Value& v, std::string_view picture);
// Converts what the user typed back into a value of `original`'s type;
// numbers keep the original's width/decimals; an unreadable date is empty.
Value entryValue(std::string_view text, std::string_view picture, const Value& original);

}  // namespace xb
