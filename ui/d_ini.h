// D_Ini: the window's placement kept between runs in a small INI file, section "Settings",
// keys "MainForm.Top", "MainForm.Left", "MainForm.Width" and "MainForm.Height". A value 0
// stands for "not stored" both ways; every failure is silent.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace corvane {

class IniFile;

// The program's path with the extension "ini"; with bareName, only its file name.
std::string IniFileName(bool bareName);
// Where a bare INI name lives: $XDG_CONFIG_HOME (default ~/.config) + the name.
std::string SettingsFilePath(const std::string& bareName);

// Writes value under key unless the stored integer (0 when absent) already equals it.
void WriteIntegerIfChanged(IniFile& ini, const std::string& section, const std::string& key, std::int32_t value);
// Stores the form's Top, Left, Width and Height (an empty section: the form's name).
void WriteFormPlacement(IniFile& ini, const std::string& section, const QWidget& form);
// Applies the stored Width, Height, Left and Top that are not 0.
void ReadFormPlacement(const IniFile& ini, const std::string& section, QWidget& form);
// Opens the file, WriteFormPlacement, writes the file back when something changed.
void SaveFormPlacement(const std::string& fileName, const std::string& section, const QWidget& form);
// Opens the file, ReadFormPlacement.
void LoadFormPlacement(const std::string& fileName, const std::string& section, QWidget& form);
// The main window's placement, stored when it closes and restored when it is shown.
void SaveSettings(const QWidget& mainForm);
void LoadSettings(QWidget& mainForm);

}  // namespace corvane
