#include "TARVO_SupportLib/ConfigString.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsNameChar(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' ||
         c == L'.' || c == L'-';
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Reads one item starting at `pos` up to the next ';' or the end.
class ItemParser {
 public:
  ItemParser(const std::wstring& text, std::size_t pos) : m_text(text), m_pos(pos) {}

  // False when malformed. An empty item gives true with an empty name.
  bool Parse(std::wstring& name, std::wstring& value) {
    SkipBlanks();
    if (AtItemEnd()) return true;
    while (m_pos < m_text.size() && IsNameChar(m_text[m_pos])) name.push_back(m_text[m_pos++]);
    if (name.empty()) return false;
    SkipBlanks();
    if (m_pos >= m_text.size() || m_text[m_pos] != L'=') return false;
    ++m_pos;
    SkipBlanks();
    if (m_pos < m_text.size() && m_text[m_pos] == L'"') {
      if (!ParseQuoted(value)) return false;
      SkipBlanks();
      return AtItemEnd();
    }
    return ParseUnquoted(value);
  }

  std::size_t Position() const { return m_pos; }

 private:
  void SkipBlanks() {
    while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) ++m_pos;
  }
  bool AtItemEnd() const { return m_pos >= m_text.size() || m_text[m_pos] == L';'; }

  bool ParseQuoted(std::wstring& value) {
    ++m_pos;  // opening quote
    while (m_pos < m_text.size()) {
      wchar_t c = m_text[m_pos++];
      if (c != L'"') {
        value.push_back(c);
      } else if (m_pos < m_text.size() && m_text[m_pos] == L'"') {
        value.push_back(L'"');
        ++m_pos;
      } else {
        return true;
      }
    }
    return false;  // not closed
  }

  bool ParseUnquoted(std::wstring& value) {
    while (!AtItemEnd()) {
      if (m_text[m_pos] == L'"') return false;
      value.push_back(m_text[m_pos++]);
    }
    while (!value.empty() && IsBlank(value.back())) value.pop_back();
    return true;
  }

  const std::wstring& m_text;
  std::size_t m_pos;
};

}  // namespace

ConfigString::ConfigString(const std::wstring& text, bool* wellFormed) {
  m_wellFormed = Parse(text);
  if (!m_wellFormed) m_entries.clear();
  if (wellFormed != nullptr) *wellFormed = m_wellFormed;
}

bool ConfigString::Parse(const std::wstring& text) {
  std::size_t pos = 0;
  for (;;) {
    ItemParser item(text, pos);
    std::wstring name;
    std::wstring value;
    if (!item.Parse(name, value)) return false;
    if (!name.empty()) {
      if (Find(name) != nullptr) return false;  // a name given twice
      m_entries.emplace_back(std::move(name), std::move(value));
    }
    pos = item.Position();
    if (pos >= text.size()) return true;
    ++pos;  // the ';'
  }
}

const std::wstring* ConfigString::Find(const std::wstring& name) const {
  for (const auto& entry : m_entries) {
    if (SameName(entry.first, name)) return &entry.second;
  }
  return nullptr;
}

std::wstring ConfigString::GetEntry(const std::wstring& name, const std::wstring& alternative) const {
  if (const std::wstring* value = Find(name)) return *value;
  if (!alternative.empty()) {
    if (const std::wstring* value = Find(alternative)) return *value;
  }
  return std::wstring();
}

bool ConfigString::HasEntry(const std::wstring& name) const { return Find(name) != nullptr; }

std::wstring ConfigString::QuoteValue(const std::wstring& value) {
  bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  for (wchar_t c : value) {
    if (c == L';' || c == L'"') needsQuotes = true;
  }
  if (!needsQuotes) return value;
  std::wstring quoted = L"\"";
  for (wchar_t c : value) {
    if (c == L'"') quoted.push_back(L'"');
    quoted.push_back(c);
  }
  quoted.push_back(L'"');
  return quoted;
}
