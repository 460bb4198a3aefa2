// The expression compiler: a text is compiled once into a tree of nodes with
// names resolved and cached, and then evaluated as often as wanted without
// parsing again. Index keys and filters are compiled this way by the table
// engine and evaluated with the table's area current.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/runtime.h"
#include "xbase/value.h"

namespace xb {

struct CompiledExpr;  // internal

class Expr {
  public:
    Expr() = default;
    // Evaluates; an empty Expr yields nil. Errors go through the protocol.
    Value eval() const;
    const std::string& text() const;
    bool empty() const { return !c_; }
    // True when the text contains a function call, a macro or an assignment
    // (the type query cannot tell its type without running it).
    bool hasSideEffects() const;

  private:
    friend Expr compile(std::string_view);
    std::shared_ptr<const CompiledExpr> c_;
};

// Compiles an expression or a list "e1, e2" (value of the last). A text that
// does not compile raises a syntax error (general code 7, break only).
Expr compile(std::string_view text);

// Compiles and evaluates once (the macro cache keeps recent texts compiled).
Value evalText(std::string_view text);

// Assigns through a text naming a variable, "alias->field", "FIELD->name",
// "M->name" or an array element.
void assignText(std::string_view target, const Value& v);

// The type query: "C", "N", ..., "U" for a name that exists nowhere or an
// expression that fails, "UE" for a text that does not compile, "UI" when the
// text calls a function whose result cannot be told without running it.
std::string typeOfText(std::string_view text);

// Code blocks. A block text is "{|p1, p2| e1, e2}". Returns a B value.
Value compileBlock(std::string_view blockText);
// Evaluates a block with arguments (EVAL); parameters missing read as nil.
Value evalBlock(const Value& block, Args& args);
Value evalBlock(const Value& block, ArgList args = {});

// Registers the library functions (done by resetRuntime and at start).
void registerLibrary();

}  // namespace xb
