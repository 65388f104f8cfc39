// fake_ui.cpp: records what the core asks of the user interface.
#include "tests/support/fake_ui.h"

#include "core/ui_ops.h"

#include <mutex>

static std::mutex fakeLock;
static FakeUi fake;

void resetFakeUi()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake = FakeUi();
    fake.clears = 0;
    fake.refuseRecords = false;
}

FakeUi fakeUiSnapshot()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    return fake;
}

void setFakeUiRefuseRecords(bool refuse)
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.refuseRecords = refuse;
}

void refreshStatus()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.states.push_back(AppState.transferState);
}

bool addPeerRecord(const char *text, int length)
{
    std::lock_guard<std::mutex> hold(fakeLock);
    if (fake.refuseRecords)
        return true;
    fake.peerRows.push_back(std::to_string(AppState.lastDirIndex) + "|" + std::string(text, length));
    return false;
}

void clearPeerPane()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.clears++;
    fake.peerRows.clear();
}

void setLinkLabel(const wchar_t *text)
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.linkLabels.push_back(text ? text : L"");
}

void exchangeEnded()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.outcomes.push_back(AppState.lastOutcome);
}

void fileArrived(const wchar_t *)
{
}
