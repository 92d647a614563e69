#include "runtime/picture.h"

#include "runtime/drives.h"
#include "runtime/error.h"
#include "runtime/qt/picture_data.h"
#include "support/temp_tree.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

using testsupport::TempTree;
namespace fs = std::filesystem;

rt::ErrorNumber errorOf(std::string_view name) {
    try {
        rt::loadPicture(name);
    } catch (const rt::Error& e) {
        return e.number();
    }
    ADD_FAILURE() << "loadPicture(" << name << ") raised no error";
    return rt::ErrorNumber::Internal;
}

struct PathCase {
    const char* fileName;
    const char* underPrefix; // "" means: maps to nothing; null: used as given
};

class PicturePath : public testing::TestWithParam<PathCase> {};

TEST_P(PicturePath, MapsDriveLettersIntoTheInstallation) {
    rt::overrideInstallPrefix("/opt/orbitale");
    const PathCase& c = GetParam();
    const std::string mapped = rt::picturePath(c.fileName);
    rt::overrideInstallPrefix({});
    if (!c.underPrefix)
        EXPECT_EQ(mapped, c.fileName);
    else if (!*c.underPrefix)
        EXPECT_EQ(mapped, "");
    else
        EXPECT_EQ(mapped, std::string("/opt/orbitale/share/orbitale/drives/") + c.underPrefix);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PicturePath,
    testing::Values(PathCase{"E:\\VB\\dq3.gif", "E/VB/dq3.gif"},
                    PathCase{"E:\\VB\\qdh_nr.jpg", "E/VB/qdh_nr.jpg"},
                    PathCase{"e:\\VB\\Dq3.GIF", "E/VB/Dq3.GIF"}, // names as given
                    PathCase{"E:\\VB\\\\dq3.gif", "E/VB/dq3.gif"},
                    PathCase{"E:\\VB\\..\\..\\..\\etc\\passwd", ""},
                    PathCase{"E:\\VB\\.\\dq3.gif", ""}, PathCase{"E:\\VB/../x.gif", ""},
                    PathCase{"/tmp/picture.gif", nullptr}, PathCase{"E:VB", nullptr}));

TEST(PicturePath, PrefixIsTheFolderAboveTheExecutables) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(rt::installPrefix(), exe.parent_path().parent_path().string());
    // Not the working directory.
    const fs::path before = fs::current_path();
    fs::current_path("/");
    EXPECT_EQ(rt::picturePath("E:\\VB\\dq3.gif"),
              (exe.parent_path().parent_path() / "share/orbitale/drives/E/VB/dq3.gif").string());
    fs::current_path(before);
}

struct ShippedCase {
    const char* fileName;
    int width;
    int height;
    int frames;
};

class ShippedPicture : public testing::TestWithParam<ShippedCase> {};

TEST_P(ShippedPicture, DecodesWhole) {
    const ShippedCase& c = GetParam();
    const rt::Picture p = rt::loadPicture(c.fileName);
    EXPECT_EQ(p.width(), c.width);
    EXPECT_EQ(p.height(), c.height);
    EXPECT_EQ(p.frameCount(), c.frames);
    if (c.frames > 1) { // an animation's frames each stay a while
        for (int delay : p.data()->delays)
            EXPECT_GE(delay, 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedPicture,
                         testing::Values(ShippedCase{"E:\\VB\\dq3.gif", 98, 98, 24},
                                         ShippedCase{"E:\\VB\\dq4.gif", 98, 98, 24},
                                         ShippedCase{"E:\\VB\\xxgdt.jpg", 684, 484, 1},
                                         ShippedCase{"E:\\VB\\ltby1.jpg", 684, 484, 1},
                                         ShippedCase{"E:\\VB\\bjtam.jpg", 684, 484, 1},
                                         ShippedCase{"E:\\VB\\qdh_nr.jpg", 684, 484, 1}));

TEST(ShippedPicture, TheEarthHasTransparentCornersAndAnOpaqueMiddle) {
    const rt::Picture earth = rt::loadPicture("E:\\VB\\dq3.gif");
    for (const QImage& frame : earth.data()->frames) {
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(frame.pixel(97, 97)), 0);
        EXPECT_EQ(qAlpha(frame.pixel(49, 49)), 255);
    }
    // It spins: its frames differ.
    EXPECT_NE(earth.data()->frames[0], earth.data()->frames[6]);
}

TEST(LoadPicture, ReadsTheFileAnewEveryTimeAndKeepsNothingOpen) {
    TempTree tree;
    tree.copyShipped("xxgdt.jpg", std::string::npos, "scene.jpg");
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = openFiles();
    const rt::Picture first = rt::loadPicture("E:\\VB\\scene.jpg");
    EXPECT_EQ(openFiles(), before);
    tree.copyShipped("ltby1.jpg", std::string::npos, "scene.jpg");
    const rt::Picture second = rt::loadPicture("E:\\VB\\scene.jpg");
    EXPECT_FALSE(first == second);
    EXPECT_NE(first.data()->frames[0], second.data()->frames[0]);
}

// Every kind of bad file: the error, and never a hang or a crash.
struct BadCase {
    const char* what;
    std::function<void(const TempTree&)> make; // puts something at E:\VB\bad
    rt::ErrorNumber error;
};

std::string gifHeader(int width, int height) {
    std::string s = "GIF89a";
    s += static_cast<char>(width & 0xff);
    s += static_cast<char>(width >> 8);
    s += static_cast<char>(height & 0xff);
    s += static_cast<char>(height >> 8);
    s += std::string("\x80\x00\x00", 3);
    s += std::string(6, '\0'); // a two-colour palette
    s += std::string("\x2c\0\0\0\0", 5);
    s += static_cast<char>(width & 0xff);
    s += static_cast<char>(width >> 8);
    s += static_cast<char>(height & 0xff);
    s += static_cast<char>(height >> 8);
    s += std::string("\x00\x02\x02\x4c\x01\x00\x3b", 7);
    return s;
}

const BadCase badCases[] = {
    {"Missing", [](const TempTree&) {}, rt::ErrorNumber::FileNotFound},
    {"DanglingLink", [](const TempTree& t) { fs::create_symlink(t.vb() / "gone", t.vb() / "bad"); },
     rt::ErrorNumber::FileNotFound},
    {"LinkLoop", [](const TempTree& t) { fs::create_symlink(t.vb() / "bad", t.vb() / "bad"); },
     rt::ErrorNumber::FileNotFound},
    {"Directory", [](const TempTree& t) { fs::create_directory(t.vb() / "bad"); },
     rt::ErrorNumber::FileAccess},
    {"Fifo", [](const TempTree& t) { ::mkfifo((t.vb() / "bad").c_str(), 0644); },
     rt::ErrorNumber::FileAccess},
    {"Socket",
     [](const TempTree& t) {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         const std::string path = (t.vb() / "bad").string();
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
         ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
         ::close(fd);
     },
     rt::ErrorNumber::FileAccess},
    {"Device", [](const TempTree& t) { fs::create_symlink("/dev/zero", t.vb() / "bad"); },
     rt::ErrorNumber::FileAccess},
    {"Empty", [](const TempTree& t) { t.write("bad", ""); }, rt::ErrorNumber::InvalidPicture},
    {"Text", [](const TempTree& t) { t.write("bad", "not a picture at all\n"); },
     rt::ErrorNumber::InvalidPicture},
    {"TruncatedGif", [](const TempTree& t) { t.copyShipped("dq3.gif", 30000, "bad"); },
     rt::ErrorNumber::InvalidPicture},
    {"GifCutInItsHeader", [](const TempTree& t) { t.copyShipped("dq3.gif", 20, "bad"); },
     rt::ErrorNumber::InvalidPicture},
    {"TruncatedJpeg", [](const TempTree& t) { t.copyShipped("ltby1.jpg", 9000, "bad"); },
     rt::ErrorNumber::InvalidPicture},
    {"CorruptJpeg",
     [](const TempTree& t) {
         t.copyShipped("ltby1.jpg", std::string::npos, "bad");
         std::fstream f(t.vb() / "bad", std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(2); // the markers after the start of image
         f.write(std::string(400, '\x55').data(), 400);
     },
     rt::ErrorNumber::InvalidPicture},
    {"GifClaimingAHugeSize", [](const TempTree& t) { t.write("bad", gifHeader(30000, 30000)); },
     rt::ErrorNumber::OutOfMemory},
    {"GifFrameBeyondTheFrameBudget",
     [](const TempTree& t) { t.write("bad", gifHeader(8192, 4096)); },
     rt::ErrorNumber::OutOfMemory},
    {"FileLargerThanTheBudget",
     [](const TempTree& t) {
         t.write("bad", "GIF89a");
         fs::resize_file(t.vb() / "bad", rt::pictureFileLimit + 1);
     },
     rt::ErrorNumber::OutOfMemory},
};

class BadPicture : public testing::TestWithParam<BadCase> {};

TEST_P(BadPicture, RaisesItsErrorNamingTheFileAndWhereItWasLooked) {
    TempTree tree;
    GetParam().make(tree);
    try {
        rt::loadPicture("E:\\VB\\bad");
        FAIL() << "no error";
    } catch (const rt::Error& e) {
        EXPECT_EQ(e.number(), GetParam().error) << e.what();
        EXPECT_EQ(e.file(), "E:\\VB\\bad");
        // Not found: every place looked at, the user's first.
        const std::string installed = (tree.vb() / "bad").string();
        EXPECT_EQ(e.lookedAt(), GetParam().error == rt::ErrorNumber::FileNotFound
                                    ? (tree.ownVb() / "bad").string() + "\n" + installed
                                    : installed);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadPicture, testing::ValuesIn(badCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(BadPicture, AFileThatCannotBeReadIsAnAccessError) {
    TempTree tree;
    tree.copyShipped("ltby1.jpg", std::string::npos, "locked.jpg");
    fs::permissions(tree.vb() / "locked.jpg", fs::perms::none);
    for (fs::path p = tree.vb(); p != fs::temp_directory_path(); p = p.parent_path())
        fs::permissions(p, fs::perms(0755));
    if (::geteuid() != 0) {
        EXPECT_EQ(errorOf("E:\\VB\\locked.jpg"), rt::ErrorNumber::FileAccess);
        return;
    }
    // Root reads everything: try as nobody, in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        try {
            rt::loadPicture("E:\\VB\\locked.jpg");
        } catch (const rt::Error& e) {
            ::_exit(e.number() == rt::ErrorNumber::FileAccess ? 0 : 1);
        }
        ::_exit(2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// One's own picture in the user's drive folder, in front of the installed
// one: which file a name leads to, and what loading it gives.
enum class Shows { Installed, Own, Nothing };
struct OwnCase {
    const char* what;
    std::function<void(const TempTree&)> make; // the user's side of E:\VB\scene.jpg
    enum { Tree, Unset, Relative, Empty, AbsurdlyLong } dataHome; // XDG_DATA_HOME
    Shows shows;
    rt::ErrorNumber error;
};

void putOwn(const TempTree& t, std::string_view from, std::size_t keep = std::string::npos) {
    fs::create_directories(t.ownVb());
    t.copyShipped(from, keep, "own.jpg");
    fs::rename(t.vb() / "own.jpg", t.ownVb() / "scene.jpg");
}

// The same place below HOME, where XDG_DATA_HOME is not to be used.
void putOwnInHome(const TempTree& t) {
    putOwn(t, "ltby1.jpg");
    fs::create_directories(t.root() / "home/.local");
    fs::rename(t.root() / "user", t.root() / "home/.local/share");
}

const OwnCase ownCases[] = {
    {"OwnShowsInstead",
     [](const TempTree& t) { putOwn(t, "ltby1.jpg"); },
     OwnCase::Tree,
     Shows::Own,
     {}},
    {"NoneOfOnesOwn", [](const TempTree&) {}, OwnCase::Tree, Shows::Installed, {}},
    {"OwnDamagedIsReportedNotPassedOver", [](const TempTree& t) { putOwn(t, "ltby1.jpg", 9000); },
     OwnCase::Tree, Shows::Own, rt::ErrorNumber::InvalidPicture},
    {"OwnIsADirectory", [](const TempTree& t) { fs::create_directories(t.ownVb() / "scene.jpg"); },
     OwnCase::Tree, Shows::Own, rt::ErrorNumber::FileAccess},
    {"OwnIsADanglingLink",
     [](const TempTree& t) {
         fs::create_directories(t.ownVb());
         fs::create_symlink(t.ownVb() / "gone.jpg", t.ownVb() / "scene.jpg");
     },
     OwnCase::Tree, Shows::Own, rt::ErrorNumber::FileNotFound},
    {"AFileWhereTheFolderShouldBe",
     [](const TempTree& t) {
         fs::create_directories(t.root() / "user");
         std::ofstream(t.root() / "user/orbitale") << "not a folder";
     },
     OwnCase::Tree, Shows::Own, rt::ErrorNumber::FileAccess},
    {"ALoopOfLinksForTheFolder",
     [](const TempTree& t) {
         fs::create_directories(t.root() / "user");
         fs::create_symlink(t.root() / "user/orbitale", t.root() / "user/orbitale");
     },
     OwnCase::Tree, Shows::Own, rt::ErrorNumber::FileAccess},
    {"DataHomeUnset", putOwnInHome, OwnCase::Unset, Shows::Own, {}},
    {"DataHomeRelativeIsIgnored", putOwnInHome, OwnCase::Relative, Shows::Own, {}},
    {"DataHomeEmptyIsIgnored", putOwnInHome, OwnCase::Empty, Shows::Own, {}},
    {"DataHomeAbsurdlyLong", [](const TempTree&) {}, OwnCase::AbsurdlyLong, Shows::Own,
     rt::ErrorNumber::FileAccess},
};

class OwnPicture : public testing::TestWithParam<OwnCase> {};

TEST_P(OwnPicture, LeadsToTheUsersFileFirstAndReportsOnIt) {
    const OwnCase& c = GetParam();
    TempTree tree;
    tree.copyShipped("xxgdt.jpg", std::string::npos, "scene.jpg");
    // Every row loads the installed picture first, as an earlier click
    // would: what the user puts there afterwards shows at the next load.
    const auto shown = [](const rt::Picture& p) { return p.data()->frames[0].pixel(342, 100); };
    const QRgb installed = shown(rt::loadPicture("E:\\VB\\scene.jpg"));
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("HOME", (tree.root() / "home").c_str(), 1);
    if (c.dataHome == OwnCase::Unset)
        ::unsetenv("XDG_DATA_HOME");
    else if (c.dataHome != OwnCase::Tree)
        ::setenv("XDG_DATA_HOME",
                 c.dataHome == OwnCase::Relative ? "user"
                 : c.dataHome == OwnCase::Empty  ? ""
                                                 : ("/" + std::string(70000, 'x')).c_str(),
                 1);
    c.make(tree);

    const rt::PicturePlace place = rt::findPicture("E:\\VB\\scene.jpg");
    EXPECT_EQ(place.own, c.shows == Shows::Own);
    if (c.shows == Shows::Own) {
        EXPECT_TRUE(place.path.ends_with("/orbitale/drives/E/VB/scene.jpg")) << place.path;
    }
    try {
        const rt::Picture p = rt::loadPicture("E:\\VB\\scene.jpg");
        EXPECT_EQ(c.error, rt::ErrorNumber{}) << "loaded";
        EXPECT_EQ(shown(p) == installed, c.shows == Shows::Installed);
    } catch (const rt::Error& e) {
        EXPECT_EQ(e.number(), c.error) << e.what();
        // The report names the user's file, and not the installed one.
        EXPECT_EQ(e.lookedAt(), place.path);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, OwnPicture, testing::ValuesIn(ownCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(BadPicture, NamesWithDotDotMapToNothingAndAreNotFound) {
    EXPECT_EQ(errorOf("E:\\VB\\..\\..\\..\\..\\etc\\hostname"), rt::ErrorNumber::FileNotFound);
}

} // namespace
