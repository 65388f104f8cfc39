// paired_machines_dialog.h: the paired machines (command 141, template 33): each one's name, address,
// fingerprint and pairing date, and forgetting one so that its next meeting pairs again.
#pragma once

#include <windows.h>

// Modal; returns when the user closes it.
INT_PTR runPairedMachinesDialog(HWND window);
