// libFuzzer target: any bytes as a schema file, served as a tree and read as a tree change
// and a check read it: classes, attributes, the auxiliary attributes and every class's
// attributes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "d_nw.h"
#include "dir_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static const std::string file =
      (std::filesystem::temp_directory_path() / ("corvane-fuzz-" + std::to_string(::getpid()) + ".schema")).string();
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!client::ServeSchemaFiles({file}, "FUZZ").empty()) return 0;
  client::ClientInit(0, 0);
  ContextHandle ctx = 0;
  Client().CtxCreate(&ctx);
  DSChangeCurrentTree(ctx, "FUZZ");
  StringList classes;
  StringList attributes;
  StringList auxAttributes;
  ReadClassList(ctx, classes);
  ReadAttributeList(ctx, attributes);
  ReadAuxAttributeList(ctx, auxAttributes);
  for (const StringList::Entry& entry : classes.entries()) {
    StringList classAttributes;
    GetClassAttributes(ctx, entry.text, classAttributes);
  }
  Client().CtxFree(ctx);
  return 0;
}
