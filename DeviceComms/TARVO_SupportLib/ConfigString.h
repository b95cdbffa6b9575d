// ConfigString.h: a parsed device configuration string.
//
// A device configuration string names how a controller is reached, as
// entries of the form NAME=VALUE, for example
//     LINE=SIM1; ADDR=3; DEV="gateway 1"
//
// Grammar (white space is blanks, tabs, carriage returns and line feeds):
//     string  := ws [ item ( ';' item )* ] ws
//     item    := ws | ws name ws '=' ws value ws
//     name    := one or more of  A-Z a-z 0-9 _ . -
//     value   := unquoted | quoted
//     unquoted:= any characters except ';' and '"'; surrounding white space
//                is not part of the value; may be empty
//     quoted  := '"' { any character except '"' | '""' } '"'
//                ('""' stands for one '"'; white space inside is kept)
// Empty items (";;", a trailing ';') are allowed and ignored. Names compare
// without regard to ASCII case ("dev" and "DEV" are one name).
//
// Malformed text: an item without '=', an empty or invalid name, a quoted
// value that is not closed or is followed by anything but white space, a '"'
// inside an unquoted value, or a name given twice. Parsing is all or nothing:
// malformed text leaves the object with no entries (every GetEntry gives the
// empty text) and stores false in the optional flag, so the caller can tell
// "no entry" from "broken string"; well-formed text stores true.
//
// Ownership and threads: a value type with no shared state; const operations
// may run concurrently.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Export.h"

class ConfigString {
 public:
  // Parses `text`; `wellFormed`, when not null, receives whether it was.
  BASECOMMS_API explicit ConfigString(const std::wstring& text, bool* wellFormed = nullptr);

  // The value of the first of the two names that has an entry, else the
  // empty text. A name that is present with an empty value counts as
  // present. `alternative` may be empty (then only `name` is looked up).
  BASECOMMS_API std::wstring GetEntry(const std::wstring& name, const std::wstring& alternative) const;
  std::wstring GetEntry(const std::wstring& name) const { return GetEntry(name, std::wstring()); }
  BASECOMMS_API bool HasEntry(const std::wstring& name) const;

  bool IsWellFormed() const { return m_wellFormed; }
  // Entries in the order of the text, names as written.
  const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return m_entries; }

  // `value` written so that parsing gives it back: unquoted when it has no
  // ';', '"' or leading/trailing white space, else quoted.
  BASECOMMS_API static std::wstring QuoteValue(const std::wstring& value);

 private:
  bool Parse(const std::wstring& text);
  const std::wstring* Find(const std::wstring& name) const;

  std::vector<std::pair<std::wstring, std::wstring>> m_entries;
  bool m_wellFormed = false;
};
