// app_state_test.cpp: the shared record at start.
#include "core/app_state.h"

#include <gtest/gtest.h>

TEST(AppStateTest, StartsZeroedButForStatusEdgesAndAddressLength)
{
    resetAppState();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(AppState.mode, ConnectionMode::Client);
    EXPECT_EQ(AppState.peerAddressLength, 16);
    const int32_t edges[StatusParts] = {90, 140, 250, 370, 850, -1};
    for (int i = 0; i < StatusParts; i++)
        EXPECT_EQ(AppState.statusEdges[i], edges[i]);
    EXPECT_EQ(sizeof(AppState.dirTable), 1024u * 256u);
    EXPECT_EQ(sizeof(AppState.receivedRing), 32u * 272u);
    EXPECT_STREQ(transferStateName(TransferState::RequestCopyFrom), L"RequestCopyFrom");
    EXPECT_STREQ(transferStateName(static_cast<TransferState>(11)), L"");
}
