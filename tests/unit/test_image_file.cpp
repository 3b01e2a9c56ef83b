// The image-file reader: size limit, zero padding, partial reads, the magic in
// both byte orders, the identity and MAC offsets, short and missing files, and
// the message of each refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"

#include "adapter/image_file.h"
#include "run/runflags.h"

namespace {

// An image of size bytes (cut wherever it ends): the magic (or its bytes
// swapped), identity 1234-ABCD-5678-0002 in the image's order (subsystem ID
// before subsystem vendor ID) and MAC 0A1B2C3D4E5F.
std::string Image(size_t size, bool swapped = false) {
    std::string image(1024, '\0');
    const char *magic = swapped ? "\xAA\x55\x99\x66" : "\x66\x99\x55\xAA";
    image.replace(0, 4, magic, 4);
    image.replace(260, 8, "\x12\x34\xAB\xCD\x00\x02\x56\x78", 8);
    image.replace(310, 6, "\x0A\x1B\x2C\x3D\x4E\x5F", 6);
    image.resize(size, '\0');
    return image;
}

struct Row {
    const char *what;
    std::string content; // the file; see missing
    bool missing;
    bool whole_image; // ReadImageIdentity; else UtilReadFileMemAlloc(offset, length)
    uint32_t offset, length;
    int result;
    const char *out; // {path} stands for the file's path
    const char *err;
};

std::string Fill(const std::string &path, const char *text) {
    std::string s = text;
    for (size_t at = s.find("{path}"); at != std::string::npos; at = s.find("{path}")) {
        s.replace(at, 6, path);
    }
    return s;
}

TEST(ImageFile, Reader) {
    const std::string ten = "0123456789";
    const Row rows[] = {
        {"exactly 1 MiB", Image(1048576), false, true, 0, 0, 1, "", ""},
        {"1 MiB and one byte, even for four bytes of it", Image(1048577), false, false, 0, 4, 0,
         "File size 1048577 is too big, max is 1048576!\r\n", ""},
        {"empty file: zeros fail the magic", "", false, true, 0, 0, 0, "",
         "Image file did not match magic value.\r\n"},
        {"magic in the other byte order", Image(1024, true), false, true, 0, 0, 0, "",
         "Image file did not match magic value.\r\n"},
        {"315 bytes: ends inside the MAC", Image(315), false, true, 0, 0, 0, "",
         "Image file is too short.\r\n"},
        {"316 bytes: the whole identity", Image(316), false, true, 0, 0, 1, "", ""},
        {"missing file", "", true, true, 0, 0, 0, "Failed to read file ({path}) into memory!\r\n",
         "UtilReadFileMemAlloc() open() {path} failed 2\r\n"},
        {"offset past the end: the seek succeeds, the read comes short", ten, false, false, 20, 4,
         0, "", "UtilReadFileMemAlloc() read() {path} expected 4 bytes, read only 0\r\n"},
        {"length beyond the end", ten, false, false, 6, 5, 0, "",
         "UtilReadFileMemAlloc() read() {path} expected 5 bytes, read only 4\r\n"},
        {"part of a file", ten, false, false, 3, 4, 1, "", ""},
        {"whole file", ten, false, false, 0, 0, 1, "", ""},
    };
    const std::string dir = FreshDirectory("lanrefit-image");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = dir + "/image.bin";
        std::filesystem::remove(path);
        if (!row.missing) {
            std::ofstream(path, std::ios::binary) << row.content;
        }
        RunFlags = RUN_DEBUG;
        ImageIdentity id = {1, 1, 1, 1, "untouched"};
        std::vector<uint8_t> buffer = {1, 2, 3};
        uint32_t size = 12345;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int result = row.whole_image
                               ? ReadImageIdentity(path.c_str(), id)
                               : UtilReadFileMemAlloc(path.c_str(), row.offset, row.length,
                                                      IMAGE_FILE_MAX, &size, buffer);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        RunFlags = 0;
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(out, Fill(path, row.out));
        EXPECT_EQ(err, Fill(path, row.err));
        if (row.whole_image) {
            const bool read = row.result == 1;
            EXPECT_STREQ(id.MacText, read ? "0A1B2C3D4E5F" : "untouched");
            EXPECT_EQ(id.VendorId, read ? 0x1234 : 1);
            EXPECT_EQ(id.DeviceId, read ? 0xABCD : 1);
            EXPECT_EQ(id.SubsystemId, read ? 0x0002 : 1);
            EXPECT_EQ(id.SubsystemVendorId, read ? 0x5678 : 1);
        } else if (row.result == 1) {
            // The bytes asked for, then 16 zeros.
            const size_t length = row.length != 0 ? row.length : row.content.size();
            std::string expected = row.content.substr(row.offset, length) + std::string(16, '\0');
            EXPECT_EQ(size, length);
            EXPECT_EQ(std::string(buffer.begin(), buffer.end()), expected);
        } else {
            EXPECT_TRUE(buffer.empty());
            EXPECT_EQ(size, 12345u);
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
