// The condition language: a tokenizer and a recursive-descent parser that
// evaluates while it parses. Precedence, lowest first: IMP, EQV, XOR, OR, AND,
// NOT; all binary operators associate to the left.
#include "engine/condition.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <limits>

namespace linux_msi {
namespace {

// Parentheses and NOTs nested deeper than this are refused (kError), so that
// no input can exhaust the stack.
constexpr int kMaxNesting = 128;

enum class Op { kEq, kNe, kLt, kGt, kLe, kGe, kContains, kStartsWith, kEndsWith };

enum class TokenKind {
  kEnd, kError, kLParen, kRParen,
  kImp, kEqv, kXor, kOr, kAnd, kNot,  // the binary ones in rising precedence
  kCompare, kInteger, kLiteral, kSymbol,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  Op op = Op::kEq;           // kCompare
  bool ignore_case = false;  // kCompare written with ~
  int32_t integer = 0;       // kInteger
  wchar_t prefix = 0;        // kSymbol: 0 for a property, else one of % $ ? & !
  std::wstring text;         // kLiteral: the text; kSymbol: the name
};

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsNameStart(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_'; }
bool IsNameChar(wchar_t c) { return IsNameStart(c) || IsDigit(c) || c == L'.'; }

// An optional minus sign and decimal digits, within 32 bits: the only text
// that counts as an integer ("+1", "1.0", "0x1" and " 1" do not).
bool ParseInteger(const std::wstring& text, int32_t& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (negative) ++i;
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > int64_t{1} << 31) return false;
  }
  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(signed_value);
  return true;
}

bool EqualsIgnoringAsciiCase(const std::wstring& word, const wchar_t* keyword) {
  std::size_t i = 0;
  for (; i < word.size() && keyword[i]; ++i) {
    wchar_t c = word[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != keyword[i]) return false;
  }
  return i == word.size() && !keyword[i];
}

// Lower case by the Unicode tables of C.UTF-8, whatever the process locale
// is; ASCII only where that locale is missing.
class CaseFolder {
 public:
  CaseFolder() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
  ~CaseFolder() { if (locale_) freelocale(locale_); }
  CaseFolder(const CaseFolder&) = delete;
  CaseFolder& operator=(const CaseFolder&) = delete;

  std::wstring Fold(std::wstring text) const {
    for (wchar_t& c : text) {
      if (locale_) c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), locale_));
      else if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
  }

 private:
  locale_t locale_;
};

std::wstring Folded(const std::wstring& text) {
  static const CaseFolder folder;
  return folder.Fold(text);
}

class Lexer {
 public:
  explicit Lexer(const std::wstring& text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    Token token;
    if (pos_ == text_.size()) return token;
    const wchar_t c = text_[pos_];
    switch (c) {
      case L'(': ++pos_; token.kind = TokenKind::kLParen; return token;
      case L')': ++pos_; token.kind = TokenKind::kRParen; return token;
      case L'"': return Literal();
      case L'~': case L'<': case L'>': case L'=': return Operator();
      case L'%': case L'$': case L'?': case L'&': case L'!':
        ++pos_;
        if (pos_ == text_.size() || !IsNameStart(text_[pos_])) return Error();
        token.kind = TokenKind::kSymbol;
        token.prefix = c;
        token.text = Name();
        return token;
      default: break;
    }
    if (IsDigit(c) || (c == L'-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) return Integer();
    if (!IsNameStart(c)) return Error();
    token.text = Name();
    static const struct { const wchar_t* word; TokenKind kind; } kKeywords[] = {
        {L"NOT", TokenKind::kNot}, {L"AND", TokenKind::kAnd}, {L"OR", TokenKind::kOr},
        {L"XOR", TokenKind::kXor}, {L"EQV", TokenKind::kEqv}, {L"IMP", TokenKind::kImp}};
    token.kind = TokenKind::kSymbol;
    for (const auto& keyword : kKeywords) {
      if (EqualsIgnoringAsciiCase(token.text, keyword.word)) token.kind = keyword.kind;
    }
    return token;
  }

 private:
  static Token Error() {
    Token token;
    token.kind = TokenKind::kError;
    return token;
  }

  std::wstring Name() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  // No escape exists for a quotation mark inside a literal.
  Token Literal() {
    const std::size_t close = text_.find(L'"', pos_ + 1);
    if (close == std::wstring::npos) return Error();
    Token token;
    token.kind = TokenKind::kLiteral;
    token.text = text_.substr(pos_ + 1, close - pos_ - 1);
    pos_ = close + 1;
    return token;
  }

  Token Integer() {
    const std::size_t start = pos_++;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    Token token;
    // "1.5" and "12ab" are not integers followed by something else.
    if ((pos_ < text_.size() && IsNameChar(text_[pos_])) ||
        !ParseInteger(text_.substr(start, pos_ - start), token.integer)) {
      return Error();
    }
    token.kind = TokenKind::kInteger;
    return token;
  }

  Token Operator() {
    Token token;
    token.kind = TokenKind::kCompare;
    if (text_[pos_] == L'~') {
      token.ignore_case = true;
      ++pos_;
    }
    const wchar_t first = pos_ < text_.size() ? text_[pos_] : 0;
    const wchar_t second = pos_ + 1 < text_.size() ? text_[pos_ + 1] : 0;
    static const struct { wchar_t first, second; Op op; } kOperators[] = {
        {L'<', L'>', Op::kNe},       {L'<', L'=', Op::kLe},       {L'<', L'<', Op::kStartsWith},
        {L'>', L'=', Op::kGe},       {L'>', L'<', Op::kContains}, {L'>', L'>', Op::kEndsWith},
        {L'<', 0, Op::kLt},          {L'>', 0, Op::kGt},          {L'=', 0, Op::kEq}};
    for (const auto& candidate : kOperators) {  // two-character forms first
      if (candidate.first == first && (!candidate.second || candidate.second == second)) {
        token.op = candidate.op;
        pos_ += candidate.second ? 2 : 1;
        return token;
      }
    }
    return Error();  // a ~ not followed by an operator
  }

  const std::wstring& text_;
  std::size_t pos_ = 0;
};

// An operand. Integer literals and component or feature states are integers;
// a property or environment value is a string that also has an integer form
// when its text is an integer; a quoted literal is always a string.
struct Value {
  enum class Kind { kInteger, kLiteral, kSymbol } kind = Kind::kInteger;
  int32_t integer = 0;
  bool has_integer = false;
  std::wstring text;
};

bool CompareIntegers(int32_t left, Op op, int32_t right) {
  const uint32_t bits = static_cast<uint32_t>(left);
  switch (op) {
    case Op::kEq: return left == right;
    case Op::kNe: return left != right;
    case Op::kLt: return left < right;
    case Op::kGt: return left > right;
    case Op::kLe: return left <= right;
    case Op::kGe: return left >= right;
    case Op::kContains: return (left & right) != 0;                     // any bit in common
    case Op::kStartsWith: return int64_t{bits >> 16} == right;          // high word
    case Op::kEndsWith: return int64_t{bits & 0xFFFFu} == right;        // low word
  }
  return false;
}

bool CompareStrings(std::wstring left, Op op, bool ignore_case, std::wstring right) {
  if (ignore_case) {
    left = Folded(left);
    right = Folded(right);
  }
  const bool substring = op == Op::kContains || op == Op::kStartsWith || op == Op::kEndsWith;
  // An empty left side contains nothing; an empty right side is in everything else.
  if (substring && left.empty()) return false;
  if (substring && right.empty()) return true;
  const int order = left.compare(right);  // by code point
  switch (op) {
    case Op::kEq: return order == 0;
    case Op::kNe: return order != 0;
    case Op::kLt: return order < 0;
    case Op::kGt: return order > 0;
    case Op::kLe: return order <= 0;
    case Op::kGe: return order >= 0;
    case Op::kContains: return left.find(right) != std::wstring::npos;
    case Op::kStartsWith: return left.compare(0, right.size(), right) == 0;
    case Op::kEndsWith:
      return right.size() <= left.size() && left.compare(left.size() - right.size(), right.size(), right) == 0;
  }
  return false;
}

bool Compare(const Value& left, Op op, bool ignore_case, const Value& right) {
  using Kind = Value::Kind;
  const bool left_integer = left.kind == Kind::kInteger, right_integer = right.kind == Kind::kInteger;
  if (left_integer || right_integer) {
    // An integer against a string: only a property or environment value that
    // is an integer converts; anything else is unequal and nothing more.
    const Value& other = left_integer ? right : left;
    if (other.kind == Kind::kLiteral || !other.has_integer) return op == Op::kNe;
    return CompareIntegers(left.integer, op, right.integer);
  }
  if (left.has_integer && right.has_integer && (left.kind == Kind::kSymbol || right.kind == Kind::kSymbol)) {
    return CompareIntegers(left.integer, op, right.integer);
  }
  return CompareStrings(left.text, op, ignore_case, right.text);
}

class Evaluator {
 public:
  Evaluator(const std::wstring& condition, const ConditionContext& context)
      : lexer_(condition), context_(context) {
    Advance();
  }

  ConditionResult Run() {
    if (token_.kind == TokenKind::kEnd) return ConditionResult::kNone;
    bool result = false;
    if (!Expression(TokenKind::kImp, result) || token_.kind != TokenKind::kEnd) return ConditionResult::kError;
    return result ? ConditionResult::kTrue : ConditionResult::kFalse;
  }

 private:
  void Advance() { token_ = lexer_.Next(); }

  // The binary level of `op` and everything above it; kNot stands for a factor.
  bool Expression(TokenKind op, bool& result) {
    if (op == TokenKind::kNot) return Factor(result);
    const auto higher = static_cast<TokenKind>(static_cast<int>(op) + 1);
    if (!Expression(higher, result)) return false;
    while (token_.kind == op) {
      Advance();
      bool right = false;
      if (!Expression(higher, right)) return false;
      switch (op) {
        case TokenKind::kImp: result = !result || right; break;
        case TokenKind::kEqv: result = result == right; break;
        case TokenKind::kXor: result = result != right; break;
        case TokenKind::kOr: result = result || right; break;
        default: result = result && right; break;
      }
    }
    return true;
  }

  bool Factor(bool& result) {
    const bool negated = token_.kind == TokenKind::kNot;
    if (negated || token_.kind == TokenKind::kLParen) {
      if (++nesting_ > kMaxNesting) return false;
      Advance();
      const bool ok = negated ? Factor(result) : Expression(TokenKind::kImp, result) && Close();
      --nesting_;
      if (negated) result = !result;
      return ok;
    }
    Value left;
    if (!Operand(left)) return false;
    if (token_.kind != TokenKind::kCompare) {
      result = left.kind == Value::Kind::kInteger ? left.integer != 0 : !left.text.empty();
      return true;
    }
    const Op op = token_.op;
    const bool ignore_case = token_.ignore_case;
    Advance();
    Value right;
    if (!Operand(right)) return false;
    result = Compare(left, op, ignore_case, right);
    return true;
  }

  bool Close() {
    if (token_.kind != TokenKind::kRParen) return false;
    Advance();
    return true;
  }

  bool Operand(Value& value) {
    switch (token_.kind) {
      case TokenKind::kInteger:
        value.integer = token_.integer;
        value.has_integer = true;
        break;
      case TokenKind::kLiteral:
        value.kind = Value::Kind::kLiteral;
        value.text = token_.text;
        value.has_integer = ParseInteger(value.text, value.integer);
        break;
      case TokenKind::kSymbol:
        switch (token_.prefix) {
          case L'$': value.integer = context_.ComponentActionState(token_.text); break;
          case L'?': value.integer = context_.ComponentInstalledState(token_.text); break;
          case L'&': value.integer = context_.FeatureActionState(token_.text); break;
          case L'!': value.integer = context_.FeatureInstalledState(token_.text); break;
          default:
            value.kind = Value::Kind::kSymbol;
            value.text = token_.prefix == L'%' ? context_.Environment(token_.text) : context_.Property(token_.text);
            value.has_integer = ParseInteger(value.text, value.integer);
            break;
        }
        break;
      default:
        return false;
    }
    Advance();
    return true;
  }

  Lexer lexer_;
  const ConditionContext& context_;
  Token token_;
  int nesting_ = 0;
};

}  // namespace

ConditionResult EvaluateCondition(const std::wstring& condition, const ConditionContext& context) {
  return Evaluator(condition, context).Run();
}

}  // namespace linux_msi
