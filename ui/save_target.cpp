#include "save_target.h"

#include "d_util.h"
#include "d_util_export.h"

namespace corvane {

namespace {

constexpr char kDefaultTarget[] = "txt";

}  // namespace

SaveTarget ChooseSaveTarget(const std::string& path, const std::string& filterSuffix) {
  std::string typed = TrimLeftChars(ExtractFileExt(path), ".");
  if (!typed.empty() && ExportTargetOf(typed)) return {path, typed};
  const std::string suffix = filterSuffix.empty() ? std::string(kDefaultTarget) : filterSuffix;
  return {path + "." + suffix, suffix};
}

}  // namespace corvane
