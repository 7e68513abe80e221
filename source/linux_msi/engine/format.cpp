// Formatted text. Brackets resolve from the inside out: the text a nested
// reference produces becomes part of the name the outer bracket looks up.
// Text a reference produces is not scanned again, with one exception that
// msi.dll also makes: a record field's text has its property references
// expanded (but not its [N] references).
#include "engine/format.h"

#include <algorithm>
#include <vector>

namespace linux_msi {
namespace {

// Brackets and braces nested deeper than this are left as plain text.
constexpr int kMaxNesting = 64;

struct Expansion {
  enum class Kind {
    kRecord,    // [N]
    kProperty,  // [Name]
    kOther,     // environment, file, component, escape, [~], or a bracket left as it was
  } kind = Kind::kOther;
  std::wstring text;
  bool empty_reference = false;  // a record field or property that has no value
};

bool IsAllDigits(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return !text.empty();
}

class Formatter {
 public:
  Formatter(const std::wstring& text, const FormatContext& context, bool expand_fields)
      : text_(text), context_(context), expand_fields_(expand_fields),
        unmatched_(text.size(), false), next_close_(text.size() + 1, std::wstring::npos) {
    for (std::size_t i = text.size(); i-- > 0;) next_close_[i] = text[i] == L']' ? i : next_close_[i + 1];
  }

  std::wstring Run() {
    std::wstring out;
    for (std::size_t i = 0; i < text_.size();) {
      std::size_t end = 0;
      if (text_[i] == L'[') {
        Expansion expansion;
        if (Bracket(i, 0, end, expansion)) {
          out += expansion.text;
          i = end;
          continue;
        }
      } else if (text_[i] == L'{') {
        std::wstring group;
        if (Group(i, 0, end, group)) {
          out += group;
          i = end;
          continue;
        }
      }
      out += text_[i++];  // plain text, or an opener without a match
    }
    return out;
  }

 private:
  // Marks the opener at `open` as having no match. A nested opener that has
  // none makes its enclosing one of the same kind fail too: scanning on would
  // meet the same text. Remembering it keeps the whole pass linear.
  bool Unmatched(std::size_t open) {
    unmatched_[open] = true;
    return false;
  }

  // [...] at `open`; `end` receives the position after its closing bracket.
  bool Bracket(std::size_t open, int depth, std::size_t& end, Expansion& out) {
    if (unmatched_[open] || depth >= kMaxNesting) return Unmatched(open);
    std::size_t i = open + 1;
    if (i < text_.size() && text_[i] == L'\\') {
      // [\x] is x itself, even [ or ]; whatever follows it up to the bracket is dropped.
      if (i + 2 > text_.size() || next_close_[i + 2] == std::wstring::npos) return Unmatched(open);
      out.text.assign(1, text_[i + 1]);
      end = next_close_[i + 2] + 1;
      return true;
    }
    std::wstring name;
    bool name_from_lookup = false;  // part of the name came from other than a record field
    while (i < text_.size()) {
      const wchar_t c = text_[i];
      if (c == L']') {
        end = i + 1;
        out = Resolve(name, name_from_lookup);
        return true;
      }
      if (c == L'[') {
        Expansion inner;
        std::size_t inner_end = 0;
        if (Bracket(i, depth + 1, inner_end, inner)) {
          name += inner.text;
          name_from_lookup |= inner.kind != Expansion::Kind::kRecord;
          i = inner_end;
          continue;
        }
        // An escape without its bracket is plain text; any other opener
        // without a match leaves none for this one either.
        if (i + 1 >= text_.size() || text_[i + 1] != L'\\') return Unmatched(open);
      }
      name += c;
      ++i;
    }
    return Unmatched(open);
  }

  Expansion Resolve(const std::wstring& name, bool name_from_lookup) {
    Expansion out;
    if (name.empty()) {
      out.text = L"[]";
    } else if (IsAllDigits(name)) {
      // A field number written as such; a number that a lookup produced, or
      // one inside a record field's own text, stays as it is.
      if (!expand_fields_ || name_from_lookup) {
        out.text = L"[" + name + L"]";
        return out;
      }
      out.kind = Expansion::Kind::kRecord;
      constexpr unsigned long kPastLastField = 65536;  // a record holds at most 65535 fields
      unsigned long index = 0;
      for (wchar_t c : name) index = std::min(index * 10 + (c - L'0'), kPastLastField);
      std::wstring field;
      if (index > 0 && index < kPastLastField && context_.RecordField(static_cast<unsigned>(index), field)) {
        out.text = Formatter(field, context_, false).Run();
      }
      out.empty_reference = field.empty();
    } else if (name == L"~") {
      out.text.assign(1, L'\0');  // separates the strings of a REG_MULTI_SZ value
    } else if (name[0] == L'~') {
      // Nothing: only [~] itself is the null character.
    } else if (name[0] == L'\\') {
      out.text = name.substr(1, 1);  // an escape whose text a lookup produced
    } else if (name[0] == L'%') {
      out.text = context_.Environment(name.substr(1));
    } else if (name[0] == L'#' || name[0] == L'!') {
      out.text = context_.FilePath(name.substr(1));  // no short names here: ! is the same path
    } else if (name[0] == L'$') {
      out.text = context_.ComponentDirectory(name.substr(1));
    } else {
      out.kind = Expansion::Kind::kProperty;
      out.text = context_.Property(name);
      out.empty_reference = out.text.empty();
    }
    return out;
  }

  // {...} at `open`. With no property or field reference the group keeps its
  // braces; with some, it is its text when all of them have a value and
  // nothing otherwise. {{...}} is text for the log only and is dropped.
  bool Group(std::size_t open, int depth, std::size_t& end, std::wstring& out) {
    if (unmatched_[open] || depth >= kMaxNesting) return Unmatched(open);
    std::wstring content;
    bool names_value = false, value_missing = false;
    std::size_t leading_group_end = 0;  // end of a group that opens right after this brace
    for (std::size_t i = open + 1; i < text_.size();) {
      const wchar_t c = text_[i];
      std::size_t inner_end = 0;
      if (c == L'}') {
        end = i + 1;
        if (leading_group_end == i) out.clear();
        else if (!names_value) out = L"{" + content + L"}";
        else out = value_missing ? std::wstring() : content;
        return true;
      }
      if (c == L'[') {
        Expansion inner;
        if (Bracket(i, depth + 1, inner_end, inner)) {
          content += inner.text;
          names_value |= inner.kind != Expansion::Kind::kOther;
          value_missing |= inner.empty_reference;
          i = inner_end;
          continue;
        }
      } else if (c == L'{') {
        std::wstring inner;
        if (!Group(i, depth + 1, inner_end, inner)) return Unmatched(open);
        if (i == open + 1) leading_group_end = inner_end;
        content += inner;
        i = inner_end;
        continue;
      }
      content += c;
      ++i;
    }
    return Unmatched(open);
  }

  const std::wstring& text_;
  const FormatContext& context_;
  const bool expand_fields_;
  std::vector<bool> unmatched_;          // openers known to have no match
  std::vector<std::size_t> next_close_;  // position of the first ] at or after each position
};

}  // namespace

std::wstring FormatText(const std::wstring& text, const FormatContext& context) {
  return Formatter(text, context, true).Run();
}

}  // namespace linux_msi
