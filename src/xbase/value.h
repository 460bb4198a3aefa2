// The dynamic values of the expression language.
//
// A Value is one of the xBase types, told by its type letter:
//   C character (bytes in Windows-1252), N numeric, D date, L logical,
//   M memo (a character value that came from a memo field), U nil,
//   A array, B code block, O object.
// Numbers carry the display width and decimals that xBase gives them, so STR()
// and TRANSFORM() print what users of such programs expect. Arrays, blocks and
// objects are shared by reference: copying a Value copies the reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xb {

class Value;
class Array;
class Block;
class Object;
class Args;

using ArrayPtr = std::shared_ptr<Array>;
using BlockPtr = std::shared_ptr<Block>;
using ObjectPtr = std::shared_ptr<Object>;

class Value {
  public:
    Value() = default;  // nil
    Value(const Value&) = default;
    Value& operator=(const Value&) = default;
    // A moved-from value is nil (never a reference type without its target).
    Value(Value&& o) noexcept
        : type_(o.type_),
          logic_(o.logic_),
          width_(o.width_),
          dec_(o.dec_),
          date_(o.date_),
          num_(o.num_),
          str_(std::move(o.str_)),
          ref_(std::move(o.ref_)) {
        o.type_ = T::Nil;
    }
    Value& operator=(Value&& o) noexcept {
        if (this != &o) {
            type_ = o.type_;
            logic_ = o.logic_;
            width_ = o.width_;
            dec_ = o.dec_;
            date_ = o.date_;
            num_ = o.num_;
            str_ = std::move(o.str_);
            ref_ = std::move(o.ref_);
            o.type_ = T::Nil;
        }
        return *this;
    }
    ~Value() = default;

    static Value nil() { return Value(); }
    static Value str(std::string bytes);
    static Value str(std::string_view bytes) { return str(std::string(bytes)); }
    static Value str(const char* bytes) { return str(std::string(bytes)); }
    static Value memo(std::string bytes);
    // A number with the width and decimals it is displayed with (width counts
    // the sign, the integer digits, the point and the decimals).
    static Value num(double v, int width, int decimals);
    // A number with default display: integral values take width 10 and no
    // decimals; others keep the decimals they need (up to SET DECIMALS-like 2
    // minimum when a fraction is present) with 10 integer positions.
    static Value num(double v);
    // An integer count or position (width 10, no decimals).
    static Value integer(int64_t v) { return num(static_cast<double>(v), 10, 0); }
    static Value date(int32_t julianDay);  // 0 = the empty date
    static Value logical(bool b);
    static Value array(ArrayPtr a);
    static Value newArray(size_t n = 0);
    static Value block(BlockPtr b);
    static Value object(ObjectPtr o);

    char type() const { return static_cast<char>(type_); }
    bool isNil() const { return type_ == T::Nil; }
    bool isString() const { return type_ == T::Char || type_ == T::Memo; }  // C or M
    bool isNum() const { return type_ == T::Num; }
    bool isDate() const { return type_ == T::Date; }
    bool isLogical() const { return type_ == T::Logical; }
    bool isArray() const { return type_ == T::Array; }
    bool isBlock() const { return type_ == T::Block; }
    bool isObject() const { return type_ == T::Object; }

    // Bytes of a C or M value; empty for every other type.
    const std::string& asString() const;
    std::string& mutableString();  // only for C/M values
    double asNumber() const { return type_ == T::Num ? num_ : 0.0; }
    int numWidth() const { return width_; }
    int numDecimals() const { return dec_; }
    int32_t asDate() const { return type_ == T::Date ? date_ : 0; }
    bool asLogical() const { return type_ == T::Logical && logic_; }
    ArrayPtr asArray() const;    // nullptr unless A
    BlockPtr asBlock() const;    // nullptr unless B
    ObjectPtr asObject() const;  // nullptr unless O
    // Borrowed pointers (no reference counting) for hot paths.
    Array* arrayPtr() const {
        return type_ == T::Array ? static_cast<Array*>(ref_.get()) : nullptr;
    }
    Block* blockPtr() const {
        return type_ == T::Block ? static_cast<Block*>(ref_.get()) : nullptr;
    }
    Object* objectPtr() const {
        return type_ == T::Object ? static_cast<Object*>(ref_.get()) : nullptr;
    }

    // The value as plain text, as ? or QOUT would show it: numbers through
    // their width and decimals, dates in the session format, logicals .T./.F.,
    // nil as NIL, arrays/blocks/objects as "{...}", "{||...}", the class name.
    std::string toText() const;
    // EMPTY(): blank text, 0, empty date, .F., nil, empty array.
    bool isEmpty() const;

  private:
    enum class T : char {
        Nil = 'U',
        Char = 'C',
        Num = 'N',
        Date = 'D',
        Logical = 'L',
        Memo = 'M',
        Array = 'A',
        Block = 'B',
        Object = 'O'
    };
    T type_ = T::Nil;
    bool logic_ = false;
    int16_t width_ = 0;
    int16_t dec_ = 0;
    int32_t date_ = 0;
    double num_ = 0.0;
    std::string str_;
    std::shared_ptr<void> ref_;  // Array, Block or Object
};

// Holders of values that may form reference cycles (an array holding itself,
// a block's parameter frame holding the block, a store holding itself) link
// themselves into one list, so that resetting the interpreter can break the
// cycles that shared ownership alone would leak.
class CycleMember {
  public:
    CycleMember();
    virtual ~CycleMember();
    CycleMember(const CycleMember&) = delete;
    CycleMember& operator=(const CycleMember&) = delete;
    // Moves every value held into `out` (the holder is left empty).
    virtual void surrender(std::vector<Value>& out) = 0;

  private:
    friend void breakReferenceCycles();
    CycleMember* prev_ = nullptr;
    CycleMember* next_ = nullptr;
};

// Empties every live holder. Done by resetRuntime(); values kept by C++ code
// across a reset lose their contents.
void breakReferenceCycles();

// An array of the language: elements numbered from 1 in the language, from 0
// here. Grows and shrinks; every access from the language is bounds-checked.
class Array : public CycleMember {
  public:
    Array() = default;
    ~Array() override;
    std::vector<Value> items;
    void surrender(std::vector<Value>& out) override;
};

// Releases values that may hold arrays, blocks or objects without recursing:
// a list nested a hundred thousand levels deep must not exhaust the stack
// when it is freed. Holders call it from their destructors.
void releaseDeep(std::vector<Value>& values);

// Objects of classes written in C++. A class answers the messages it knows;
// an unknown message makes send()/assign() return false and the caller raises
// error 1004 (reading or calling) or 1005 (assigning) naming class and message.
class Object {
  public:
    virtual ~Object() = default;
    virtual std::string className() const = 0;
    // `message` comes upper-cased and trimmed. Returns false when unknown.
    virtual bool send(std::string_view message, Args& args, Value& result) = 0;
    // The assignment form obj:message := value. Returns false when unknown.
    virtual bool assign(std::string_view message, const Value& value) = 0;
};

// Default decimals of a division and of numbers that need a fraction.
inline constexpr int kDefaultDecimals = 2;

// STR()-style rendering: right-aligned in `width`, rounded to `decimals`;
// asterisks when the integer part does not fit.
std::string formatNumber(double v, int width, int decimals);

// Structural equality used by tests and ASCAN (== semantics for scalars,
// identity for arrays/blocks/objects).
bool exactEquals(const Value& a, const Value& b);

}  // namespace xb
