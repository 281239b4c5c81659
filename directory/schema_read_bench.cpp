// Times the schema reads of a tree change on a generated tree of 5,000 classes and 20,000
// attributes: the parse of the schema file, then the class list, the attribute list and
// the potential auxiliary attributes read through D_NW.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "d_nw.h"
#include "dir_client.h"

namespace {

constexpr int kClasses = 5000;
constexpr int kAttributes = 20000;

std::string AttributeName(int i) { return "'Attribute " + std::to_string(i) + "'"; }

// Classes form a binary inheritance tree; every tenth class is auxiliary.
void WriteSchema(const std::string& path) {
  std::ofstream out(path);
  for (int i = 0; i < kAttributes; ++i)
    out << "attributetype ( 1.1.1." << i << " NAME " << AttributeName(i)
        << "\n\tSYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n";
  for (int i = 0; i < kClasses; ++i) {
    out << "objectclass ( 1.1.2." << i << " NAME 'Class " << i << "'";
    if (i > 0) out << " SUP 'Class " << (i - 1) / 2 << "'";
    out << (i % 10 == 9 ? " AUXILIARY" : " STRUCTURAL") << "\n\tMUST " << AttributeName(i * 4 % kAttributes)
        << "\n\tMAY ( ";
    for (int k = 1; k <= 6; ++k) out << (k > 1 ? " $ " : "") << AttributeName((i * 4 + k) % kAttributes);
    out << " ) )\n";
  }
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const std::string path = (std::filesystem::temp_directory_path() / "corvane_bench.schema").string();
  WriteSchema(path);

  auto start = std::chrono::steady_clock::now();
  if (const std::string error = corvane::client::ServeSchemaFiles({path}); !error.empty()) {
    std::cerr << error << '\n';
    return 1;
  }
  const double parseMs = MillisecondsSince(start);

  corvane::ContextHandle ctx = 0;
  if ((corvane::InitNetWare() & 0xFFFF) != 0 || corvane::Client().CtxCreate(&ctx) != 0) return 1;
  start = std::chrono::steady_clock::now();
  corvane::StringList classes, attributes, auxAttributes;
  corvane::DSChangeCurrentTree(ctx, std::string(corvane::client::kSchemaFilesTree));
  const int codes = corvane::ReadClassList(ctx, classes) | corvane::ReadAttributeList(ctx, attributes) |
                    corvane::ReadAuxAttributeList(ctx, auxAttributes);
  const double readMs = MillisecondsSince(start);
  corvane::Client().CtxFree(ctx);
  std::filesystem::remove(path);

  std::printf("schema file parsed and resolved: %.1f ms\n", parseMs);
  std::printf("tree change reads (%zu classes, %zu attributes, %zu auxiliary attributes): %.1f ms\n", classes.size(),
              attributes.size(), auxAttributes.size(), readMs);
  return codes == 0 ? 0 : 1;
}
