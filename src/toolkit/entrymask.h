// The editing rules of an entry field with a picture, key by key, without any
// widget: what a typed key does to the text, where the cursor goes, and which
// value the text stands for. EntryField puts a QLineEdit in front of it.
// What each position accepts, the text shown for a value and the value read
// back come from the language's picture module (xbase/picture.h), so that
// fields, TRANSFORM and reports agree; the key handling is this module's.
//
// Pictures are the xBase ones: an optional function part ("@" and letters up
// to a blank: "!" upper case, "K" the first typed key clears the field, "Sn"
// n characters visible) and an optional template ("99-99-9999", "99:99",
// "9,999,999.99", "!!!", ...). Template characters 9 # A N X ! L Y are
// positions the user types into; any other character is a literal shown in
// place and skipped by the cursor.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xbase/picture.h"
#include "xbase/value.h"

namespace tk {

struct Picture {
    bool upper = false;            // @!
    bool clearOnFirstKey = false;  // @K
    int scroll = 0;                // @Sn: visible characters (0 = the whole field)
    std::string mask;              // the template, possibly empty
    std::string text;              // the picture as written

    static Picture parse(std::string_view text);
};

// Upper case of a Windows-1252 byte (accented letters included).
char upperAnsi(char c);

// A number laid out in a numeric template, as TRANSFORM shows it: integer
// digits right-aligned with the template's thousands separators, decimals
// rounded; asterisks when it does not fit.
std::string formatNumberMask(double v, std::string_view mask);

class EntryBuffer {
  public:
    // Starts editing `value` (C, M, N, D or L) under `picture`. Dates use
    // `dateFormat` ("dd-mm-yyyy") both to show and to read the text.
    void start(const xb::Value& value, const Picture& picture,
               std::string_view dateFormat = "dd-mm-yyyy", int epoch = 1940);

    const std::string& text() const { return buf_; }  // Windows-1252 bytes
    int cursor() const { return cursor_; }
    char type() const { return type_; }
    const Picture& picture() const { return pic_; }
    bool insertMode() const { return insert_; }
    void toggleInsert() { insert_ = !insert_; }
    bool changed() const { return changed_; }
    // True right after a typed key filled the last position of the field.
    bool full() const { return full_; }
    // True while the last position holds a typed character and the cursor
    // has not moved since: further keys are refused instead of overwriting it.
    bool atEnd() const { return pastEnd_; }
    // True when the last key was refused because the number would no longer
    // fit the integer positions of the picture.
    bool overflowed() const { return overflow_; }

    // A typed character (Windows-1252 byte). Returns false when the position
    // does not take it (the field is unchanged then). A number entered afresh
    // is replaced by what is typed, with or without @K: the digits form the
    // integer part, laid out right-aligned, and a point moves to the decimals.
    bool typeChar(char c);
    void left();
    void right();
    void home();
    void end();
    void backspace();
    void del();
    // Puts the cursor at the editable position nearest to `pos`.
    void setCursor(int pos);
    // A click at `pos`: as setCursor, but never beyond the position after
    // the last character typed, so that a click into the blank tail of a
    // field does not leave the typing among the padding.
    void clickAt(int pos);
    // Erases the positions [from, to) (a selection): text closes up over
    // them, other types blank them; the cursor goes to `from`.
    void eraseRange(int from, int to);
    // Any key other than a typed character or a cursor key: the first typed
    // key no longer clears the field.
    void noteKey() { firstKey_ = false; }
    // Puts a whole value in the field, as if typed (a day picked in the
    // calendar): the field counts as changed, the cursor at its start.
    void replaceValue(const xb::Value& v);

    // The value the text stands for. `ok` is false for text that is no valid
    // value of the type (an impossible date); the value is then the original.
    xb::Value value(bool* ok = nullptr) const;
    // The text a value shows with this picture (the field at rest).
    std::string render(const xb::Value& v) const;

  private:
    bool editable(int pos) const;
    int nextEditable(int from) const;  // first editable >= from, or size
    int prevEditable(int from) const;  // last editable <= from, or -1
    bool accepts(int pos, char& c) const;
    void clearAll();
    void numberPoint();
    bool typeInteger(char c);
    void layInteger();

    char type_ = 'C';
    Picture pic_;
    std::string mask_;  // one template character per position of the text
    xb::EntryMask entry_;
    bool useEntry_ = false;  // the language's mask has this field's width
    std::string buf_;
    std::string dateFormat_;
    int epoch_ = 1940;
    xb::Value original_;
    int cursor_ = 0;
    bool insert_ = false;
    bool firstKey_ = true;
    bool changed_ = false;
    bool full_ = false;
    bool pastEnd_ = false;
    // A number being typed afresh: its integer part as typed ("-" and digits),
    // laid out right-aligned after each key, as a numeric entry does.
    bool numEntry_ = false;
    std::string numInt_;
    bool overflow_ = false;
};

}  // namespace tk
