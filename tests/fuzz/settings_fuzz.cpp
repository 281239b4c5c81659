// libFuzzer target: any bytes as the settings file. Reading never fails, and a value written
// reads back after the file's text is parsed again, with the other lines kept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using corvane::IniFile;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::Parse(text, "fuzz.ini");
  const std::int32_t before = ini.readInteger("Settings", "MainForm.Left", 0);
  if (!ini.writeInteger("Settings", "MainForm.Top", before ^ 0x5A5A)) std::abort();
  const IniFile again = IniFile::Parse(ini.text(), "fuzz.ini");
  if (again.readInteger("Settings", "MainForm.Top", 0) != (before ^ 0x5A5A)) std::abort();
  return 0;
}
