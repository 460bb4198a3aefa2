// Operators of the language on values, shared by the evaluator and the
// library (ASCAN compares like "=", compound assignments reuse them).
#pragma once

#include <string_view>

#include "xbase/value.h"

namespace xb {

enum class BinOp {
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Pow,
    Eq,       // =  (SET EXACT decides for texts)
    ExactEq,  // ==
    Ne,       // != <> #
    Lt,
    Le,
    Gt,
    Ge,
    In,  // $
};

Value applyBinary(BinOp op, const Value& a, const Value& b);
// The same, reusing `a`'s storage when it is a text being concatenated.
Value applyBinaryMove(BinOp op, Value&& a, const Value& b);
Value negate(const Value& a);
std::string_view opName(BinOp op);

// Text comparison: exact (==) compares whole texts; otherwise, with SET EXACT
// off the right operand's length decides, with it on trailing blanks are
// ignored. Returns <0, 0, >0.
int compareText(std::string_view a, std::string_view b, bool exact);

// A number made by arithmetic: at least 10 integer positions (more when the
// operands or the value need them) and `decimals` decimals.
Value arithNumber(double v, int intWidth, int decimals);
int integerPart(const Value& n);  // integer positions of a number's width

// Checks a text length against the limits (raises when too long) and charges
// the work it costs.
void checkTextSize(size_t size);

}  // namespace xb
