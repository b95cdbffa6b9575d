// Fuzzes ConfigString: any text parses without a crash, the flag agrees with
// the object, and well-formed entries quote back to the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "TARVO_SupportLib/ConfigString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
  bool wellFormed = false;
  ConfigString parsed(text, &wellFormed);
  if (wellFormed != parsed.IsWellFormed()) std::abort();
  if (!wellFormed && !parsed.Entries().empty()) std::abort();
  std::wstring rebuilt;
  for (const auto& [name, value] : parsed.Entries()) {
    rebuilt += name + L"=" + ConfigString::QuoteValue(value) + L";";
  }
  bool again = false;
  ConfigString reparsed(rebuilt, &again);
  if (!again || reparsed.Entries() != parsed.Entries()) std::abort();
  (void)parsed.GetEntry(L"DEV", L"GDEV");
  return 0;
}
