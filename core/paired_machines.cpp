// paired_machines.cpp: the machines this instance has paired with.
#include "core/paired_machines.h"

bool pairedMachineKnown(const wchar_t *fingerprint)
{
    (void)fingerprint;
    return false;
}

int pairedMachineCount()
{
    return 0;
}

bool pairedMachineAt(int index, PairedMachine *out)
{
    (void)index;
    (void)out;
    return false;
}

bool forgetPairedMachine(const wchar_t *fingerprint)
{
    (void)fingerprint;
    return false;
}
