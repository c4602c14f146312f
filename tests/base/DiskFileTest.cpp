// DiskFile on real files: open modes, the line reader at block edges, writes, positions and mapped views.
#include "base/DiskFile.h"
#include "base/TextString.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
// Every line the reader produces, until it reports the end.
std::vector<std::string> ReadAllLines(DiskFile &file, int wideUnits = 0, wchar_t quote = 0) {
    std::vector<std::string> lines;
    TextString line;
    while (file.ReadLine(line, wideUnits, quote) && lines.size() < 100000)
        lines.push_back(std::string(line.Text(), line.Length()));
    return lines;
}

std::string Pattern(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

class DiskFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.Valid()); }
    std::string Write(const char *name, const std::string &content) {
        EXPECT_EQ(1, folder_.WriteFile(name, content));
        return folder_.File(name);
    }
    TempFolder folder_{"DiskFile"};
};
} // namespace

// --- the line reader -------------------------------------------------------------------------------

TEST_F(DiskFileTest, LineLongerThanTheBufferComesBackWhole) {
    std::string longLine = Pattern(5000);
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("long.txt", longLine + "\r\ntail\n").c_str(), 0, 0, FILE_SHARE_READ));
    std::vector<std::string> lines = ReadAllLines(file);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(longLine, lines[0]);
    EXPECT_EQ("tail", lines[1]);
}

TEST_F(DiskFileTest, LineEndsExactlyAtTheBlockEdges) {
    // LF as the first byte of the second block, and a CR LF split between the blocks.
    std::string full = Pattern(DiskFile::LineBufferSize);
    std::string almost = Pattern(DiskFile::LineBufferSize - 1);
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("edge1.txt", full + "\nnext").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{full, "next"}), ReadAllLines(file));
    ASSERT_EQ(1, file.Open(Write("edge2.txt", almost + "\r\nnext\r\n").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{almost, "next"}), ReadAllLines(file));
}

TEST_F(DiskFileTest, LastLineWithoutLineEndIsReturnedThenTheEnd) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("last.txt", "one\ntwo").c_str(), 0, 0, FILE_SHARE_READ));
    TextString line;
    EXPECT_EQ(1, file.ReadLine(line, 0, 0));
    EXPECT_STREQ("one", line.Text());
    EXPECT_EQ(1, file.ReadLine(line, 0, 0));
    EXPECT_STREQ("two", line.Text());
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
    EXPECT_EQ(0, line.Length());
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
}

TEST_F(DiskFileTest, EmptyLinesInsideTheFileAreLinesOfTheirOwn) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("empty-lines.txt", "a\n\n\r\nb\n").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{"a", "", "", "b"}), ReadAllLines(file));
}

TEST_F(DiskFileTest, EmptyFileHasNoLine) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("empty.txt", "").c_str(), 0, 0, FILE_SHARE_READ));
    TextString line;
    line.Assign("stale");
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
    EXPECT_EQ(0, line.Length());
}

TEST_F(DiskFileTest, CarriageReturnsAreDroppedOutsideQuotesOnly) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("quotes.txt", "a\rb\n\"x\r\ny\"z\nlast").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{"ab", "\"x\r\ny\"z", "last"}), ReadAllLines(file, 0, L'"'));
}

TEST_F(DiskFileTest, WithoutQuoteCharacterNulBytesNeitherQuoteNorCut) {
    DiskFile file;
    ASSERT_EQ(
        1, file.Open(Write("zero-bytes.bin", std::string("a\0b\nc\0\n", 7)).c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{"ab", "c"}), ReadAllLines(file));
}

TEST_F(DiskFileTest, EightBitUnitsKeepTheirBytes) {
    // The file is text in the system code page already; no byte may be re-encoded.
    std::string text = "caf\xE9 \x80\x9F\xFF\x81";
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("ansi.txt", text + "\r\n").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{text}), ReadAllLines(file));
}

TEST_F(DiskFileTest, SixteenBitUnitsAreConvertedAndAStrayByteIsDropped) {
    const wchar_t wide[] = L"ab\r\ncd\x00E9";
    std::string bytes(reinterpret_cast<const char *>(wide), (sizeof(wide) - sizeof(wchar_t)));
    bytes += 'Z'; // half a unit
    char converted[8] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, L"cd\x00E9", -1, converted, sizeof(converted), nullptr, nullptr),
              0);
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("wide.txt", bytes).c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{"ab", converted}), ReadAllLines(file, 1, 0));
}

// Characters with a non-zero high byte on both sides of the 4096-byte block edge, in both byte orders: a
// reader that lost the high byte or the unit split by the edge would change the line.
TEST_F(DiskFileTest, SixteenBitLineAcrossBlocksKeepsEveryUnit) {
    const wchar_t kNonLatin[] = {0x20AC, 0x0160, 0x4E2D, 0x0416, 0x2030, 0x0178};
    for (int bigEndian = 0; bigEndian < 2; ++bigEndian) {
        for (size_t edge : {2047u, 2048u, 2049u}) {
            std::wstring line;
            for (size_t i = 0; i < 3000; ++i)
                line +=
                    (i + 3 >= edge && i <= edge + 3) ? kNonLatin[i % 6] : static_cast<wchar_t>(L'A' + i % 26);
            const std::wstring content = line + L"\n" + L"end";
            std::string bytes;
            for (wchar_t unit : content) {
                const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
                bytes += bigEndian ? high : low;
                bytes += bigEndian ? low : high;
            }
            std::string expected(line.size() * 2, '\0');
            expected.resize(WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                                &expected[0], static_cast<int>(expected.size()), nullptr,
                                                nullptr));
            DiskFile file;
            ASSERT_EQ(1, file.Open(Write("wide-long.txt", bytes).c_str(), 0, 0, FILE_SHARE_READ));
            const std::vector<std::string> lines =
                ReadAllLines(file, bigEndian ? DiskFile::Utf16BigEndianUnits : DiskFile::Utf16Units, 0);
            ASSERT_EQ(2u, lines.size());
            EXPECT_EQ(expected, lines[0]) << "big-endian " << bigEndian << ", edge at unit " << edge;
            EXPECT_EQ("end", lines[1]);
        }
    }
}

TEST_F(DiskFileTest, OpenStartsTheReaderAfresh) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("first.txt", "1a\n1b\n").c_str(), 0, 0, FILE_SHARE_READ));
    TextString line;
    ASSERT_EQ(1, file.ReadLine(line, 0, 0));
    ASSERT_EQ(1, file.Open(Write("second.txt", "2a\n").c_str(), 0, 0, FILE_SHARE_READ));
    EXPECT_EQ((std::vector<std::string>{"2a"}), ReadAllLines(file));
    file.Close();
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
}

// --- open modes ------------------------------------------------------------------------------------

TEST_F(DiskFileTest, ModesCreateTruncateOrRequireTheFile) {
    struct Case {
        uint32_t mode;
        int opensMissing;
        int truncates;
    };
    const Case cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 0, 0}, {3, 1, 0}, {4, 1, 0}, {5, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        std::string missing = folder_.File(("missing" + std::to_string(c.mode)).c_str());
        DiskFile file;
        EXPECT_EQ(c.opensMissing, file.Open(missing.c_str(), c.mode, 0, 0));
        EXPECT_EQ(c.opensMissing != 0, GetFileAttributesA(missing.c_str()) != INVALID_FILE_ATTRIBUTES);
        std::string existing = Write(("existing" + std::to_string(c.mode)).c_str(), "12345");
        ASSERT_EQ(1, file.Open(existing.c_str(), c.mode, 0, 0));
        EXPECT_EQ(c.truncates ? 0u : 5u, file.Size());
    }
}

TEST_F(DiskFileTest, AccessFollowsTheMode) {
    std::string name = Write("access.txt", "line\n");
    DiskFile file;
    uint32_t written = 99;
    ASSERT_EQ(1, file.Open(name.c_str(), DiskFile::ReadExisting, 0, 0));
    EXPECT_EQ(0, file.Write(3, &written, "abc"));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(0, file.Write(3, nullptr, "abc"));
    ASSERT_EQ(1, file.Open(name.c_str(), DiskFile::WriteExisting, 0, 0));
    TextString line;
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
}

TEST_F(DiskFileTest, UnknownModeFailsAndReleasesThePreviousFile) {
    std::string name = Write("mode.txt", "x");
    DiskFile file;
    ASSERT_EQ(1, file.Open(name.c_str(), 0, 0, 0));
    EXPECT_EQ(0, file.Open(name.c_str(), 6, 0, 0));
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    // The first handle is really gone: an exclusive open succeeds now.
    HANDLE exclusive = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive);
    if (exclusive != INVALID_HANDLE_VALUE)
        CloseHandle(exclusive);
}

TEST_F(DiskFileTest, ShareModeIsPassedOn) {
    std::string name = Write("share.txt", "x");
    DiskFile shared, second;
    ASSERT_EQ(1, shared.Open(name.c_str(), 0, 0, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(1, second.Open(name.c_str(), 4, 0, FILE_SHARE_READ | FILE_SHARE_WRITE));
    DiskFile exclusive;
    ASSERT_EQ(1, exclusive.Open(folder_.File("exclusive.txt").c_str(), 1, 0, 0));
    EXPECT_EQ(0,
              second.Open(folder_.File("exclusive.txt").c_str(), 0, 0, FILE_SHARE_READ | FILE_SHARE_WRITE));
}

// --- writing ---------------------------------------------------------------------------------------

TEST_F(DiskFileTest, WriteReportsTheCountWhenAskedFor) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(folder_.File("write.bin").c_str(), 1, 0, 0));
    uint32_t written = 0;
    EXPECT_EQ(1, file.Write(5, &written, "hello"));
    EXPECT_EQ(5u, written);
    EXPECT_EQ(1, file.Write(6, nullptr, " world"));
    file.Close();
    EXPECT_EQ("hello world", folder_.ReadFile("write.bin"));
}

TEST_F(DiskFileTest, NothingOpenNothingWritten) {
    DiskFile file;
    uint32_t written = 7;
    EXPECT_EQ(0, file.Write(1, &written, "x"));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(0, file.WriteChunks(1, "x"));
}

TEST_F(DiskFileTest, ChunkedWriteStoresEveryByteInOrder) {
    std::string data(10 * DiskFile::WriteChunkSize + 123, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    DiskFile file;
    ASSERT_EQ(1, file.Open(folder_.File("chunks.bin").c_str(), 1, 0, 0));
    EXPECT_EQ(1, file.WriteChunks(static_cast<uint32_t>(data.size()), data.data()));
    EXPECT_EQ(data.size(), file.Size());
    file.Close();
    EXPECT_TRUE(folder_.ReadFile("chunks.bin") == data);
}

TEST_F(DiskFileTest, ChunkedWriteFailsAtTheFirstRefusedChunk) {
    std::string name = Write("readonly.bin", "x");
    DiskFile file;
    ASSERT_EQ(1, file.Open(name.c_str(), 0, 0, 0));
    std::string data(3 * 1024, 'y');
    EXPECT_EQ(0, file.WriteChunks(static_cast<uint32_t>(data.size()), data.data(), 1024));
}

namespace {
struct PipeReader {
    HANDLE pipe;
    std::vector<DWORD> messages;
    std::string content;
};

DWORD WINAPI ReadMessages(void *parameter) {
    PipeReader *reader = static_cast<PipeReader *>(parameter);
    if (!ConnectNamedPipe(reader->pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
        return 1;
    std::vector<char> buffer(4 * DiskFile::WriteChunkSize);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(reader->pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE ? 0 : 2;
        reader->messages.push_back(got);
        reader->content.append(buffer.data(), got);
    }
}
} // namespace

// A message-mode pipe keeps the boundaries of every WriteFile, so the chunks can be counted.
TEST_F(DiskFileTest, ChunksAreAtMostOneMebibyteEach) {
    char name[96];
    wsprintfA(name, "\\\\.\\pipe\\TarvexDiskFileTest-%lu", GetCurrentProcessId());
    PipeReader reader;
    reader.pipe =
        CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                         0, 4 * DiskFile::WriteChunkSize, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader.pipe);
    HANDLE thread = CreateThread(nullptr, 0, ReadMessages, &reader, 0, nullptr);
    ASSERT_NE(nullptr, thread);

    std::string data(2 * DiskFile::WriteChunkSize + DiskFile::WriteChunkSize / 2, 'q');
    data[0] = 'A';
    data[data.size() - 1] = 'Z';
    {
        DiskFile file;
        ASSERT_EQ(1, file.Open(name, DiskFile::WriteExisting, 0, 0));
        // A chunk size above the limit is held to the limit.
        EXPECT_EQ(1, file.WriteChunks(static_cast<uint32_t>(data.size()), data.data(),
                                      8 * DiskFile::WriteChunkSize));
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
    DWORD exitCode = 99;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    CloseHandle(reader.pipe);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ((std::vector<DWORD>{DiskFile::WriteChunkSize, DiskFile::WriteChunkSize,
                                  DiskFile::WriteChunkSize / 2}),
              reader.messages);
    EXPECT_TRUE(reader.content == data);
}

// --- size, position, end ---------------------------------------------------------------------------

TEST_F(DiskFileTest, SeekAndSetEndCutTheFile) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(folder_.File("cut.bin").c_str(), 4, 0, 0));
    ASSERT_EQ(1, file.Write(10, nullptr, "0123456789"));
    EXPECT_EQ(1, file.Seek(FILE_BEGIN, 4));
    EXPECT_EQ(1, file.SetEnd());
    EXPECT_EQ(4u, file.Size());
    EXPECT_EQ(1, file.Seek(FILE_END, -2));
    EXPECT_EQ(1, file.Write(1, nullptr, "X"));
    file.Close();
    EXPECT_EQ("01X3", folder_.ReadFile("cut.bin"));
}

TEST_F(DiskFileTest, PositionThatLooksLikeTheErrorValueIsLegal) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(folder_.File("far.bin").c_str(), 4, 0, 0));
    SetLastError(ERROR_ACCESS_DENIED); // left over from some earlier call
    EXPECT_EQ(1, file.Seek(FILE_BEGIN, 0xFFFFFFFFll));
    LONG high = 0;
    EXPECT_EQ(0xFFFFFFFFu, SetFilePointer(file.Handle(), 0, &high, FILE_CURRENT));
    EXPECT_EQ(0, high);
}

TEST_F(DiskFileTest, NegativePositionFails) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(folder_.File("neg.bin").c_str(), 4, 0, 0));
    EXPECT_EQ(0, file.Seek(FILE_BEGIN, -1));
}

TEST_F(DiskFileTest, ClosedFileAnswersZero) {
    DiskFile file;
    EXPECT_EQ(0u, file.Size());
    EXPECT_EQ(0, file.Seek(FILE_BEGIN, 0));
    EXPECT_EQ(0, file.SetEnd());
    EXPECT_EQ(0, file.Close());
    ASSERT_EQ(1, file.Open(Write("close.txt", "x").c_str(), 0, 0, 0));
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ(0, file.Close());
}

// --- mapped views ----------------------------------------------------------------------------------

TEST_F(DiskFileTest, ReadModeMapsReadOnly) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("map-read.txt", "mapped text").c_str(), 0, 0, FILE_SHARE_READ));
    const char *view = static_cast<const char *>(file.MapView(0, 0, nullptr, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(0, memcmp(view, "mapped text", 11));
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(0u, VirtualQuery(view, &info, sizeof(info)));
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), info.Protect);
}

TEST_F(DiskFileTest, WriteModeMapsWritableAndChangesReachTheFile) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("map-write.txt", "abcdef").c_str(), 5, 0, 0));
    char *view = static_cast<char *>(file.MapView(0, 0, nullptr, 0));
    ASSERT_NE(nullptr, view);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(0u, VirtualQuery(view, &info, sizeof(info)));
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.Protect);
    view[0] = 'X';
    EXPECT_EQ(1, file.Close());
    EXPECT_EQ("Xbcdef", folder_.ReadFile("map-write.txt"));
}

TEST_F(DiskFileTest, SecondViewReplacesTheFirst) {
    std::string content(128 * 1024, 'a');
    content[64 * 1024] = 'B';
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("map-two.bin", content).c_str(), 0, 0, 0));
    // The first call sizes the mapping, so it takes the whole file.
    void *first = file.MapView(0, 0, nullptr, 0);
    ASSERT_NE(nullptr, first);
    const char *second = static_cast<const char *>(file.MapView(64 * 1024, 4096, nullptr, 0));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ('B', second[0]);
    EXPECT_EQ(second, file.View());
    if (first != second) {
        MEMORY_BASIC_INFORMATION info;
        ASSERT_NE(0u, VirtualQuery(first, &info, sizeof(info)));
        EXPECT_EQ(static_cast<DWORD>(MEM_FREE), info.State);
    }
}

TEST_F(DiskFileTest, NamedMappingIsOpenedWithTheGivenAccess) {
    char name[64];
    wsprintfA(name, "TarvexDiskFileTest-%lu", GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
    ASSERT_NE(nullptr, mapping);
    char *writer = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(nullptr, writer);
    strcpy(writer, "shared");
    {
        DiskFile file;
        const char *view = static_cast<const char *>(file.MapView(0, 0, name, FILE_MAP_READ));
        ASSERT_NE(nullptr, view);
        EXPECT_STREQ("shared", view);
        MEMORY_BASIC_INFORMATION info;
        ASSERT_NE(0u, VirtualQuery(view, &info, sizeof(info)));
        EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), info.Protect);
    }
    UnmapViewOfFile(writer);
    CloseHandle(mapping);
}

TEST_F(DiskFileTest, FailedMappingClosesEverything) {
    DiskFile file;
    ASSERT_EQ(1, file.Open(Write("map-empty.txt", "").c_str(), 0, 0, 0));
    EXPECT_EQ(nullptr, file.MapView(0, 0, nullptr, 0)); // an empty file cannot be mapped
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    DiskFile unopened;
    EXPECT_EQ(nullptr, unopened.MapView(0, 4096, nullptr, 0));
}

// --- forced deletion -------------------------------------------------------------------------------

TEST_F(DiskFileTest, ForcedDeletionClearsProtectiveAttributes) {
    std::string name = Write("protected.txt", "x");
    ASSERT_TRUE(SetFileAttributesA(name.c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_FALSE(DeleteFileA(name.c_str()));
    EXPECT_EQ(1, DeleteFileForced(name.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name.c_str()));
    EXPECT_EQ(0, DeleteFileForced(name.c_str()));
    EXPECT_EQ(0, DeleteFileForced(nullptr));
}
