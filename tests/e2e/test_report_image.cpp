// The image report (-I) of the real program: the identity line of a saved
// image, the three lines its zero versions give, and the messages for a
// missing file, a file that is no image and an image cut short; exit code 1
// and no work directory or log every time.
#include "sim_server.h"

namespace {

// The version columns of every -I line: the versions are never read from the file.
const char kZeroVersions[] = "0 0 - - - - - - \n- - - \n- - - \n";

enum FileKind { IMAGE, MISSING, TEXT, SHORT_IMAGE };

struct ImageCase {
    const char *name;
    FileKind kind;
    std::string out; // after "<file> "
    std::string err; // with -debug
};

const ImageCase kCases[] = {
    {"SavedImage", IMAGE, std::string("0A1B2C3D4E5F 1234-ABCD-5678-0001 ") + kZeroVersions, ""},
    {"MissingFile", MISSING,
     std::string(
         "Failed to read file (image.bin) into memory!\r\nimage.bin  0000-0000-0000-0000 ") +
         kZeroVersions,
     "UtilReadFileMemAlloc() open() image.bin failed 2\r\n"},
    {"NotAnImage", TEXT, std::string(" 0000-0000-0000-0000 ") + kZeroVersions,
     "Image file did not match magic value.\r\n"},
    {"ImageCutInsideItsMac", SHORT_IMAGE, std::string(" 0000-0000-0000-0000 ") + kZeroVersions,
     "Image file is too short.\r\n"},
};

void PrintTo(const ImageCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportImageTest : public E2eTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ReportImageTest, PrintsTheIdentityLine) {
    const ImageCase &c = GetParam();
    const std::string file = work_ + "/image.bin";
    if (c.kind == IMAGE || c.kind == SHORT_IMAGE) {
        // A full image with versions installed: the report still shows none.
        ASSERT_TRUE(RunSimtool({"nvram", file, "--pci", "1234-ABCD-5678-0001", "--mac",
                                "0A1B2C3D4E5F", "--bootcode", "5.0.3", "--preboot", "8.3.2",
                                "--ump", "1.1.9", "--entry", "1:pxe"}));
    }
    if (c.kind == SHORT_IMAGE) {
        WriteFileText(file, ReadFileText(file).substr(0, 315));
    }
    if (c.kind == TEXT) {
        WriteFileText(file, "0A1B2C3D4E5F.bc5.0.3.bin\n");
    }
    RunResult r = Run({"-debug", "-I", "image.bin"});
    EXPECT_EQ(r.exit_code, 1);
    const std::string line = c.kind == MISSING ? c.out : "image.bin " + c.out;
    EXPECT_EQ(r.out, Console(line));
    EXPECT_EQ(r.err, Console(c.err));
    EXPECT_FALSE(FileExists(SystemDriveDir(work_) + "/VLMSYSTEM"));
}

INSTANTIATE_TEST_SUITE_P(ReportImage, ReportImageTest, ::testing::ValuesIn(kCases),
                         RowName<ImageCase>);

} // namespace
