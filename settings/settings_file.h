// settings_file.h: the settings file Parcelwight.ini in the start folder.
#pragma once

#include <windows.h>

// Reads the own folder, mode, port, address, monitor switch and what the peer may reach; missing keys get their
// defaults. The peer folder always starts at C:\.
void loadSettings();

// Writes the nine keys in their fixed order, then the main window's place, then those of the served folder,
// the fast link and who is served. A new file is created as UTF-16 so that folder names outside the ANSI code page survive. False when
// a key could not be written (a read-only or missing start folder); true when there is no start folder to use.
bool saveSettings();

// saveSettings, and a box over owner when the file could not be written.
void saveSettingsTold(HWND owner);

// True after a load that found no settings file (a first start), until saveSettings runs.
bool settingsFileMissing();

// As before the first load: no first start noted, no monitor place known.
void forgetLoadedSettings();

// The main window's place to save (screen coordinates; the restored place when minimised or maximised). False
// without a main window.
bool savedWindowRect(RECT *place);

// The saved place of the main window; false when a key is missing, not a number, or the size is not positive.
bool loadWindowRect(RECT *place);

// The last place of each monitor window (0 received, 1 sent, 2 DIR table), kept for the next time it opens
// and saved after the other keys; false when it has none. A null place forgets it.
constexpr int MonitorPlaceCount = 3;
bool monitorPlace(int view, POINT *place);
void setMonitorPlace(int view, const POINT *place);

// The settings file's path: AppState.startFolder, a backslash, "Parcelwight.ini". False (path left empty)
// when the start folder is unknown or the joined path would not fit.
bool settingsFilePath(wchar_t *path, int pathChars);
