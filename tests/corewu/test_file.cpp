// TFile, TAutoFile and TFileString.
#include "testsupport.h"

#include <fstream>

using testsupport::CatchError;
using testsupport::TempPath;
using testsupport::WideTempPath;

TEST(TFile, WriteSeekReadTruncate)
{
    TFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Handle(), INVALID_HANDLE_VALUE);
    file.Open(WideTempPath("data.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_TRUE(file.IsOpen());
    file.Write("0123456789", 10);
    EXPECT_EQ(file.Length(), 10u);
    EXPECT_EQ(file.Position(), 10u);
    EXPECT_EQ(file.Seek(2, 0), 2u);
    EXPECT_EQ(file.Seek(3, 1), 5u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 16), 5u);
    EXPECT_EQ(std::string(buffer, 5), "56789");
    EXPECT_EQ(file.Read(buffer, 16), 0u); // the end
    EXPECT_EQ(file.End(), 10u);
    file.Seek(4, 0);
    file.Truncate();
    EXPECT_EQ(file.Length(), 4u);
    file.Close();
    file.Close(); // harmless
    EXPECT_FALSE(file.IsOpen());
}

TEST(TFile, FailuresCarryTheSystemErrorAndTheFileName)
{
    TFile file;
    const auto caught =
        CatchError([&] { file.Open(WideTempPath("missing"), GENERIC_READ, 0, OPEN_EXISTING); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(caught.catalog, TFile::FileErrors().Number());
    EXPECT_EQ(caught.message, 0);
    EXPECT_NE(caught.text.find("missing"), std::string::npos) << caught.text;
    EXPECT_FALSE(file.IsOpen());
    const auto notOpen = CatchError([&] {
        char byte;
        file.Read(&byte, 1);
    });
    EXPECT_EQ(notOpen.message, 5);
}

TEST(TFile, StaticHelpers)
{
    std::ofstream(TempPath("exists")) << "x";
    EXPECT_TRUE(TFile::Exist(WideTempPath("exists")));
    EXPECT_FALSE(TFile::Exist(WideTempPath("absent")));
    EXPECT_FALSE(TFile::Exist(WideTempPath(""))); // a directory is no file
    EXPECT_EQ(TFile::GetTmpPath(), WideTempPath(""));
    EXPECT_NE(TFile::GetExeName().AsAnsi().find("corewu_test_file"), std::string::npos);
}

TEST(TAutoFile, WritesUtf8Lines)
{
    {
        TAutoFile out(WideTempPath("lines.txt"));
        out.PutLine(TEXT("first"));
        out.PutText(TEXT("gr\u00FC\u00DF"));
        out.PutLine(TEXT(""));
    }
    std::ifstream in(TempPath("lines.txt"), std::ios::binary);
    const std::string content(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(content, "first\ngr\xC3\xBC\xC3\x9F\n");
}

TEST(TFileString, PathPieces)
{
    struct Case
    {
        const WCHAR* path;
        const WCHAR* nameExt;
        const WCHAR* directory;
        const WCHAR* ext;
    };
    const Case cases[] = {
        {TEXT("/a/b/file.txt"), TEXT("file.txt"), TEXT("/a/b/"), TEXT(".txt")},
        {TEXT("file"), TEXT("file"), TEXT(""), TEXT("")},
        {TEXT("/dir/"), TEXT(""), TEXT("/dir/"), TEXT("")},
        {TEXT("/a/.profile"), TEXT(".profile"), TEXT("/a/"), TEXT("")},
        {TEXT("/a/back\\slash.tar.gz"), TEXT("back\\slash.tar.gz"), TEXT("/a/"), TEXT(".gz")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TFileString::GetNameExt(c.path), c.nameExt);
        EXPECT_EQ(TFileString::GetPath(c.path), c.directory);
        EXPECT_EQ(TFileString::GetExt(c.path), c.ext);
    }
    EXPECT_EQ(TFileString::Join(TEXT("/tmp"), TEXT("x")), TEXT("/tmp/x"));
    EXPECT_EQ(TFileString::Join(TEXT("/tmp/"), TEXT("x")), TEXT("/tmp/x"));
}
