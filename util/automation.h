// Spreadsheet automation of D_Win: servers reached by programmatic identifier and called by
// member name (late binding), and the two exports that paste the clipboard's table into a
// spreadsheet program.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace corvane {

// A failed automation call; what() is the text the user is shown.
class AutomationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AutomationObject;

// An argument or result: nothing, an omitted optional argument, a boolean, a text or an object.
struct Omitted {};
using AutomationValue = std::variant<std::monostate, Omitted, bool, std::string, std::shared_ptr<AutomationObject>>;

// An object's dispatch interface: every member is reached by its name.
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  // Reads a property (or calls a member without arguments when it is a method).
  virtual AutomationValue get(const std::string& member) = 0;
  // Sets a property.
  virtual void put(const std::string& member, const AutomationValue& value) = 0;
  // Calls a method.
  virtual AutomationValue call(const std::string& member, const std::vector<AutomationValue>& args) = 0;
};

// Makes a new server object; throws AutomationError when the server cannot start.
using AutomationFactory = std::function<std::shared_ptr<AutomationObject>()>;

// Registers (or, with an empty factory, removes) the server for a programmatic identifier.
void RegisterAutomationServer(const std::string& progId, AutomationFactory factory);
// A new object of the server registered for progId; "Invalid class string" when none is.
std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId);
// The built-in server of "Excel.Application": LibreOffice Calc, opened on the pasted table;
// throws AutomationError when soffice is not on the PATH.
std::shared_ptr<AutomationObject> CreateCalcApplication();

// Pastes the clipboard into a new workbook of "Excel.Application", fitting columns and rows;
// a failure is shown as "Error saving to Excel (%s) - Results are in clipboard".
void ExportToExcel();
// Pastes the clipboard into a new notebook of "QuattroPro.PerfectScript" and formats it;
// a failure is shown as "Error saving to QP (%s) - Results are in clipboard".
void ExportToQuattroPro();

}  // namespace corvane
