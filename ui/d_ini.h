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
// Where a bare INI name lives: ConfigHome() ($XDG_CONFIG_HOME, default ~/.config) + the name.
std::string SettingsFilePath(const std::string& bareName);
// Keeps the toolkit's own per-user settings (the file dialogs' history) out of the
// configuration folder for the rest of the process; called before the first dialog exists.
void KeepToolkitSettingsOut();

// Writes value under key unless the stored integer (0 when absent) already equals it.
void WriteIntegerIfChanged(IniFile& ini, const std::string& section, const std::string& key, std::int32_t value);
// Stores the form's Top, Left, Width and Height (an empty section: the form's name): its
// frame's top-left on the screen and its inner size, maximised or not.
void WriteFormPlacement(IniFile& ini, const std::string& section, const QWidget& form);
// Applies the stored Width, Height, Left and Top that are not 0: the frame goes to Left/Top,
// also when the frame is not known yet (as while the window is first shown).
void ReadFormPlacement(const IniFile& ini, const std::string& section, QWidget& form);
// Opens the file, WriteFormPlacement, writes the file back when something changed.
void SaveFormPlacement(const std::string& fileName, const std::string& section, const QWidget& form);
// Opens the file, ReadFormPlacement.
void LoadFormPlacement(const std::string& fileName, const std::string& section, QWidget& form);
// The main window's placement, stored when it closes and restored when it is shown.
void SaveSettings(const QWidget& mainForm);
void LoadSettings(QWidget& mainForm);

}  // namespace corvane
