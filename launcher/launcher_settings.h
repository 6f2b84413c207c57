// Where the settings file and its per-user copy are, and reading the
// launcher's own settings into the Launcher record.
#ifndef LAUNCHER_LAUNCHER_SETTINGS_H
#define LAUNCHER_LAUNCHER_SETTINGS_H

#include "support/wide_string.h"

class Launcher;

// The settings file: the module path with its file name's extension
// replaced by "ini" (".ini" appended to a name without one). False when the
// module path is unknown.
bool settingsFilePath(Launcher& launcher, WideString& path);
// The settings path for a given module path (same rule; empty for an empty path).
WideString settingsPathFor(const WideString& modulePath);

// %APPDATA%\<product name>\<product code>\<file name of source>.ini; with
// create, the two folders are made (failures ignored).
WideString perUserSettingsPath(Launcher& launcher, const WideString& sourcePath, bool create);
// The launcher's own per-user copy; empty when the module path is unknown.
// The parts of a folder of the program's own below a per-user folder:
// "Product Name" and "Product Code" where given, else the executable's name;
// empty when a part is no single folder name ("..", "a/b", "C:").
List<WideString> programFolderParts(const WideString& productName, const WideString& productCode,
                                    const WideString& executableName);
WideString ownPerUserSettingsPath(Launcher& launcher, bool create);

// The executable's built-in settings text (empty when it carries none).
WideString builtInSettingsText();

// Fills the settings fields; false (after message 210 where it applies)
// ends the launch.
bool readLauncherSettings(Launcher& launcher);

#endif
