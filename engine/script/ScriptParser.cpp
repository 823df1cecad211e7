// Recursive-descent parser of the script language, with constant folding.
#include "ScriptParser.h"

#include "ScriptLexer.h"
#include "ScriptTexts.h"

namespace ruvala::script {

std::string NameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return key;
}

namespace {

// Folding joins texts only up to this size; longer joins are left to the run, where they are
// counted against the step limit, so a text of many string constants compiles in linear time.
constexpr std::size_t kMaxFoldedText = 4096;

class Parser {
 public:
  Parser(std::string_view text, const RoutineTable& routines, Program& prog)
      : FLex(text, prog.messages), FProg(prog), FRoutines(routines) {}

  void ParseScript() {
    try {
      Next();
      ParseList(FProg.body);
      if (FTok.kind != tkEof) FailAfterStatement();
    } catch (const Abort&) {
    }
  }

 private:
  struct Abort {};
  struct Symbol {
    bool isConst;
    int index;  // into Program::constants or Program::names
  };

  // Counts one level of nesting for as long as it lives.
  class Nest {
   public:
    explicit Nest(Parser& p) : FParser(p) {
      if (++FParser.FDepth > kMaxNesting)
        FParser.Fail(texts::Fill(texts::kNestingTooDeep, {std::to_string(kMaxNesting)}));
    }
    ~Nest() { --FParser.FDepth; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser& FParser;
  };

  void Next() {
    FLex.Next(FTok);
    if (FTok.kind == tkError) throw Abort{};  // the lexer has recorded why
  }
  void Error(std::string text, SourcePos pos) {
    FProg.messages.push_back({mkError, std::move(text), pos.line, pos.column});
  }
  [[noreturn]] void Fail(std::string text, SourcePos pos) {
    Error(std::move(text), pos);
    throw Abort{};
  }
  [[noreturn]] void Fail(std::string text) { Fail(std::move(text), FTok.pos); }
  void Expect(TokenKind kind, const char* text) {
    if (FTok.kind != kind) Fail(text);
    Next();
  }

  static bool StartsStatement(TokenKind k) {
    return k == tkName || k == kwBegin || k == kwIf || k == kwWhile || k == kwRepeat || k == kwFor || k == kwConst;
  }
  static bool StartsExpression(TokenKind k) {
    switch (k) {
      case tkName:
      case tkInteger:
      case tkFloat:
      case tkString:
      case tkLParen:
      case tkPlus:
      case tkMinus:
      case kwNot:
      case kwTrue:
      case kwFalse:
      case kwBoolean:
      case kwInteger:
      case kwFloat:
      case kwString:
        return true;
      default:
        return false;
    }
  }

  // A statement ended where the list around it expected ";" or its closing word.
  [[noreturn]] void FailAfterStatement() {
    Fail(StartsStatement(FTok.kind) || FTok.kind == tkEof ? texts::kSemicolonExpected : texts::kInvalidInstruction);
  }

  const Routine* FindRoutine(const std::string& key, std::shared_ptr<const Routine>* out) const {
    auto it = FRoutines.find(key);
    if (it == FRoutines.end()) return nullptr;
    *out = it->second;
    return it->second.get();
  }

  const Symbol* FindSymbol(const std::string& key) const {
    auto it = FSymbols.find(key);
    return it == FSymbols.end() ? nullptr : &it->second;
  }

  // The slot of a variable (or global) name, created on first use.
  int VarSlot(std::string_view name, const std::string& key) {
    auto it = FSymbols.find(key);
    if (it != FSymbols.end()) return it->second.index;
    const int slot = static_cast<int>(FProg.names.size());
    FProg.names.push_back({std::string(name), key});
    FSymbols.emplace(key, Symbol{false, slot});
    return slot;
  }

  // ---- statements ----

  void ParseList(StmtList& out) {
    for (;;) {
      if (StmtPtr s = ParseStatement()) out.push_back(std::move(s));
      if (FTok.kind != tkSemicolon) return;
      Next();
    }
  }

  // Returns null for an empty statement or a CONST declaration.
  StmtPtr ParseStatement() {
    Nest nest(*this);
    const SourcePos pos = FTok.pos;
    switch (FTok.kind) {
      case tkSemicolon:
      case kwEnd:
      case kwUntil:
      case kwElse:
      case tkEof:
        return nullptr;
      case kwBegin: {
        Next();
        auto block = std::make_unique<BlockStmt>(pos);
        ParseList(block->body);
        if (FTok.kind != kwEnd) FailAfterStatement();
        Next();
        return block;
      }
      case kwIf:
        return ParseIf();
      case kwWhile: {
        Next();
        auto loop = std::make_unique<WhileStmt>(pos);
        loop->condition = ParseExpression();
        Expect(kwDo, texts::kDoExpected);
        ++FLoops;
        loop->body = ParseStatement();
        --FLoops;
        return loop;
      }
      case kwRepeat: {
        Next();
        auto loop = std::make_unique<RepeatStmt>(pos);
        ++FLoops;
        ParseList(loop->body);
        --FLoops;
        if (FTok.kind != kwUntil) FailAfterStatement();
        Next();
        loop->condition = ParseExpression();
        return loop;
      }
      case kwFor:
        return ParseFor();
      case kwConst:
        ParseConst();
        return nullptr;
      case tkName:
        return ParseNameStatement();
      default:
        Fail(texts::kInvalidInstruction);
    }
  }

  StmtPtr ParseIf() {
    auto stmt = std::make_unique<IfStmt>(FTok.pos);
    Next();
    for (;;) {
      IfStmt::Branch branch;
      branch.condition = ParseExpression();
      Expect(kwThen, texts::kThenExpected);
      branch.body = ParseStatement();
      stmt->branches.push_back(std::move(branch));
      if (FTok.kind != kwElse) break;
      Next();
      if (FTok.kind != kwIf) {
        stmt->otherwise = ParseStatement();
        break;
      }
      Next();
    }
    return stmt;
  }

  StmtPtr ParseFor() {
    Next();
    if (FTok.kind != tkName) Fail(texts::kNameExpected);
    const std::string name(FTok.text);
    const SourcePos pos = FTok.pos;
    const std::string key = NameKey(name);
    if (const Symbol* s = FindSymbol(key); s && s->isConst) Fail(texts::Fill(texts::kConstantAssigned, {name}), pos);
    if (FRoutines.count(key)) Fail(texts::kNameExpected, pos);
    auto loop = std::make_unique<ForStmt>(pos, VarSlot(name, key), name);
    Next();
    Expect(tkAssign, texts::kAssignExpected);
    loop->start = ParseExpression();
    if (FTok.kind == kwDownto)
      loop->down = true;
    else if (FTok.kind != kwTo)
      Fail(texts::kToExpected);
    Next();
    loop->end = ParseExpression();
    Expect(kwDo, texts::kDoExpected);
    ++FLoops;
    loop->body = ParseStatement();
    --FLoops;
    return loop;
  }

  void ParseConst() {
    Next();
    if (FTok.kind != tkName) Fail(texts::kNameExpected);
    const std::string name(FTok.text);
    const SourcePos pos = FTok.pos;
    const std::string key = NameKey(name);
    Next();
    Expect(tkEqual, texts::kEqualExpected);
    ExprPtr value = ParseExpression();
    if (value->kind != Expr::kConst) {
      Error(texts::kConstantExpected, value->pos);
      return;
    }
    // A name the text already used, or a routine, cannot also be this constant.
    if (FSymbols.count(key) || FRoutines.count(key)) {
      Error(texts::Fill(texts::kRedeclared, {name}), pos);
      return;
    }
    FSymbols.emplace(key, Symbol{true, static_cast<int>(FProg.constants.size())});
    FProg.constants.emplace_back(name, static_cast<ConstExpr&>(*value).value);
  }

  StmtPtr ParseNameStatement() {
    const std::string name(FTok.text);
    const SourcePos pos = FTok.pos;
    const std::string key = NameKey(name);
    if (const Symbol* s = FindSymbol(key); s && s->isConst) {
      Next();
      Fail(FTok.kind == tkAssign ? texts::Fill(texts::kConstantAssigned, {name}) : texts::kInvalidInstruction, pos);
    }
    std::shared_ptr<const Routine> routine;
    if (FindRoutine(key, &routine)) {
      Next();
      auto call = std::make_unique<CallExpr>(pos, routine);
      if (FTok.kind == tkLParen) {
        ParseArgs(call->args);
      } else if (FTok.kind == tkAssign) {
        // Assignment form: "Trace := 'x'" passes 'x'.
        Next();
        call->args.push_back(ParseExpression());
      }
      CheckReferenceArgs(*call);
      if ((routine->builtin == biBreak || routine->builtin == biContinue) && FLoops == 0)
        Error(texts::kInvalidInstruction, pos);
      return std::make_unique<CallStmt>(pos, std::move(call));
    }
    Next();
    if (FTok.kind == tkLParen) {
      Error(texts::Fill(texts::kFunctionNotFound, {name}), pos);
      std::vector<ExprPtr> ignored;
      ParseArgs(ignored);
      return nullptr;
    }
    const int slot = VarSlot(name, key);
    if (FTok.kind == tkLBracket) {
      auto stmt = std::make_unique<AssignElementStmt>(pos, slot, name);
      ParseIndices(stmt->indices);
      Expect(tkAssign, texts::kAssignExpected);
      stmt->value = ParseExpression();
      return stmt;
    }
    Expect(tkAssign, texts::kAssignExpected);
    auto stmt = std::make_unique<AssignStmt>(pos, slot, name);
    stmt->value = ParseExpression();
    return stmt;
  }

  // "(" [expression {"," expression}] ")"; the current token is "(".
  void ParseArgs(std::vector<ExprPtr>& args) {
    Next();
    if (FTok.kind == tkRParen) {
      Next();
      return;
    }
    for (;;) {
      args.push_back(ParseExpression());
      if (FTok.kind != tkComma) break;
      Next();
    }
    Expect(tkRParen, texts::kCloseParenExpected);
  }

  // "[" expression {"," expression} "]"; the current token is "[".
  void ParseIndices(std::vector<ExprPtr>& indices) {
    Next();
    if (!StartsExpression(FTok.kind)) Fail(texts::kArrayIndexExpected);
    for (;;) {
      indices.push_back(ParseExpression());
      if (FTok.kind != tkComma) break;
      Next();
    }
    if (FTok.kind != tkRBracket) Fail(texts::kCloseBracketExpected);
    Next();
  }

  // Arguments passed by reference (inc, dec, SetArray) must name a variable or an element.
  void CheckReferenceArgs(const CallExpr& call) {
    const Routine& r = *call.routine;
    for (std::size_t i = 0; i < call.args.size(); ++i) {
      const Param* p = i < r.params.size()                                       ? &r.params[i]
                       : (!r.params.empty() && (r.params.back().flags & pfOpen)) ? &r.params.back()
                                                                                 : nullptr;
      if (!p || !(p->flags & pfVar)) continue;
      const Expr::Kind k = call.args[i]->kind;
      const bool ok = k == Expr::kVar || (k == Expr::kElement && r.builtin != biSetArray);
      if (!ok) Error(texts::kNameExpected, call.args[i]->pos);
    }
  }

  // ---- expressions ----

  ExprPtr ParseExpression() {
    Nest nest(*this);
    return ParseBinary(0);
  }

  // Binary operators of precedence `level` (0 comparisons, 1 additive, 2 multiplicative).
  static bool BinaryOpOf(TokenKind k, int level, OpCode& op) {
    static constexpr struct {
      TokenKind token;
      int level;
      OpCode op;
    } kOps[] = {
        {tkEqual, 0, opEqual},     {tkNotEqual, 0, opNotEqual},
        {tkLess, 0, opLess},       {tkLessEqual, 0, opLessEqual},
        {tkGreater, 0, opGreater}, {tkGreaterEqual, 0, opGreaterEqual},
        {tkPlus, 1, opAdd},        {tkMinus, 1, opSubtract},
        {kwOr, 1, opOr},           {kwXor, 1, opXor},
        {tkStar, 2, opMultiply},   {tkSlash, 2, opDivide},
        {kwDiv, 2, opIntDiv},      {kwMod, 2, opMod},
        {kwAnd, 2, opAnd},
    };
    for (const auto& o : kOps) {
      if (o.token == k && o.level == level) {
        op = o.op;
        return true;
      }
    }
    return false;
  }

  ExprPtr ParseBinary(int level) {
    if (level == 3) return ParseUnary();
    ExprPtr left = ParseBinary(level + 1);
    OpCode op;
    while (BinaryOpOf(FTok.kind, level, op)) {
      const SourcePos pos = FTok.pos;
      Next();
      ExprPtr right = ParseBinary(level + 1);
      left = Combine(std::move(left), op, pos, std::move(right));
    }
    return left;
  }

  // left op right: folded when both are constants and the operation succeeds (a failing one,
  // such as 1 DIV 0, is left for the run so that it fails only when reached); otherwise one
  // more link of the chain on the left.
  static ExprPtr Combine(ExprPtr left, OpCode op, SourcePos pos, ExprPtr right) {
    if (left->kind == Expr::kConst && right->kind == Expr::kConst) {
      const TValue& a = static_cast<ConstExpr&>(*left).value;
      const TValue& b = static_cast<ConstExpr&>(*right).value;
      const bool bigText = a.Type() == vtString && b.Type() == vtString &&
                           ValueAccess::Text(a).size() + ValueAccess::Text(b).size() > kMaxFoldedText;
      if (!bigText) {
        try {
          return std::make_unique<ConstExpr>(left->pos, BinaryOp(op, a, b, pos));
        } catch (const RuntimeFault&) {
        }
      }
    }
    if (left->kind != Expr::kChain) left = std::make_unique<ChainExpr>(left->pos, std::move(left));
    static_cast<ChainExpr&>(*left).rest.push_back({op, pos, std::move(right)});
    return left;
  }

  ExprPtr ParseUnary() {
    OpCode op;
    switch (FTok.kind) {
      case tkPlus:
        op = opPlus;
        break;
      case tkMinus:
        op = opNegate;
        break;
      case kwNot:
        op = opNot;
        break;
      default:
        return ParsePrimary();
    }
    Nest nest(*this);
    const SourcePos pos = FTok.pos;
    Next();
    ExprPtr operand = ParseUnary();
    if (operand->kind == Expr::kConst) {
      try {
        return std::make_unique<ConstExpr>(pos, UnaryOp(op, static_cast<ConstExpr&>(*operand).value, pos));
      } catch (const RuntimeFault&) {
      }
    }
    return std::make_unique<UnaryExpr>(pos, op, std::move(operand));
  }

  ExprPtr ParsePrimary() {
    const SourcePos pos = FTok.pos;
    TValue value;
    switch (FTok.kind) {
      case tkInteger:
        value = TValue(FTok.intValue);
        break;
      case tkFloat:
        value = TValue(FTok.floatValue);
        break;
      case tkString:
        value = TValue(std::move(FTok.str));
        break;
      case kwTrue:
        value = TValue(true);
        break;
      case kwFalse:
        value = TValue(false);
        break;
      // The type words are the type codes, for SetArray and comparisons with Type().
      case kwBoolean:
        value = TValue(std::int32_t{vtBoolean});
        break;
      case kwInteger:
        value = TValue(std::int32_t{vtInteger});
        break;
      case kwFloat:
        value = TValue(std::int32_t{vtFloat});
        break;
      case kwString:
        value = TValue(std::int32_t{vtString});
        break;
      case tkLParen: {
        Next();
        ExprPtr inner = ParseExpression();
        Expect(tkRParen, texts::kCloseParenExpected);
        return inner;
      }
      case tkName:
        return ParseName();
      default:
        Fail(texts::kExpressionExpected);
    }
    Next();
    return std::make_unique<ConstExpr>(pos, std::move(value));
  }

  ExprPtr ParseName() {
    const std::string name(FTok.text);
    const SourcePos pos = FTok.pos;
    const std::string key = NameKey(name);
    Next();
    if (const Symbol* s = FindSymbol(key); s && s->isConst)
      return std::make_unique<ConstExpr>(pos, FProg.constants[static_cast<std::size_t>(s->index)].second);
    std::shared_ptr<const Routine> routine;
    if (FindRoutine(key, &routine)) {
      auto call = std::make_unique<CallExpr>(pos, routine);
      if (FTok.kind == tkLParen) ParseArgs(call->args);
      CheckReferenceArgs(*call);
      if (routine->result == vtVoid)
        Error(texts::Fill(texts::kResultType, {routine->name, "VOID", "BOOLEAN/INTEGER/FLOAT/STRING"}), pos);
      return call;
    }
    if (FTok.kind == tkLParen) {
      Error(texts::Fill(texts::kFunctionNotFound, {name}), pos);
      std::vector<ExprPtr> ignored;
      ParseArgs(ignored);
      return std::make_unique<ConstExpr>(pos, TValue(std::int32_t{0}));
    }
    const int slot = VarSlot(name, key);
    if (FTok.kind == tkLBracket) {
      auto element = std::make_unique<ElementExpr>(pos, slot, name);
      ParseIndices(element->indices);
      return element;
    }
    return std::make_unique<VarExpr>(pos, slot, name);
  }

  Lexer FLex;
  Token FTok;
  Program& FProg;
  const RoutineTable& FRoutines;
  std::unordered_map<std::string, Symbol> FSymbols;
  int FDepth = 0;
  int FLoops = 0;  // loops around the statement being parsed, for break and continue
};

}  // namespace

std::shared_ptr<Program> CompileScript(std::string_view text, const RoutineTable& routines) {
  auto prog = std::make_shared<Program>();
  Parser(text, routines, *prog).ParseScript();
  for (const TScriptMessage& m : prog->messages)
    if (m.Kind == mkError) prog->failed = true;
  return prog;
}

}  // namespace ruvala::script
