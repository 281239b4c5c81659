// Where "Save ..." writes a list and in which format: the file type the user picked, by
// typing its extension or by choosing it in the dialog's type list, decides.
#pragma once

#include <string>

namespace corvane {

struct SaveTarget {
  std::string path;    // the file to write, its extension added when the name had none we know
  std::string target;  // the export target's keyword, such as "txt", "html" or "xls"
};

// The extension of path when it names an export target; otherwise the chosen type's
// extension (filterSuffix, empty for "All Files"), else "txt", added to the name. A name
// such as "Demo.v2" keeps its dots and gains the extension.
SaveTarget ChooseSaveTarget(const std::string& path, const std::string& filterSuffix);

}  // namespace corvane
