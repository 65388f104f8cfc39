// protocol_engine.cpp: placeholder until the engine lands.
#include "core/protocol_engine.h"
void handleMessage() {}
void requestPeerDir() {}
