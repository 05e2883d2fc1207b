// Files: create, write, read, size, delete, access rules and limits.
#include "device_protocol.h"
#include "rig_fixture.h"

namespace tokensim::test {
namespace {

class FileTest : public RigTest {
 protected:
  void SetUp() override {
    RigTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    StartRig({InitialisedToken({"--capacity", "600"})});
    if (IsSkipped() || HasFatalFailure()) return;
    c_ = Connect();
    s_ = c_->OpenSession();
  }
  uint8_t Status(uint8_t command, const Bytes& fields) { return c_->Command(command, Concat({s_, fields})).status; }
  Bytes Write(uint8_t id, uint16_t offset, const Bytes& data) { return Concat({{id}, U16(offset), Short(data)}); }
  Bytes Read(uint8_t id, uint16_t offset, uint8_t n) { return Concat({{id}, U16(offset), {n}}); }

  std::unique_ptr<PcscClient> c_;
  Bytes s_;
};

TEST_F(FileTest, WrittenBytesReadBackInChunks) {
  ASSERT_EQ(Status(cmd::kCreateFile, {0x7E}), 0);
  EXPECT_EQ(c_->Command(cmd::kGetFileSize, Concat({s_, {0x7E}})).fields, U16(0));
  Bytes first(192), second(16);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(0xF0 + i);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(0x7E, 0, first)), 0);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(0x7E, 192, second)), 0);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(0x7E, 2, {0xAA})), 0) << "overwrite in place";
  EXPECT_EQ(c_->Command(cmd::kGetFileSize, Concat({s_, {0x7E}})).fields, U16(208));
  Bytes tail = c_->Command(cmd::kReadFile, Concat({s_, Read(0x7E, 190, 18)})).fields;
  EXPECT_EQ(ToHex(tail), "BEBF" + ToHex(second));
  EXPECT_EQ(c_->Command(cmd::kReadFile, Concat({s_, Read(0x7E, 0, 4)})).fields, Bytes({0, 1, 0xAA, 3}));
  ASSERT_EQ(Status(cmd::kDeleteFile, {0x7E}), 0);
  EXPECT_EQ(Status(cmd::kGetFileSize, {0x7E}), st::kFileNotFound);
}

struct FileErrorCase {
  const char* name;
  uint8_t command;
  Bytes fields;  // after the session
  uint8_t status;
};

TEST_F(FileTest, RefusedFileOperations) {
  ASSERT_EQ(Status(cmd::kCreateFile, {1}), 0);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(1, 0, Bytes(10, 1))), 0);
  const FileErrorCase cases[] = {
      {"create existing", cmd::kCreateFile, {1}, st::kFileExists},
      {"delete missing", cmd::kDeleteFile, {2}, st::kFileNotFound},
      {"read missing", cmd::kReadFile, Read(2, 0, 1), st::kFileNotFound},
      {"write missing", cmd::kWriteFile, Write(2, 0, {1}), st::kFileNotFound},
      {"write leaving a hole", cmd::kWriteFile, Write(1, 11, {1}), st::kInvalidOffset},
      {"read past the end", cmd::kReadFile, Read(1, 5, 6), st::kInvalidOffset},
      {"write far past the end", cmd::kWriteFile, Write(1, 65535, {1}), st::kInvalidOffset},
      {"private file without login", cmd::kCreateFile, {128}, st::kNotAuthorized},
      {"private index without login", cmd::kGetFileSize, {0xB3}, st::kNotAuthorized},
      {"key slot is no file", cmd::kCreateFile, {200}, st::kNotAuthorized},
      {"beyond the key slots", cmd::kCreateFile, {241}, st::kBadFileIndex},
  };
  for (const FileErrorCase& c : cases) EXPECT_EQ(Status(c.command, c.fields), c.status) << c.name;

  ASSERT_EQ(c_->Command(cmd::kLogin, Concat({s_, Short("12345678")})).status, 0);
  EXPECT_EQ(Status(cmd::kCreateFile, {128}), 0) << "private file with login";
  EXPECT_EQ(Status(cmd::kCreateFile, {200}), st::kBadFileIndex);
  EXPECT_EQ(Status(cmd::kDeleteFile, {200}), st::kFileNotFound) << "empty key slot";
}

TEST_F(FileTest, CapacityAndFileSizeLimits) {
  ASSERT_EQ(Status(cmd::kCreateFile, {3}), 0);
  Bytes chunk(200, 7);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(3, 0, chunk)), 0);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(3, 200, chunk)), 0);
  ASSERT_EQ(Status(cmd::kWriteFile, Write(3, 400, chunk)), 0);
  EXPECT_EQ(Status(cmd::kWriteFile, Write(3, 600, {1})), st::kInsufficientSpace);
  EXPECT_EQ(Status(cmd::kWriteFile, Write(3, 599, {1, 2})), st::kInsufficientSpace);
  EXPECT_EQ(Status(cmd::kWriteFile, Write(3, 0, chunk)), 0) << "rewriting needs no space";
  ASSERT_EQ(Status(cmd::kDeleteFile, {3}), 0);
  ASSERT_EQ(Status(cmd::kCreateFile, {4}), 0);
  EXPECT_EQ(Status(cmd::kWriteFile, Write(4, 0, chunk)), 0) << "deleting gives the space back";
}

}  // namespace
}  // namespace tokensim::test
