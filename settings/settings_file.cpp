// settings_file.cpp: placeholder until the settings file lands.
#include "settings/settings_file.h"
void loadSettings() {}
void saveSettings() {}
