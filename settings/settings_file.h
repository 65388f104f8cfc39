// settings_file.h: the settings file Parcelwight.ini in the start folder.
#pragma once

void loadSettings();
void saveSettings();
