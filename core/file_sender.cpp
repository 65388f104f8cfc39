// file_sender.cpp: placeholder until the sender lands.
#include "core/file_sender.h"
int sendStep(BlockKind, int) { return SendStepStopped; }
