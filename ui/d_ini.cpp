#include "d_ini.h"

#include <QSettings>
#include <QWidget>
#include <QWindow>
#include <filesystem>
#include <optional>

#include "config_home.h"
#include "d_util.h"
#include "ini_file.h"

namespace corvane {

namespace {

constexpr char kSettingsSection[] = "Settings";

std::string FormSection(const std::string& section, const QWidget& form) {
  return section.empty() ? form.objectName().toStdString() : section;
}

std::string Key(const QWidget& form, const char* property) { return form.objectName().toStdString() + "." + property; }

// The stored value of the property, or nothing for a missing, 0 or unreadable one.
std::optional<int> StoredValue(const IniFile& ini, const std::string& section, const QWidget& form,
                               const char* property) {
  const int value = ini.readInteger(section, Key(form, property), 0);
  return value != 0 ? std::optional<int>(value) : std::nullopt;
}

// Where the frame is on the screen, by the native window's account: the widget's can lag
// behind, as for a place asked for before the window existed, or for a maximised window whose
// decorations the window manager has just changed.
QPoint FramePosition(const QWidget& form) {
  const QWindow* window = form.windowHandle();
  return window != nullptr ? window->framePosition() : form.pos();
}

// Puts the frame's top-left at frame and sizes the inner area. Once the native window exists
// (a show event comes after that), QWidget::move() places the inner area for as long as the
// frame is not known, and the window would come back a title bar lower on every run; the
// window handle passes the frame's place to the window manager as such. The widget moves
// there first so that its geometry matches the native window's and showing does not undo it.
void PlaceFrame(QWidget& form, QPoint frame, QSize size) {
  form.resize(size);
  form.move(frame);
  if (QWindow* window = form.windowHandle()) window->setFramePosition(frame);
}

}  // namespace

std::string IniFileName(bool bareName) {
  const std::string path = ProgramFileName("ini");
  return bareName ? std::filesystem::path(path).filename().string() : path;
}

std::string SettingsFilePath(const std::string& bareName) { return ConfigHome() + "/" + bareName; }

void KeepToolkitSettingsOut() {
  // Qt's file dialogs keep their history and last folder in a settings file of their own in
  // the configuration folder. The window keeps nothing but its placement, so the toolkit's
  // per-user settings go where no folder can be made: writing them fails quietly and they
  // last in memory for the run.
  for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
  }
}

void WriteIntegerIfChanged(IniFile& ini, const std::string& section, const std::string& key, std::int32_t value) {
  if (ini.readInteger(section, key, 0) != value) ini.writeInteger(section, key, value);
}

void WriteFormPlacement(IniFile& ini, const std::string& section, const QWidget& form) {
  const std::string name = FormSection(section, form);
  const QPoint frame = FramePosition(form);
  WriteIntegerIfChanged(ini, name, Key(form, "Top"), frame.y());
  WriteIntegerIfChanged(ini, name, Key(form, "Left"), frame.x());
  WriteIntegerIfChanged(ini, name, Key(form, "Width"), form.width());
  WriteIntegerIfChanged(ini, name, Key(form, "Height"), form.height());
}

void ReadFormPlacement(const IniFile& ini, const std::string& section, QWidget& form) {
  const std::string name = FormSection(section, form);
  const std::optional<int> top = StoredValue(ini, name, form, "Top");
  const std::optional<int> left = StoredValue(ini, name, form, "Left");
  const std::optional<int> width = StoredValue(ini, name, form, "Width");
  const std::optional<int> height = StoredValue(ini, name, form, "Height");
  if (!top && !left && !width && !height) return;
  const QPoint frame = FramePosition(form);
  PlaceFrame(form, {left.value_or(frame.x()), top.value_or(frame.y())},
             {width.value_or(form.width()), height.value_or(form.height())});
}

void SaveFormPlacement(const std::string& fileName, const std::string& section, const QWidget& form) {
  IniFile ini = IniFile::Load(fileName);
  WriteFormPlacement(ini, section, form);
  if (!ini.changed()) return;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(fileName).parent_path(), ignored);
  std::string reason;
  ini.save(reason);
}

void LoadFormPlacement(const std::string& fileName, const std::string& section, QWidget& form) {
  ReadFormPlacement(IniFile::Load(fileName), section, form);
}

void SaveSettings(const QWidget& mainForm) {
  SaveFormPlacement(SettingsFilePath(IniFileName(true)), kSettingsSection, mainForm);
}

void LoadSettings(QWidget& mainForm) {
  LoadFormPlacement(SettingsFilePath(IniFileName(true)), kSettingsSection, mainForm);
}

}  // namespace corvane
