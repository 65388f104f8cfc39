// file_transfer_test.cpp: the file sender's blocks and trailers on the wire, and the file receiver's
// temporary file, replacement and discarding.
#include "core/file_receiver.h"
#include "core/file_sender.h"
#include "core/reports.h"

#include "tests/core/peer_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class FileSenderTest : public PeerTest {
protected:
    // Sends the whole of path and returns what went on the wire, one message per entry; results in *results.
#define sendAll(...) sendAllAt(HERE, __VA_ARGS__)
    std::vector<std::string> sendAllAt(Caller at, const std::wstring &path, BlockKind kind, std::vector<int> *results)
    {
        TRACE_CALLER(at);
        std::vector<std::string> wire;
        wcscpy(AppState.sendSourcePath, path.c_str());
        for (int number = 0; number < 100; number++) {
            int result = sendStep(kind, number);
            results->push_back(result);
            wire.push_back(fromUs(&peer));
            if (result != SendStepBlockSent)
                break;
        }
        return wire;
    }

    std::wstring sourceWith(const std::string &bytes)
    {
        std::wstring path = folder + L"\\source.bin";
        EXPECT_TRUE(writeFileBytes(path, bytes));
        EXPECT_TRUE(setFileTimes(path, fileTimeOf(NewYear2024), fileTimeOf(Later1), fileTimeOf(Later2)));
        return path;
    }
};

// The trailer of a file as the file system now reports its times (a read may have moved its access time, and a
// file system without creation times reports another one; the trailer carries what the platform reports).
std::string expectedTrailer(const char *tag, const std::wstring &path)
{
    FILETIME created, accessed, written;
    EXPECT_TRUE(getFileTimes(path, &created, &accessed, &written));
    EXPECT_EQ(fileTimeValue(written), Later2);
    return trailerMessage(tag, created, accessed, written);
}

TEST_F(FileSenderTest, BlocksOfThousandBytesThenTheTrailer)
{
    struct Case {
        size_t size;
        std::vector<size_t> blocks;
    };
    const Case cases[] = {{0, {}}, {1000, {1000}}, {1001, {1000, 1}}, {2500, {1000, 1000, 500}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        std::string data = patternBytes(c.size, static_cast<int>(c.size));
        std::wstring path = sourceWith(data);
        std::vector<int> results;
        std::vector<std::string> wire = sendAll(path, BlockKind::FR, &results);
        ASSERT_EQ(wire.size(), c.blocks.size() + 1);
        size_t offset = 0;
        for (size_t i = 0; i < c.blocks.size(); i++) {
            EXPECT_EQ(results[i], SendStepBlockSent);
            EXPECT_EQ(wire[i], blockMessage("FR", static_cast<int>(i), data.substr(offset, c.blocks[i])));
            offset += c.blocks[i];
        }
        EXPECT_EQ(results.back(), SendStepFinished);
        EXPECT_EQ(wire.back(), expectedTrailer("FR", path));
        EXPECT_EQ(AppState.fileState, FileIoState::Done);
        EXPECT_TRUE(openableExclusively(path));
    }
}

TEST_F(FileSenderTest, TrailerCarriesTheTimesLittleEndian)
{
    std::wstring path = sourceWith("");
    ASSERT_TRUE(setFileTimes(path, fileTimeOf(NewYear2024), fileTimeOf(NewYear2024), fileTimeOf(NewYear2024)));
    std::vector<int> results;
    std::vector<std::string> wire = sendAll(path, BlockKind::FB, &results);
    ASSERT_EQ(wire.size(), 1u);
    const unsigned char expected[8] = {0x00, 0xC0, 0x89, 0x76, 0x45, 0x3C, 0xDA, 0x01};
    ASSERT_EQ(wire[0].size(), 32u);
    EXPECT_EQ(wire[0].substr(0, 8), "FB999999");
    EXPECT_EQ(wire[0].substr(24, 8), std::string(reinterpret_cast<const char *>(expected), 8));
}

// A missing source, a folder or a device is refused before anything is sent, and nothing is created.
TEST_F(FileSenderTest, OnlyAnExistingDiskFileIsSent)
{
    for (const std::wstring &path : {folder + L"\\absent.txt", folder, std::wstring(L"NUL"), std::wstring(L"COM1")}) {
        SCOPED_TRACE(narrow(path));
        wcscpy(AppState.sendSourcePath, path.c_str());
        EXPECT_EQ(sendStep(BlockKind::FB, 0), SendStepStopped);
        EXPECT_TRUE(silentFor(peer.theirs, 50));
    }
    EXPECT_EQ(GetFileAttributesW((folder + L"\\absent.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileSenderTest, ServerSendsBlocksToSlotZero)
{
    PeerHarness other;
    ASSERT_TRUE(openOtherSlot(&peer, &other, 1));
    AppState.mainSocket = other.ours;
    std::wstring path = sourceWith("abc");
    wcscpy(AppState.sendSourcePath, path.c_str());
    EXPECT_EQ(sendStep(BlockKind::FB, 0), SendStepBlockSent);
    EXPECT_EQ(fromUs(&peer), "FB000000abc");
    EXPECT_TRUE(silentFor(other.theirs, 100));
    closePeer(&other);
}

TEST_F(FileSenderTest, SizeLimitIsExactAndCountsTheHighWord)
{
    struct Case {
        unsigned long long size;
        bool accepted;
    };
    const Case cases[] = {{999997000ull, true}, {999997001ull, false}, {4294967396ull, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        clearRecordedBoxes();
        std::wstring path = folder + L"\\sparse.bin";
        ASSERT_TRUE(makeSparseFile(path, c.size));
        wcscpy(AppState.sendSourcePath, path.c_str());
        AppState.transferState = TransferState::CallCopyTO;
        int result = sendStep(BlockKind::FR, 0);
        if (c.accepted) {
            EXPECT_EQ(result, SendStepBlockSent);
            EXPECT_EQ(fromUs(&peer), blockMessage("FR", 0, std::string(1000, '\0')));
            EXPECT_EQ(sendStep(BlockKind::FR, -1), SendStepStopped);
            EXPECT_TRUE(recordedBoxes().empty());
        } else {
            EXPECT_EQ(result, SendStepStopped);
            EXPECT_TRUE(silentFor(peer.theirs, 50));
            EXPECT_TRUE(recordedBoxes().empty());  // never a box on the network thread
            showPendingReports(nullptr);
            std::vector<RecordedBox> boxes = recordedBoxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, L"953Mbyteは出来ません");
            EXPECT_EQ(boxes[0].caption, L"SizeOver");
            EXPECT_EQ(boxes[0].owner, nullptr);
        }
        EXPECT_EQ(AppState.fileState, FileIoState::Done);
        EXPECT_TRUE(openableExclusively(path));
        DeleteFileW(path.c_str());
    }
}

TEST_F(FileSenderTest, OversizedPullIsRefusedWithoutABox)
{
    std::wstring path = folder + L"\\sparse.bin";
    ASSERT_TRUE(makeSparseFile(path, 999997001ull));
    wcscpy(AppState.sendSourcePath, path.c_str());
    AppState.transferState = TransferState::RequestCopyFrom;
    EXPECT_EQ(sendStep(BlockKind::FB, 0), SendStepStopped);
    EXPECT_TRUE(recordedBoxes().empty());
    EXPECT_TRUE(silentFor(peer.theirs, 50));
}

TEST_F(FileSenderTest, LockedSourceIsNotSent)
{
    std::wstring path = sourceWith("locked");
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    wcscpy(AppState.sendSourcePath, path.c_str());
    EXPECT_EQ(sendStep(BlockKind::FR, 0), SendStepStopped);
    EXPECT_EQ(AppState.fileState, FileIoState::Closed);
    EXPECT_TRUE(silentFor(peer.theirs, 50));
    CloseHandle(holder);
}

// A source cut short while it is served (it may be shared with its writer) fails instead of passing the
// shorter file off as the whole one; a failed send closes the source and raises no box.
TEST_F(FileSenderTest, SourceEndingEarlyOrAFailedSendStopsTheTransfer)
{
    std::wstring path = sourceWith(patternBytes(FileBufferBytes + 5000));
    wcscpy(AppState.sendSourcePath, path.c_str());
    ASSERT_EQ(sendStep(BlockKind::FR, 0), SendStepBlockSent);
    fromUs(&peer);
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    LARGE_INTEGER cut;
    cut.QuadPart = 10000;
    ASSERT_TRUE(SetFilePointerEx(writer, cut, nullptr, FILE_BEGIN) && SetEndOfFile(writer));
    CloseHandle(writer);
    int result = SendStepBlockSent;
    int number = 1;
    while (result == SendStepBlockSent && number < 100) {
        result = sendStep(BlockKind::FR, number++);
        if (result == SendStepBlockSent)
            fromUs(&peer);
    }
    EXPECT_EQ(result, SendStepStopped);
    EXPECT_TRUE(sendStepReadFailed());
    EXPECT_EQ(AppState.fileState, FileIoState::Failed);
    EXPECT_TRUE(silentFor(peer.theirs, 50));
    EXPECT_TRUE(openableExclusively(path));

    // Rewritten in place at its old size: every block goes, then no trailer passes the mixture off as the file.
    std::wstring same = sourceWith(patternBytes(2500));
    wcscpy(AppState.sendSourcePath, same.c_str());
    ASSERT_EQ(sendStep(BlockKind::FB, 0), SendStepBlockSent);
    fromUs(&peer);
    writer = CreateFileW(same.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    FILETIME later = localFileTime(2031, 1, 2, 3, 4, 5);
    ASSERT_TRUE(WriteFile(writer, "XYZ", 3, &wrote, nullptr) && SetFileTime(writer, nullptr, nullptr, &later));
    CloseHandle(writer);
    EXPECT_EQ(sendStep(BlockKind::FB, 1), SendStepBlockSent);
    fromUs(&peer);
    EXPECT_EQ(sendStep(BlockKind::FB, 2), SendStepBlockSent);
    fromUs(&peer);
    EXPECT_EQ(sendStep(BlockKind::FB, 3), SendStepStopped);
    EXPECT_TRUE(sendStepReadFailed());
    EXPECT_TRUE(silentFor(peer.theirs, 50));

    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = INVALID_SOCKET;
    EXPECT_EQ(sendStep(BlockKind::FB, 0), SendStepStopped);
    EXPECT_EQ(AppState.fileState, FileIoState::Failed);
    EXPECT_TRUE(openableExclusively(path));
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST(TemporaryNameTest, CutAtTheLastDotOrAppendedToAPathWithoutOne)
{
    struct Case {
        const wchar_t *target;
        const wchar_t *temporary;
    };
    const Case cases[] = {
        {L"C:\\work\\report.txt", L"C:\\work\\report.$TEMP"},
        {L"C:\\a.txt", L"C:\\a.$TEMP"},
        {L"C:\\work\\archive.tar.gz", L"C:\\work\\archive.tar.$TEMP"},
        {L"D:\\old.docs\\README", L"D:\\old.docs\\README.$TEMP"},
        {L"C:\\work\\README", L"C:\\work\\README.$TEMP"},
        {L"C:\\work\\x.$TEMP", L"C:\\work\\x.$TEMP.$TEMP"},
    };
    for (const Case &c : cases) {
        wchar_t out[PathChars];
        wmemset(out, L'#', PathChars);
        EXPECT_TRUE(temporaryNameFor(c.target, out, PathChars)) << narrow(c.target);
        EXPECT_STREQ(out, c.temporary);
        // The fast link's part keeps the whole name, so "a.txt" and "a.doc" never share one.
        ASSERT_TRUE(partNameFor(c.target, out, PathChars));
        EXPECT_EQ(std::wstring(c.target) + L".$TEMP", out);
    }
}

TEST(TemporaryNameTest, NameThatWouldNotFitIsRefusedAndAFastPartIsCutAndMarkedByItsTarget)
{
    // 253 characters with a one-letter extension: the temporary name needs 251 + 6 = 257, which fits.
    std::wstring fits = L"C:\\" + std::wstring(248, L'a') + L".b";
    // Without a dot, 254 characters need 260: one too many.
    std::wstring tooLong = L"C:\\" + std::wstring(251, L'a');
    wchar_t out[PathChars + 8];
    wmemset(out, L'#', COUNTOF(out));
    EXPECT_TRUE(temporaryNameFor(fits.c_str(), out, PathChars));
    EXPECT_EQ(std::wstring(out), fits.substr(0, fits.size() - 2) + L".$TEMP");
    wmemset(out, L'#', COUNTOF(out));
    EXPECT_FALSE(temporaryNameFor(tooLong.c_str(), out, PathChars));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[PathChars - 1], L'#');
    std::wstring justFits = L"C:\\" + std::wstring(250, L'a');
    EXPECT_TRUE(temporaryNameFor(justFits.c_str(), out, PathChars));
    EXPECT_EQ(wcslen(out), 259u);

    // A fast part whose whole name cannot be is cut and marked in its own folder, and two such targets never
    // share one.
    std::wstring folder = L"C:\\";
    std::wstring deep = L"C:\\" + std::wstring(235, L'd') + L"\\";
    // A name of 255 characters, its twin that differs at its end, a Japanese name over 255 UTF-8 bytes, and
    // a path of 259 characters.
    const std::wstring targets[] = {folder + std::wstring(255, L'n'), folder + std::wstring(254, L'n') + L"m",
                                    folder + japaneseName(84) + L".txt", deep + std::wstring(20, L'f')};
    std::vector<std::wstring> parts;
    for (const std::wstring &target : targets) {
        SCOPED_TRACE(narrow(target));
        ASSERT_TRUE(partNameFor(target.c_str(), out, PathChars));
        std::wstring part = out;
        size_t nameStart = target.rfind(L'\\') + 1;
        EXPECT_EQ(target.substr(0, nameStart + 3), part.substr(0, nameStart + 3));
        EXPECT_EQ(std::wstring::npos, part.find(L'\\', nameStart));
        EXPECT_EQ(L".$TEMP", part.substr(part.size() - 6));
        std::string name = narrow(part.substr(nameStart));
        EXPECT_LE(name.size() + 2, 255u) << "room for the resume record's suffix";
        EXPECT_LE(part.size() + 2, 259u);
        parts.push_back(part);
    }
    EXPECT_NE(parts[0], parts[1]);
    // Nothing fits beside a folder that leaves no room for the mark and the suffix.
    EXPECT_FALSE(partNameFor((L"C:\\" + std::wstring(245, L'd') + L"\\fff").c_str(), out, PathChars));
}

class FileReceiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        recordBoxes();
        folder = makeTempFolder(L"pwrecv");
        ASSERT_FALSE(folder.empty());
        target = folder + L"\\report.txt";
        temporary = folder + L"\\report.$TEMP";
        targetA = ansiPath(target);
    }
    void TearDown() override
    {
        abandonTransferFile();
        removeTree(folder);
    }
    int write(int number, const std::string &data)
    {
        return writeStep(targetA.c_str(), data.data(), static_cast<int>(data.size()), number);
    }
    int finish(const std::string &target)
    {
        std::string trailer = senderTrailer("FR");
        return writeStep(target.c_str(), trailer.data() + 8, 24, TrailerNumber);
    }
    int finish() { return finish(targetA); }

    std::wstring folder, target, temporary;
    std::string targetA;
};

TEST_F(FileReceiverTest, BlocksGrowTheTemporaryFileUntilTheTrailerReplacesTheTarget)
{
    ASSERT_TRUE(writeFileBytes(target, "old contents"));
    EXPECT_EQ(write(0, "first "), WriteStepBlockWritten);
    EXPECT_EQ(write(1, "second "), WriteStepBlockWritten);
    EXPECT_EQ(write(2, "third"), WriteStepBlockWritten);
    EXPECT_EQ(AppState.fileState, FileIoState::Open);
    expectFileBytes(target, "old contents");
    EXPECT_TRUE(fileExists(temporary));
    EXPECT_EQ(finish(), WriteStepFinished);
    EXPECT_EQ(AppState.fileState, FileIoState::Done);
    EXPECT_FALSE(fileExists(temporary));
    expectSenderTimes(target);
    expectFileBytes(target, "first second third");
    EXPECT_EQ(GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY),
              0u);
}

// Any block number but the next one ends the transfer: a block from another transfer is never placed.
TEST_F(FileReceiverTest, ABlockOutOfOrderFailsTheTransfer)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    for (int wrong : {2, 0, -7, TrailerNumber + 1}) {
        SCOPED_TRACE(wrong);
        ASSERT_EQ(write(0, "a"), WriteStepBlockWritten);
        EXPECT_EQ(write(wrong, "x"), WriteStepFailed);
        EXPECT_NE(AppState.fileState, FileIoState::Open);
        EXPECT_FALSE(fileExists(temporary));
        expectFileBytes(target, "old");
    }
}

// A target that cannot be replaced (held open, or read-only) keeps its old contents, no temporary file stays,
// and the trailer reports the failure.
TEST_F(FileReceiverTest, ATargetThatCannotBeReplacedIsKeptAndReported)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(write(0, "new"), WriteStepBlockWritten);
    EXPECT_EQ(finish(), WriteStepFailed);
    CloseHandle(holder);
    expectFileBytes(target, "old");
    EXPECT_FALSE(fileExists(temporary));

    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(write(0, "new"), WriteStepBlockWritten);
    EXPECT_EQ(finish(), WriteStepFailed);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    expectFileBytes(target, "old");
    EXPECT_FALSE(fileExists(temporary));
}

TEST_F(FileReceiverTest, AbortDeletesTheTemporaryFileAndLeavesTheTarget)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    EXPECT_EQ(write(0, "new data"), WriteStepBlockWritten);
    EXPECT_EQ(writeStep(targetA.c_str(), nullptr, 0, -1), WriteStepFailed);
    EXPECT_EQ(AppState.fileState, FileIoState::Done);
    EXPECT_FALSE(fileExists(temporary));
    expectFileBytes(target, "old");
    // Nothing is open any more: a later block writes nothing.
    EXPECT_EQ(write(1, "late"), 0);
    EXPECT_FALSE(fileExists(temporary));
}

TEST_F(FileReceiverTest, AbandonClosesAndDeletesWhatAnUnfinishedTransferLeft)
{
    EXPECT_EQ(write(0, "partial"), 1);
    abandonTransferFile();
    EXPECT_NE(AppState.fileState, FileIoState::Open);
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_FALSE(fileExists(target));
    // A source being sent is closed but never deleted.
    std::wstring source = folder + L"\\source.txt";
    ASSERT_TRUE(writeFileBytes(source, "keep me"));
    AppState.fileHandle = CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    AppState.fileState = FileIoState::Open;
    abandonTransferFile();
    EXPECT_NE(AppState.fileState, FileIoState::Open);
    EXPECT_TRUE(openableExclusively(source));
}

TEST_F(FileReceiverTest, StaleLongerTemporaryFileIsTruncated)
{
    ASSERT_TRUE(writeFileBytes(temporary, std::string(5000, 'S')));
    EXPECT_EQ(write(0, "short"), 1);
    EXPECT_EQ(finish(), WriteStepFinished);
    expectFileBytes(target, "short");
}

TEST_F(FileReceiverTest, TrailerWithoutBlockZeroCreatesAnEmptyFileWithTheTimes)
{
    ASSERT_TRUE(writeFileBytes(target, "previous"));
    EXPECT_EQ(finish(), WriteStepFinished);
    expectSenderTimes(target);
    expectFileBytes(target, "");
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_EQ(AppState.fileState, FileIoState::Done);
}

TEST_F(FileReceiverTest, ZeroTimesInTheTrailerLeaveTheFilesOwnTimes)
{
    // A sender that cannot read its times sends zeros; the file must not be dated 1601.
    EXPECT_EQ(write(0, "data"), 1);
    std::string zeros(24, '\0');
    EXPECT_EQ(writeStep(targetA.c_str(), zeros.data(), 24, TrailerNumber), WriteStepFinished);
    FILETIME created, accessed, written;
    ASSERT_TRUE(getFileTimes(target, &created, &accessed, &written));
    EXPECT_GT(fileTimeValue(written), NewYear2024);
    EXPECT_GT(fileTimeValue(accessed), NewYear2024);
}

TEST_F(FileReceiverTest, ATrailerNeverFinishesAnEarlierTransfersFile)
{
    // Transfer 1 is abandoned mid-way; transfer 2 is an empty file to another target.
    EXPECT_EQ(write(0, "from transfer one"), 1);
    abandonTransferFile();
    std::wstring second = folder + L"\\other.dat";
    EXPECT_EQ(finish(ansiPath(second)), WriteStepFinished);
    EXPECT_FALSE(fileExists(target));
    EXPECT_FALSE(fileExists(temporary));
    expectFileBytes(second, "");
}

TEST_F(FileReceiverTest, OpenFailuresCreateNothing)
{
    std::string missingFolder = ansiPath(folder + L"\\nofolder\\x.txt");
    EXPECT_EQ(writeStep(missingFolder.c_str(), "a", 1, 0), 0);
    EXPECT_EQ(AppState.fileState, FileIoState::Closed);
    // A target whose temporary name would not fit 259 characters.
    std::string longA = ansiPath(folder + L"\\") + std::string(259 - ansiPath(folder + L"\\").size(), 'n');
    ASSERT_EQ(longA.size(), 259u);
    EXPECT_EQ(writeStep(longA.c_str(), "a", 1, 0), 0);
    EXPECT_EQ(AppState.fileState, FileIoState::Closed);
    // The temporary name held open elsewhere.
    HANDLE holder = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(write(0, "x"), 0);
    EXPECT_EQ(AppState.fileState, FileIoState::Closed);
    CloseHandle(holder);
    EXPECT_FALSE(fileExists(target));
    // A device answers to any folder: never a target, though no file of its name is there.
    for (const wchar_t *name : {L"NUL", L"nul.txt", L"COM1"})
        EXPECT_FALSE(canReceiveInto((folder + L"\\" + name).c_str())) << narrow(name);
    EXPECT_TRUE(canReceiveInto((folder + L"\\absent.txt").c_str()));
}

} // namespace
