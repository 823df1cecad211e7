// The compiled form of a script: routines, expression and statement nodes, and the program that
// owns them. A program never refers to engine storage: names that are not script constants or
// routines get a slot that each run binds to a global or to a fresh script variable.
#pragma once

#include <ruvala/Script.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ScriptValue.h"

namespace ruvala::script {

enum BuiltinId : std::uint8_t {
  biNone,  // a host function
  biLength,
  biInc,
  biDec,
  biExit,
  biBreak,
  biContinue,
  biSetArray,
  biType,
  biSend,
  biSendLn,
};

struct Param {
  unsigned types = 0;  // set of type codes
  unsigned flags = 0;  // pfVar, pfArray, pfFunc, pfOpen
};

struct Routine {
  std::string name;  // as declared
  std::vector<Param> params;
  int minArgs = 0;
  int maxArgs = 0;  // -1: no upper bound
  TValueType result = vtVoid;
  BuiltinId builtin = biNone;
  TScriptEngine::THostFunction eval;
};

// Reads a declaration such as "FindChild(string):boolean" or "Send(ALL OPEN)"; raises
// std::invalid_argument when it is malformed.
std::shared_ptr<Routine> ParseDeclaration(std::string_view declaration);
// The routines every engine knows.
std::vector<std::shared_ptr<Routine>> BuiltinRoutines();

// ---- expressions ----

struct Expr {
  enum Kind : std::uint8_t { kConst, kVar, kElement, kUnary, kChain, kCall };
  explicit Expr(Kind k, SourcePos p) : kind(k), pos(p) {}
  virtual ~Expr() = default;
  Kind kind;
  SourcePos pos;
};
using ExprPtr = std::unique_ptr<Expr>;

struct ConstExpr : Expr {
  ConstExpr(SourcePos p, TValue v) : Expr(kConst, p), value(std::move(v)) {}
  TValue value;
};

struct VarExpr : Expr {
  VarExpr(SourcePos p, int s, std::string n) : Expr(kVar, p), slot(s), name(std::move(n)) {}
  int slot;
  std::string name;  // as written here
};

struct ElementExpr : Expr {
  ElementExpr(SourcePos p, int s, std::string n) : Expr(kElement, p), slot(s), name(std::move(n)) {}
  int slot;
  std::string name;
  std::vector<ExprPtr> indices;
};

struct UnaryExpr : Expr {
  UnaryExpr(SourcePos p, OpCode o, ExprPtr e) : Expr(kUnary, p), op(o), operand(std::move(e)) {}
  OpCode op;
  ExprPtr operand;
};

// A run of binary operators applied left to right: ((first op1 x1) op2 x2) ... Long chains such
// as "1+a+a+...+a" stay one flat node, so evaluating them never recurses deeply.
struct ChainExpr : Expr {
  struct Link {
    OpCode op;
    SourcePos pos;
    ExprPtr operand;
  };
  ChainExpr(SourcePos p, ExprPtr f) : Expr(kChain, p), first(std::move(f)) {}
  ExprPtr first;
  std::vector<Link> rest;
};

struct CallExpr : Expr {
  CallExpr(SourcePos p, std::shared_ptr<const Routine> r) : Expr(kCall, p), routine(std::move(r)) {}
  std::shared_ptr<const Routine> routine;
  std::vector<ExprPtr> args;
};

// ---- statements ----

struct Stmt {
  enum Kind : std::uint8_t { kAssign, kAssignElement, kCall, kBlock, kIf, kWhile, kRepeat, kFor };
  explicit Stmt(Kind k, SourcePos p) : kind(k), pos(p) {}
  virtual ~Stmt() = default;
  Kind kind;
  SourcePos pos;
};
using StmtPtr = std::unique_ptr<Stmt>;
using StmtList = std::vector<StmtPtr>;

struct AssignStmt : Stmt {
  AssignStmt(SourcePos p, int s, std::string n) : Stmt(kAssign, p), slot(s), name(std::move(n)) {}
  int slot;
  std::string name;
  ExprPtr value;
};

struct AssignElementStmt : Stmt {
  AssignElementStmt(SourcePos p, int s, std::string n) : Stmt(kAssignElement, p), slot(s), name(std::move(n)) {}
  int slot;
  std::string name;
  std::vector<ExprPtr> indices;
  ExprPtr value;
};

struct CallStmt : Stmt {
  CallStmt(SourcePos p, std::unique_ptr<CallExpr> c) : Stmt(kCall, p), call(std::move(c)) {}
  std::unique_ptr<CallExpr> call;
};

struct BlockStmt : Stmt {
  explicit BlockStmt(SourcePos p) : Stmt(kBlock, p) {}
  StmtList body;
};

// IF ... THEN ... ELSE IF ... THEN ... ELSE ...: an ELSE IF chain is one node, so long chains
// neither nest in the parser nor in the interpreter.
struct IfStmt : Stmt {
  struct Branch {
    ExprPtr condition;
    StmtPtr body;  // null for an empty statement
  };
  explicit IfStmt(SourcePos p) : Stmt(kIf, p) {}
  std::vector<Branch> branches;
  StmtPtr otherwise;
};

struct WhileStmt : Stmt {
  explicit WhileStmt(SourcePos p) : Stmt(kWhile, p) {}
  ExprPtr condition;
  StmtPtr body;
};

struct RepeatStmt : Stmt {
  explicit RepeatStmt(SourcePos p) : Stmt(kRepeat, p) {}
  StmtList body;
  ExprPtr condition;
};

struct ForStmt : Stmt {
  ForStmt(SourcePos p, int s, std::string n) : Stmt(kFor, p), slot(s), name(std::move(n)) {}
  int slot;
  std::string name;
  bool down = false;
  ExprPtr start;
  ExprPtr end;
  StmtPtr body;
};

// ---- program ----

struct Program {
  struct Name {
    std::string name;  // first spelling in the text
    std::string key;   // lower case
  };
  std::vector<TScriptMessage> messages;  // of the compiler
  bool failed = false;
  StmtList body;
  std::vector<Name> names;                                // slots of variables and globals, in order of first use
  std::vector<std::pair<std::string, TValue>> constants;  // CONST declarations of the script
};

// Lower-case form of an ASCII name; names compare case-insensitively.
std::string NameKey(std::string_view name);

}  // namespace ruvala::script
