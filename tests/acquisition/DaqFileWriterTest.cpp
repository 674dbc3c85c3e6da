#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "acquisition/DaqFileWriter.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

void writeBytes(const std::string& path, size_t n, char fill) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> bytes(n, fill);
    out.write(bytes.data(), static_cast<std::streamsize>(n));
}

std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(DaqFileWriter, CreatesThenAppendsAndCutsAPartialLastRecord) {
    nimbra::test::TempDir dir;
    std::string path = dir.file("daqclr_0.bin");
    std::string reason;
    {
        DaqFileWriter file;
        ASSERT_TRUE(file.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason)) << reason;
        std::vector<char> record(1024, 'a');
        ASSERT_TRUE(file.append(record.data(), record.size(), reason));
        ASSERT_TRUE(file.close(reason));
    }
    // A run killed in mid-write left 300 bytes of a record behind.
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << std::string(300, 'x');
    }
    DaqFileWriter file;
    ASSERT_TRUE(file.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason)) << reason;
    EXPECT_EQ(file.size(), 1024u);
    std::vector<char> record(1024, 'b');
    ASSERT_TRUE(file.append(record.data(), record.size(), reason));
    ASSERT_TRUE(file.close(reason));
    auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(bytes[1023], 'a');
    EXPECT_EQ(bytes[1024], 'b');

    // The raw stream has no records to keep aligned: its tail stays.
    std::string raw = dir.file("daq.bin");
    writeBytes(raw, 1001, 'r');
    DaqFileWriter rawFile;
    ASSERT_TRUE(rawFile.open(raw, DaqFileWriter::Sharing::DenyWriters, 0, reason));
    EXPECT_EQ(rawFile.size(), 1001u);
}

TEST(DaqFileWriter, SecondWriterIsRefusedUntilTheFirstCloses) {
    nimbra::test::TempDir dir;
    std::string path = dir.file("f.bin");
    std::string reason;
    DaqFileWriter first;
    ASSERT_TRUE(first.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    DaqFileWriter second;
    EXPECT_FALSE(second.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    EXPECT_FALSE(reason.empty());
    ASSERT_TRUE(first.close(reason));
    EXPECT_TRUE(second.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason));

    // The clean file of the older layout is shared.
    std::string clean = dir.file("clean.bin");
    DaqFileWriter a, b;
    ASSERT_TRUE(a.open(clean, DaqFileWriter::Sharing::Shared, 2048, reason));
    EXPECT_TRUE(b.open(clean, DaqFileWriter::Sharing::Shared, 2048, reason));
}

TEST(DaqFileWriter, FullDeviceFailsTheAppendWithTheSystemReason) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    nimbra::test::TempDir dir;
    std::string path = dir.file("full.bin");
    fs::create_symlink("/dev/full", path);
    DaqFileWriter file;
    std::string reason;
    ASSERT_TRUE(file.open(path, DaqFileWriter::Sharing::DenyWriters, 1024, reason)) << reason;
    std::vector<char> record(1024, 'a');
    EXPECT_FALSE(file.append(record.data(), record.size(), reason));
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_EQ(daqWriteFailedMessage(path, reason),
              "Can't write file: " + path + "\nNo space left on device");
}

TEST(DaqFileWriter, MissingFolderCannotBeOpened) {
    DaqFileWriter file;
    std::string reason;
    EXPECT_FALSE(
        file.open("/nonexistent-folder/x.bin", DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    EXPECT_EQ(reason, "No such file or directory");
}

}  // namespace
}  // namespace tarvo
