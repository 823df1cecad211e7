// The script engine: compiled-text cache, globals, name binding per run, and the interpreter
// that walks a program tree.
#include <ruvala/Script.h>

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "ScriptParser.h"
#include "ScriptTexts.h"
#include "ScriptValue.h"

namespace ruvala::script {

namespace {

// Compiled texts are kept for the life of the engine; these bounds only matter to a process
// that runs generated texts, which would otherwise grow the cache without end.
constexpr std::size_t kCacheMaxEntries = 4096;
constexpr std::size_t kCacheMaxBytes = std::size_t{64} << 20;

struct Global {
  std::string name;
  TValue value;
  bool isConst = false;
};

// Where a program's name slot points during one run.
struct Binding {
  TValue* value = nullptr;
  bool isConst = false;
};

enum class Flow : std::uint8_t { kNormal, kBreak, kContinue, kExit };

// Everything an engine holds; the interpreter works on it directly.
struct EngineState {
  RoutineTable routines;
  std::vector<std::unique_ptr<Global>> globals;  // stable addresses: runs bind to them
  std::unordered_map<std::string, std::size_t> globalIndex;

  std::unordered_map<std::string, std::shared_ptr<const Program>> cache;
  std::size_t cacheBytes = 0;

  // State of the last (or current) run.
  std::shared_ptr<const Program> program;
  std::vector<TValue> scriptVars;  // one per name slot; used by the slots not bound to globals
  std::vector<Binding> bindings;
  std::vector<TScriptMessage> messages;
  std::string output;
  std::uint64_t stepLimit = TScriptEngine::kDefaultStepLimit;
  std::uint64_t steps = 0;
  std::size_t memoryLimit = TScriptEngine::kDefaultMemoryLimit;
  // What the values held at the last measurement plus everything allocated since: an upper
  // bound of what they hold now, since values dropped since are still counted.
  std::size_t memoryCharged = 0;
  bool busy = false;

  std::shared_ptr<const Program> Compiled(const std::string& text) {
    if (auto it = cache.find(text); it != cache.end()) return it->second;
    std::shared_ptr<const Program> prog = CompileScript(text, routines);
    if (text.size() <= kCacheMaxBytes) {
      if (cache.size() >= kCacheMaxEntries || cacheBytes + text.size() > kCacheMaxBytes) {
        cache.clear();
        cacheBytes = 0;
      }
      cache.emplace(text, prog);
      cacheBytes += text.size();
    }
    return prog;
  }

  Global* FindGlobal(const std::string& key) {
    auto it = globalIndex.find(key);
    return it == globalIndex.end() ? nullptr : globals[it->second].get();
  }

  void SetGlobal(const std::string& name, const TValue& value, bool isConst) {
    const std::string key = NameKey(name);
    Global* g = FindGlobal(key);
    if (!g) {
      globals.push_back(std::make_unique<Global>());
      g = globals.back().get();
      g->name = name;
      globalIndex.emplace(key, globals.size() - 1);
    }
    g->value = value;
    g->isConst = isConst;
  }

  // Points every name slot of `prog` at its global, or at a fresh script variable.
  void Bind(std::shared_ptr<const Program> prog) {
    program = std::move(prog);
    const std::size_t n = program->names.size();
    scriptVars.assign(n, TValue());
    bindings.assign(n, Binding());
    for (std::size_t i = 0; i < n; ++i) {
      if (Global* g = FindGlobal(program->names[i].key))
        bindings[i] = {&g->value, g->isConst};
      else
        bindings[i] = {&scriptVars[i], false};
    }
  }

  bool IsBoundToScriptVar(std::size_t slot) const { return bindings[slot].value == &scriptVars[slot]; }

  // What the values of the run hold now: variables, globals, the texts and arrays they refer
  // to (shared ones once) and the output. `visited` counts the values walked.
  std::size_t MeasureMemory(std::uint64_t& visited) const {
    constexpr std::size_t kTextOverhead = sizeof(std::string) + 2 * sizeof(void*);  // with its control block
    std::unordered_set<const void*> seen;
    std::size_t total = output.capacity() + (scriptVars.capacity() + bindings.capacity()) * sizeof(TValue);
    auto add = [&](const TValue& v) {
      ++visited;
      const std::string& text = ValueAccess::Text(v);
      if (!text.empty() && seen.insert(&text).second) total += kTextOverhead + text.capacity();
    };
    auto value = [&](const TValue& v) {
      add(v);
      const ValueAccess::ArrayRep* rep = ValueAccess::Array(v);
      if (!rep || !seen.insert(rep).second) return;
      total += sizeof(*rep) + rep->dims.capacity() * sizeof(std::int32_t) + rep->elems.capacity() * sizeof(TValue);
      for (const TValue& e : rep->elems) add(e);
    };
    for (const TValue& v : scriptVars) value(v);
    for (const auto& g : globals) {
      total += sizeof(Global) + g->name.capacity();
      value(g->value);
    }
    return total;
  }
};

// Walks a program tree. Run-time errors are raised as RuntimeFault and end the run.
class Interpreter {
 public:
  Interpreter(EngineState& engine, const std::function<void(const std::string&, const TValue&)>& onVarChange)
      : FEngine(engine), FOnVarChange(onVarChange) {}

  void Run(const StmtList& body) { ExecList(body); }

 private:
  void Step(SourcePos pos) {
    if (++FEngine.steps > FEngine.stepLimit) throw RuntimeFault{texts::kStopped, pos};
  }
  // Work proportional to `bytes` of text built.
  void ChargeBytes(std::size_t bytes, SourcePos pos) {
    FEngine.steps += bytes / kBytesPerStep;
    if (FEngine.steps > FEngine.stepLimit) throw RuntimeFault{texts::kStopped, pos};
  }
  // Called before allocating `bytes` for a value. Charges only add up; once they pass the limit
  // the values are measured again for what they hold now, so texts and arrays dropped since no
  // longer count. A measurement is work, one step per value walked.
  void ChargeMemory(std::size_t bytes, SourcePos pos) {
    FEngine.memoryCharged += bytes;
    if (FEngine.memoryCharged <= FEngine.memoryLimit) return;
    std::uint64_t visited = 0;
    FEngine.memoryCharged = FEngine.MeasureMemory(visited) + bytes;
    FEngine.steps += visited;
    if (FEngine.memoryCharged > FEngine.memoryLimit)
      throw RuntimeFault{texts::Fill(texts::kMemoryExceeded, {std::to_string(FEngine.memoryLimit >> 20)}), pos};
    if (FEngine.steps > FEngine.stepLimit) throw RuntimeFault{texts::kStopped, pos};
  }
  // The storage of an array, ready to be written: unsharing it copies every element.
  ValueAccess::ArrayRep& MutableArray(TValue& array, SourcePos pos) {
    const ValueAccess::ArrayRep* rep = ValueAccess::Array(array);
    if (ValueAccess::SharedArray(array)) ChargeMemory(sizeof(*rep) + rep->elems.size() * sizeof(TValue), pos);
    return ValueAccess::MutableArray(array);
  }

  // ---- statements ----

  Flow ExecList(const StmtList& list) {
    for (const StmtPtr& s : list) {
      const Flow f = Exec(s.get());
      if (f != Flow::kNormal) return f;
    }
    return Flow::kNormal;
  }

  Flow Exec(const Stmt* s) {
    if (!s) return Flow::kNormal;
    Step(s->pos);
    switch (s->kind) {
      case Stmt::kAssign: {
        const auto& a = static_cast<const AssignStmt&>(*s);
        Assign(a.slot, a.name, Eval(*a.value), a.pos);
        return Flow::kNormal;
      }
      case Stmt::kAssignElement: {
        const auto& a = static_cast<const AssignElementStmt&>(*s);
        AssignElement(a);
        return Flow::kNormal;
      }
      case Stmt::kCall: {
        Flow flow = Flow::kNormal;
        Call(*static_cast<const CallStmt&>(*s).call, &flow);
        return flow;
      }
      case Stmt::kBlock:
        return ExecList(static_cast<const BlockStmt&>(*s).body);
      case Stmt::kIf: {
        const auto& i = static_cast<const IfStmt&>(*s);
        for (const IfStmt::Branch& b : i.branches)
          if (Condition(*b.condition, "IF")) return Exec(b.body.get());
        return Exec(i.otherwise.get());
      }
      case Stmt::kWhile: {
        const auto& w = static_cast<const WhileStmt&>(*s);
        for (;;) {
          Step(w.pos);
          if (!Condition(*w.condition, "WHILE")) return Flow::kNormal;
          const Flow f = Exec(w.body.get());
          if (f == Flow::kBreak) return Flow::kNormal;
          if (f == Flow::kExit) return f;
        }
      }
      case Stmt::kRepeat: {
        const auto& r = static_cast<const RepeatStmt&>(*s);
        for (;;) {
          Step(r.pos);
          const Flow f = ExecList(r.body);
          if (f == Flow::kBreak) return Flow::kNormal;
          if (f == Flow::kExit) return f;
          if (Condition(*r.condition, "UNTIL")) return Flow::kNormal;
        }
      }
      case Stmt::kFor:
        return ExecFor(static_cast<const ForStmt&>(*s));
    }
    return Flow::kNormal;
  }

  Flow ExecFor(const ForStmt& f) {
    const TValue start = Eval(*f.start);
    const TValue end = Eval(*f.end);
    if (start.Type() != vtInteger || end.Type() != vtInteger || start.IsArray() || end.IsArray())
      throw BadArguments("FOR", {&start, &end}, "(INTEGER, INTEGER)", f.pos);
    // A private counter: the body may change the variable without changing the passes, and
    // counting in 64 bits never overflows at the ends of the integer range.
    const std::int64_t from = start.AsInteger(), to = end.AsInteger(), step = f.down ? -1 : 1;
    for (std::int64_t i = from; f.down ? i >= to : i <= to; i += step) {
      Step(f.pos);
      Assign(f.slot, f.name, TValue(static_cast<std::int32_t>(i)), f.pos);
      const Flow flow = Exec(f.body.get());
      if (flow == Flow::kBreak) break;
      if (flow == Flow::kExit) return flow;
    }
    return Flow::kNormal;
  }

  bool Condition(const Expr& e, const char* statement) {
    const TValue v = Eval(e);
    if (v.Type() != vtBoolean || v.IsArray()) throw BadArguments(statement, {&v}, "(BOOLEAN)", e.pos);
    return ValueAccess::Bool(v);
  }

  // Checks `value` against the type the variable has fixed and converts an integer for a float
  // variable; raises the type error otherwise.
  static void FitToVariable(const TValue& current, TValue& value, const std::string& name, SourcePos pos) {
    const unsigned have = ValueAccess::TypeCode(current);
    const unsigned give = ValueAccess::TypeCode(value);
    if (have == vtVoid || have == give) return;  // untyped until the first assignment
    if (have == vtFloat && give == vtInteger) {
      value = TValue(static_cast<double>(ValueAccess::Int(value)));
      return;
    }
    throw RuntimeFault{texts::Fill(texts::kVariableType, {name, TypeName(have), TypeName(give)}), pos};
  }

  Binding& Writable(int slot, const std::string& name, SourcePos pos) {
    Binding& b = FEngine.bindings[static_cast<std::size_t>(slot)];
    if (b.isConst) throw RuntimeFault{texts::Fill(texts::kConstantAssigned, {name}), pos};
    return b;
  }

  // Every assignment to a variable is reported to the host before it takes effect.
  void Assign(int slot, const std::string& name, TValue value, SourcePos pos) {
    Binding& b = Writable(slot, name, pos);
    FitToVariable(*b.value, value, name, pos);
    Notify(name, value, pos);
    *b.value = std::move(value);
  }

  void Notify(const std::string& name, const TValue& value, SourcePos pos) {
    if (!FOnVarChange) return;
    try {
      FOnVarChange(name, value);
    } catch (const RuntimeFault&) {
      throw;
    } catch (const std::exception& e) {
      throw RuntimeFault{e.what(), pos};
    }
  }

  // Evaluates the indices of an element reference, each an integer.
  std::vector<std::int32_t> Indices(const std::vector<ExprPtr>& exprs) {
    std::vector<std::int32_t> out;
    out.reserve(exprs.size());
    for (const ExprPtr& e : exprs) {
      const TValue i = Eval(*e);
      if (i.Type() != vtInteger || i.IsArray()) throw BadArguments("[]", {&i}, "(INTEGER)", e->pos);
      out.push_back(ValueAccess::Int(i));
    }
    return out;
  }

  // The flat index of `at` in the array `v`, checking count and bounds.
  static std::size_t FlatIndex(const TValue& v, const std::vector<std::int32_t>& at, const std::vector<ExprPtr>& exprs,
                               SourcePos pos) {
    const ValueAccess::ArrayRep* rep = ValueAccess::Array(v);
    const std::size_t dims = rep ? rep->dims.size() : 0;
    if (at.size() != dims)
      throw RuntimeFault{texts::Fill(texts::kBadIndexCount, {std::to_string(at.size()), std::to_string(dims)}), pos};
    std::size_t flat = 0;
    for (std::size_t d = 0; d < dims; ++d) {
      const std::int32_t len = rep->dims[d];
      if (at[d] < 0 || at[d] >= len)
        throw RuntimeFault{texts::Fill(texts::kIndexOutOfBounds, {std::to_string(at[d]), std::to_string(d + 1),
                                                                  std::to_string(std::int64_t{len} - 1)}),
                           exprs[d]->pos};
      flat = flat * static_cast<std::size_t>(len) + static_cast<std::size_t>(at[d]);
    }
    return flat;
  }

  const TValue& Defined(int slot, const std::string& name, SourcePos pos) {
    const TValue& v = *FEngine.bindings[static_cast<std::size_t>(slot)].value;
    if (!v.Assigned()) throw RuntimeFault{texts::Fill(texts::kNotDefined, {name}), pos};
    return v;
  }

  // The element named by `slot[indices]`, ready to be written. The reference is taken after
  // every index is evaluated: a host function called by an index may replace a global.
  TValue& ElementForWrite(int slot, const std::string& name, const std::vector<ExprPtr>& indices, SourcePos pos) {
    Writable(slot, name, pos);
    const std::vector<std::int32_t> at = Indices(indices);
    const std::size_t flat = FlatIndex(Defined(slot, name, pos), at, indices, pos);
    TValue& array = *FEngine.bindings[static_cast<std::size_t>(slot)].value;
    return MutableArray(array, pos).elems[flat];
  }

  // Array elements are not reported to the host.
  void AssignElement(const AssignElementStmt& a) {
    TValue value = Eval(*a.value);
    TValue& elem = ElementForWrite(a.slot, a.name, a.indices, a.pos);
    FitToVariable(elem, value, a.name, a.pos);
    elem = std::move(value);
  }

  // ---- expressions ----

  TValue Eval(const Expr& e) {
    switch (e.kind) {
      case Expr::kConst:
        return static_cast<const ConstExpr&>(e).value;
      case Expr::kVar: {
        const auto& v = static_cast<const VarExpr&>(e);
        return Defined(v.slot, v.name, v.pos);
      }
      case Expr::kElement: {
        const auto& el = static_cast<const ElementExpr&>(e);
        const std::vector<std::int32_t> at = Indices(el.indices);
        const TValue& array = Defined(el.slot, el.name, el.pos);
        return array.Element(FlatIndex(array, at, el.indices, el.pos));
      }
      case Expr::kUnary: {
        const auto& u = static_cast<const UnaryExpr&>(e);
        return UnaryOp(u.op, Eval(*u.operand), u.pos);
      }
      case Expr::kChain:
        return EvalChain(static_cast<const ChainExpr&>(e));
      case Expr::kCall:
        return Call(static_cast<const CallExpr&>(e), nullptr);
    }
    return TValue();
  }

  TValue EvalChain(const ChainExpr& c) {
    TValue acc = Eval(*c.first);
    // A run of joins ("a" + b + "c" + ...) grows one text in place, so a long chain costs
    // linear time, not a new copy per link.
    std::string text;
    bool joining = false;
    for (const ChainExpr::Link& link : c.rest) {
      if (joining && link.op != opAdd) {
        acc = TValue(std::move(text));
        text.clear();
        joining = false;
      }
      // AND and OR on booleans stop at the first operand that decides the result.
      if (acc.Type() == vtBoolean && !acc.IsArray() &&
          ((link.op == opAnd && !ValueAccess::Bool(acc)) || (link.op == opOr && ValueAccess::Bool(acc))))
        continue;
      TValue rhs = Eval(*link.operand);
      const bool rhsText = ValueAccess::TypeCode(rhs) == vtString;
      if (link.op == opAdd && rhsText && (joining || ValueAccess::TypeCode(acc) == vtString)) {
        const std::string& piece = ValueAccess::Text(rhs);
        const std::size_t have = joining ? text.size() : ValueAccess::Text(acc).size();
        if (have + piece.size() > kMaxStringBytes)
          throw RuntimeFault{texts::Fill(texts::kStringTooLong, {std::to_string(kMaxStringBytes)}), link.pos};
        ChargeBytes((joining ? 0 : have) + piece.size(), link.pos);
        // Grown here, by doubling, so that the memory charged is the capacity the text gets.
        const std::size_t need = have + piece.size();
        const std::size_t capacity = joining ? text.capacity() : 0;
        if (need > capacity) {
          const std::size_t grown = joining ? std::min(std::max(need, 2 * capacity), kMaxStringBytes) : need;
          ChargeMemory(grown - capacity, link.pos);
          if (joining) {
            text.reserve(grown);
          } else {
            text.reserve(grown);
            text = ValueAccess::Text(acc);
          }
        } else if (!joining) {
          text = ValueAccess::Text(acc);
        }
        joining = true;
        text += piece;
        continue;
      }
      if (joining) {
        acc = TValue(std::move(text));
        text.clear();
        joining = false;
      }
      acc = BinaryOp(link.op, acc, rhs, link.pos);
    }
    if (joining) acc = TValue(std::move(text));
    return acc;
  }

  // ---- routines ----

  static const Param* ParamAt(const Routine& r, std::size_t i) {
    if (i < r.params.size()) return &r.params[i];
    if (!r.params.empty() && (r.params.back().flags & pfOpen)) return &r.params.back();
    return nullptr;
  }

  // Evaluates argument `i` and checks it against its parameter (an integer is accepted, as a
  // float, where only a float is).
  TValue Argument(const CallExpr& call, std::size_t i) {
    TValue v = Eval(*call.args[i]);
    const Param& p = *ParamAt(*call.routine, i);
    const unsigned t = ValueAccess::TypeCode(v);
    const unsigned base = t & ~unsigned{pfArray};
    const bool arrayOk = !(t & pfArray) || (p.flags & pfArray);
    if (arrayOk && (p.types & base)) return v;
    if (t == vtInteger && (p.types & vtFloat)) return TValue(static_cast<double>(ValueAccess::Int(v)));
    throw RuntimeFault{texts::Fill(texts::kArgumentType, {call.routine->name, TypeName(p.types | (p.flags & pfArray)),
                                                          TypeName(t), std::to_string(i + 1)}),
                       call.args[i]->pos};
  }

  TValue Call(const CallExpr& call, Flow* flow) {
    Step(call.pos);
    const Routine& r = *call.routine;
    const auto n = static_cast<int>(call.args.size());
    if (r.maxArgs >= 0 && n > r.maxArgs) throw RuntimeFault{texts::Fill(texts::kTooManyArguments, {r.name}), call.pos};
    if (n < r.minArgs)
      throw RuntimeFault{
          texts::Fill(texts::kNotEnoughArguments, {r.name, std::to_string(n), std::to_string(r.minArgs)}), call.pos};
    switch (r.builtin) {
      case biNone:
        return CallHost(call);
      case biLength: {
        const TValue v = Eval(*call.args[0]);
        if (v.IsArray()) return TValue(v.Dimensions().empty() ? 0 : v.Dimensions()[0]);
        if (v.Type() == vtString) return TValue(static_cast<std::int32_t>(CharCount(ValueAccess::Text(v))));
        throw BadArguments(r.name, {&v}, "(STRING), (ARRAY BOOLEAN/INTEGER/FLOAT/STRING)", call.pos);
      }
      case biInc:
      case biDec:
        IncDec(call, r.builtin == biDec);
        return TValue::Void();
      case biExit:
      case biBreak:
      case biContinue:
        if (flow) *flow = r.builtin == biExit ? Flow::kExit : r.builtin == biBreak ? Flow::kBreak : Flow::kContinue;
        return TValue::Void();
      case biSetArray:
        SetArray(call);
        return TValue::Void();
      case biType:
        return TValue(static_cast<std::int32_t>(TypeOf(*call.args[0])));
      case biSend:
      case biSendLn:
        for (std::size_t i = 0; i < call.args.size(); ++i) Send(Eval(*call.args[i]), call.pos);
        if (r.builtin == biSendLn) Send(TValue("\n"), call.pos);
        return TValue::Void();
    }
    return TValue::Void();
  }

  TValue CallHost(const CallExpr& call) {
    const Routine& r = *call.routine;
    std::vector<TValue> args;
    args.reserve(call.args.size());
    for (std::size_t i = 0; i < call.args.size(); ++i) args.push_back(Argument(call, i));
    if (!r.eval) throw RuntimeFault{texts::Fill(texts::kNoEvaluator, {r.name}), call.pos};
    TValue result;
    try {
      result = r.eval(args);
    } catch (const RuntimeFault&) {
      throw;
    } catch (const std::exception& e) {
      throw RuntimeFault{e.what(), call.pos};
    } catch (...) {
      throw RuntimeFault{texts::Fill(texts::kHostFailed, {r.name}), call.pos};
    }
    if (r.result == vtVoid) return TValue::Void();
    ChargeMemory(ValueAccess::Text(result).capacity(), call.pos);  // the host's text is the run's now
    const unsigned t = ValueAccess::TypeCode(result);
    if (t == r.result) return result;
    if (t == vtInteger && r.result == vtFloat) return TValue(static_cast<double>(ValueAccess::Int(result)));
    throw RuntimeFault{texts::Fill(texts::kResultType, {r.name, TypeName(t), TypeName(r.result)}), call.pos};
  }

  // inc/dec: the target is a variable (reported to the host) or an array element.
  void IncDec(const CallExpr& call, bool down) {
    const Routine& r = *call.routine;
    const Expr& target = *call.args[0];
    TValue amount(std::int32_t{1});
    if (call.args.size() > 1) amount = Argument(call, 1);
    auto apply = [&](const TValue& current) {
      const unsigned t = ValueAccess::TypeCode(current);
      if (t != vtInteger && t != vtFloat)
        throw RuntimeFault{texts::Fill(texts::kArgumentType, {r.name, "VAR INTEGER/FLOAT", TypeName(t), "1"}),
                           target.pos};
      if (t == vtInteger && amount.Type() != vtInteger)
        throw RuntimeFault{texts::Fill(texts::kArgumentType, {r.name, "INTEGER", TypeName(amount.Type()), "2"}),
                           call.args[1]->pos};
      return BinaryOp(down ? opSubtract : opAdd, current, amount, call.pos);
    };
    if (target.kind == Expr::kVar) {
      const auto& v = static_cast<const VarExpr&>(target);
      Writable(v.slot, v.name, v.pos);
      Assign(v.slot, v.name, apply(Defined(v.slot, v.name, v.pos)), v.pos);
    } else {
      const auto& el = static_cast<const ElementExpr&>(target);
      TValue& elem = ElementForWrite(el.slot, el.name, el.indices, el.pos);
      elem = apply(elem);
    }
  }

  // The product of `dims`, or kMaxArrayElements + 1 for any product above the limit (a later
  // length 0 still gives 0); never overflows.
  static std::int64_t ElementCount(const std::vector<std::int32_t>& dims) {
    std::int64_t count = 1;
    for (std::int32_t len : dims) count = std::min(count * len, kMaxArrayElements + 1);
    return count;
  }

  // SetArray(variable, element type, length, ...): a new array, or with one length and the
  // same element type, the array resized with its elements kept.
  void SetArray(const CallExpr& call) {
    const auto& target = static_cast<const VarExpr&>(*call.args[0]);
    Writable(target.slot, target.name, target.pos);
    std::vector<TValue> args;
    for (std::size_t i = 1; i < call.args.size(); ++i) args.push_back(Argument(call, i));
    const std::int32_t code = ValueAccess::Int(args[0]);
    if (code != vtBoolean && code != vtInteger && code != vtFloat && code != vtString) {
      const std::string shown = TypeName(static_cast<unsigned>(code) & 0x1FF);
      throw RuntimeFault{texts::Fill(texts::kBadArrayType, {shown.empty() ? std::to_string(code) : shown}),
                         call.args[1]->pos};
    }
    const auto elemType = static_cast<TValueType>(code);
    std::vector<std::int32_t> dims;
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::int32_t len = ValueAccess::Int(args[i]);
      if (len < 0)
        throw RuntimeFault{texts::Fill(texts::kBadArrayLength, {std::to_string(len)}), call.args[i + 1]->pos};
      dims.push_back(len);
    }
    const TValue& current = *FEngine.bindings[static_cast<std::size_t>(target.slot)].value;
    const ValueAccess::ArrayRep* old = ValueAccess::Array(current);
    const bool resize = old && dims.size() == 1 && current.Type() == elemType;
    if (resize) {
      // Resize the first dimension; the others keep their lengths.
      std::vector<std::int32_t> newDims = old->dims;
      newDims[0] = dims[0];
      dims = std::move(newDims);
    }
    const std::int64_t count = ElementCount(dims);
    if (count > kMaxArrayElements)
      throw RuntimeFault{texts::Fill(texts::kArrayTooLarge, {std::to_string(kMaxArrayElements)}), call.pos};
    // Each element is a whole value: count them as work, like the bytes of built texts, and
    // before allocating them.
    FEngine.steps += static_cast<std::uint64_t>(count);
    if (FEngine.steps > FEngine.stepLimit) throw RuntimeFault{texts::kStopped, call.pos};
    ChargeMemory(sizeof(ValueAccess::ArrayRep) + static_cast<std::size_t>(count) * sizeof(TValue), call.pos);
    TValue made = ValueAccess::MakeArray(elemType, std::move(dims));
    if (resize) {
      ValueAccess::ArrayRep& rep = ValueAccess::MutableArray(made);
      const std::size_t keep = std::min(rep.elems.size(), old->elems.size());
      std::copy(old->elems.begin(), old->elems.begin() + static_cast<std::ptrdiff_t>(keep), rep.elems.begin());
    }
    // SetArray gives the variable a new value (and type): an assignment like any other.
    Notify(target.name, made, target.pos);
    *FEngine.bindings[static_cast<std::size_t>(target.slot)].value = std::move(made);
  }

  // Type(x): the type code, with pfArray for arrays; an unassigned variable gives VOID rather
  // than an error, so scripts can ask whether a variable is defined.
  unsigned TypeOf(const Expr& e) {
    if (e.kind == Expr::kVar) {
      const TValue& v = *FEngine.bindings[static_cast<std::size_t>(static_cast<const VarExpr&>(e).slot)].value;
      return ValueAccess::TypeCode(v);
    }
    return ValueAccess::TypeCode(Eval(e));
  }

  void Send(const TValue& v, SourcePos pos) {
    const std::string text = v.AsString();
    if (FEngine.output.size() + text.size() > kMaxStringBytes)
      throw RuntimeFault{texts::Fill(texts::kStringTooLong, {std::to_string(kMaxStringBytes)}), pos};
    ChargeBytes(text.size(), pos);
    const std::size_t capacity = FEngine.output.capacity();
    if (FEngine.output.size() + text.size() > capacity) {
      const std::size_t grown = std::max(FEngine.output.size() + text.size(), 2 * capacity);
      ChargeMemory(grown - capacity, pos);
      FEngine.output.reserve(grown);
    }
    FEngine.output += text;
  }

  EngineState& FEngine;
  const std::function<void(const std::string&, const TValue&)>& FOnVarChange;
};

}  // namespace

struct TScriptEngine::Impl : EngineState {};

// ---- TScriptEngine ----

TScriptEngine::TScriptEngine() : FImpl(std::make_unique<Impl>()) {
  for (auto& r : BuiltinRoutines()) FImpl->routines[NameKey(r->name)] = std::move(r);
}

TScriptEngine::~TScriptEngine() = default;

void TScriptEngine::AddFunction(const std::string& declaration, THostFunction eval) {
  std::shared_ptr<Routine> r = ParseDeclaration(declaration);
  r->eval = std::move(eval);
  FImpl->routines[NameKey(r->name)] = std::move(r);
  // Compiled texts resolved their calls against the old set of routines.
  FImpl->cache.clear();
  FImpl->cacheBytes = 0;
}

void TScriptEngine::SetGlobalVariable(const std::string& name, const TValue& value) {
  FImpl->SetGlobal(name, value, /*isConst=*/false);
}

void TScriptEngine::SetGlobalConstant(const std::string& name, const TValue& value) {
  FImpl->SetGlobal(name, value, /*isConst=*/true);
}

bool TScriptEngine::Compile(const std::string& text) {
  if (FImpl->busy) throw std::logic_error(texts::kEngineBusy);
  FImpl->messages = FImpl->Compiled(text)->messages;
  return !HasErrors();
}

bool TScriptEngine::Run(const std::string& text) {
  Impl& d = *FImpl;
  // A host function that runs a script on the engine running it would pull the bindings away
  // from under the running script.
  if (d.busy) throw std::logic_error(texts::kEngineBusy);
  std::string().swap(d.output);  // its memory too: a run is measured from what the globals hold
  d.steps = 0;
  std::shared_ptr<const Program> prog = d.Compiled(text);
  d.messages = prog->messages;
  if (prog->failed) {
    // Nothing ran: the engine knows only its globals until the next run.
    d.program.reset();
    d.messages.push_back({mkError, texts::kCompiledWithErrors, 0, 0});
    return false;
  }
  d.Bind(prog);
  std::uint64_t visited = 0;
  d.memoryCharged = d.MeasureMemory(visited);  // what the globals hold already
  d.busy = true;
  try {
    Interpreter(d, OnVarChange).Run(prog->body);
  } catch (const RuntimeFault& f) {
    d.messages.push_back({mkRuntimeError, f.text, f.pos.line, f.pos.column});
  } catch (const std::exception& e) {
    d.messages.push_back({mkRuntimeError, e.what(), 0, 0});
  }
  d.busy = false;
  return !HasErrors();
}

const std::vector<TScriptMessage>& TScriptEngine::Messages() const { return FImpl->messages; }

bool TScriptEngine::HasErrors() const {
  for (const TScriptMessage& m : FImpl->messages)
    if (m.Kind == mkError || m.Kind == mkRuntimeError) return true;
  return false;
}

const TValue* TScriptEngine::FindVariable(std::string_view name) const {
  const Impl& d = *FImpl;
  const std::string key = NameKey(name);
  if (d.program) {
    for (std::size_t i = 0; i < d.program->names.size(); ++i)
      if (d.program->names[i].key == key) return d.bindings[i].value;
    for (const auto& [constName, value] : d.program->constants)
      if (NameKey(constName) == key) return &value;
  }
  auto it = d.globalIndex.find(key);
  return it == d.globalIndex.end() ? nullptr : &d.globals[it->second]->value;
}

std::vector<std::pair<std::string, TValue>> TScriptEngine::Variables() const {
  const Impl& d = *FImpl;
  std::vector<std::pair<std::string, TValue>> out;
  if (d.program) {
    for (std::size_t i = 0; i < d.program->names.size(); ++i)
      if (d.IsBoundToScriptVar(i)) out.emplace_back(d.program->names[i].name, d.scriptVars[i]);
    for (const auto& c : d.program->constants) out.push_back(c);
  }
  for (const auto& g : d.globals) out.emplace_back(g->name, g->value);
  return out;
}

const std::string& TScriptEngine::Output() const { return FImpl->output; }

void TScriptEngine::SetStepLimit(std::uint64_t steps) { FImpl->stepLimit = steps; }

void TScriptEngine::SetMemoryLimit(std::size_t bytes) { FImpl->memoryLimit = bytes; }

}  // namespace ruvala::script
