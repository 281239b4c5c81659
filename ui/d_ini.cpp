#include "d_ini.h"

#include <QWidget>
#include <filesystem>

#include "d_util.h"
#include "d_win.h"
#include "ini_file.h"

namespace corvane {

namespace {

constexpr char kSettingsSection[] = "Settings";

std::string FormSection(const std::string& section, const QWidget& form) {
  return section.empty() ? form.objectName().toStdString() : section;
}

std::string Key(const QWidget& form, const char* property) { return form.objectName().toStdString() + "." + property; }

}  // namespace

std::string IniFileName(bool bareName) {
  const std::string path = ProgramFileName("ini");
  return bareName ? std::filesystem::path(path).filename().string() : path;
}

std::string SettingsFilePath(const std::string& bareName) {
  std::string folder = GetEnvVar("XDG_CONFIG_HOME");
  if (folder.empty()) folder = GetEnvVar("HOME") + "/.config";
  return folder + "/" + bareName;
}

void WriteIntegerIfChanged(IniFile& ini, const std::string& section, const std::string& key, std::int32_t value) {
  if (ini.readInteger(section, key, 0) != value) ini.writeInteger(section, key, value);
}

void WriteFormPlacement(IniFile& ini, const std::string& section, const QWidget& form) {
  const std::string name = FormSection(section, form);
  WriteIntegerIfChanged(ini, name, Key(form, "Top"), form.y());
  WriteIntegerIfChanged(ini, name, Key(form, "Left"), form.x());
  WriteIntegerIfChanged(ini, name, Key(form, "Width"), form.width());
  WriteIntegerIfChanged(ini, name, Key(form, "Height"), form.height());
}

void ReadFormPlacement(const IniFile& ini, const std::string& section, QWidget& form) {
  const std::string name = FormSection(section, form);
  // Each value is applied on its own, so the window may pass through in-between placements.
  if (const int width = ini.readInteger(name, Key(form, "Width"), 0); width != 0) form.resize(width, form.height());
  if (const int height = ini.readInteger(name, Key(form, "Height"), 0); height != 0) form.resize(form.width(), height);
  if (const int left = ini.readInteger(name, Key(form, "Left"), 0); left != 0) form.move(left, form.y());
  if (const int top = ini.readInteger(name, Key(form, "Top"), 0); top != 0) form.move(form.x(), top);
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
