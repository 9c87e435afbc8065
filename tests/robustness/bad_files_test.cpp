// The lenstrove command given bad files and bad places to write: truncated,
// corrupt and empty PNG, JPEG, TIFF and OpenEXR files, a header declaring
// an absurd size, a header declaring no pixels, an output on a full file
// system, in a read-only one, under a parent that is a regular file, and
// /dev/full itself. Each must end with one clear line on standard error, a
// non-zero exit status, and no output or temporary file left behind.
//
// Root (as CI runs) may write into any folder whatever its mode bits, so
// the full and read-only cases mount a small tmpfs, full or read-only, in a
// private mount namespace (unshare -m) that vanishes with the command. Where
// that is not allowed those two cases are skipped, saying why; a parent
// that is a regular file fails for root too and always runs.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kCommand = LENSTROVE_COMMAND;
const std::string kDataDir = LENSTROVE_TEST_DATA_DIR;

struct Result {
  int exitCode = -1;
  std::string err;
};

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs a shell command line with standard error captured.
Result RunShell(const std::string& line, const fs::path& scratch) {
  const fs::path errFile = scratch / "stderr.txt";
  const int status = std::system((line + " </dev/null >/dev/null 2>" + Quote(errFile)).c_str());
  Result result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.err = ReadFile(errFile);
  fs::remove(errFile);
  return result;
}

std::string CommandLine(const std::vector<std::string>& args) {
  std::string line = Quote(kCommand);
  for (const std::string& a : args) line += " " + Quote(a);
  return line;
}

// The names in a folder, for "nothing was left behind" checks.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBigEndian(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// A PNG whose header (with a valid checksum) declares width x height.
std::string PngDeclaring(std::string png, uint32_t width, uint32_t height) {
  // Signature (8), length (4), "IHDR" at 12, width at 16, height at 20,
  // the header's CRC over type and data at 29.
  PutBigEndian(png, 16, width);
  PutBigEndian(png, 20, height);
  PutBigEndian(png, 29, Crc32(png.substr(12, 17)));
  return png;
}

class BadFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char name[] = "/tmp/lenstrove-bad-files-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    scratch_ = name;
    // Good files of every format, written by the command itself from a
    // sample; the bad ones are made from them.
    const fs::path sample = fs::path(kDataDir) / "coffee.png";
    for (const char* ext : {"png", "jpg", "tif", "exr"}) {
      const fs::path good = scratch_ / (std::string("good.") + ext);
      const Result made = RunShell(CommandLine({"render", "-q", "-j", "1", sample.string(), good.string()}), scratch_);
      ASSERT_EQ(made.exitCode, 0) << made.err;
    }
  }
  static void TearDownTestSuite() { fs::remove_all(scratch_); }

  void SetUp() override {
    out_ = scratch_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(out_);
  }
  void TearDown() override { fs::remove_all(out_); }

  // Renders `input` to out_/NAME and checks the refusal: exit status 1, one
  // "lenstrove: error:" line naming the file, nothing left in out_.
  void ExpectRefused(const fs::path& input, const std::string& outputName, const std::string& expectedWords) {
    const fs::path output = out_ / outputName;
    const Result r = RunShell(CommandLine({"render", "-q", "-j", "2", input.string(), output.string()}), scratch_);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("lenstrove: error: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(expectedWords), std::string::npos) << r.err;
    EXPECT_EQ(Listing(out_), std::vector<std::string>{}) << "left behind after: " << r.err;
    // The next case starts from an empty folder whatever this one left.
    for (const auto& entry : fs::directory_iterator(out_)) fs::remove_all(entry.path());
  }

  static fs::path Good(const std::string& ext) { return scratch_ / ("good." + ext); }

  static inline fs::path scratch_;
  fs::path out_;
};

class BadInputFormat : public BadFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadInputFormat, TruncatedCorruptAndEmptyFilesAreRefused) {
  const std::string ext = GetParam();
  const std::string good = ReadFile(Good(ext));
  ASSERT_GT(good.size(), 64u);

  // Cut short: the header survives, most of the pixel data does not.
  const fs::path truncated = out_.parent_path() / ("truncated." + ext);
  WriteFile(truncated, good.substr(0, good.size() / 3));
  ExpectRefused(truncated, "out.png", "cannot read input");

  // The signature and the start of the header overwritten.
  std::string corrupt = good;
  for (size_t i = 0; i < 32; ++i) corrupt[i] = static_cast<char>(0x5A ^ i);
  const fs::path corrupted = out_.parent_path() / ("corrupt." + ext);
  WriteFile(corrupted, corrupt);
  ExpectRefused(corrupted, "out.png", "cannot read input");

  const fs::path empty = out_.parent_path() / ("empty." + ext);
  WriteFile(empty, "");
  ExpectRefused(empty, "out.png", "cannot read input");

  for (const fs::path& p : {truncated, corrupted, empty}) fs::remove(p);
}

INSTANTIATE_TEST_SUITE_P(Formats, BadInputFormat, ::testing::Values("png", "jpg", "tif", "exr"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(BadFiles, DeclaredSizesAreCheckedBeforeAnyPixelIsRead) {
  const std::string png = ReadFile(Good("png"));

  // 100000 x 100000 pixels would need 40 GB as bytes: refused by the limit
  // with a message saying so, long before memory runs out.
  const fs::path absurd = out_.parent_path() / "absurd.png";
  WriteFile(absurd, PngDeclaring(png, 100000, 100000));
  ExpectRefused(absurd, "out.png", "above the limit");

  // The largest size a PNG header can state.
  const fs::path largest = out_.parent_path() / "largest.png";
  WriteFile(largest, PngDeclaring(png, 0x7FFFFFFF, 0x7FFFFFFF));
  ExpectRefused(largest, "out.png", "cannot read input");

  // No pixels at all.
  const fs::path zeroWidth = out_.parent_path() / "zero-width.png";
  WriteFile(zeroWidth, PngDeclaring(png, 0, 16));
  ExpectRefused(zeroWidth, "out.png", "cannot read input");

  // The limit applies to real files too, in every format.
  for (const char* ext : {"png", "jpg", "tif", "exr"}) {
    const fs::path output = out_ / "out.png";
    const Result r = RunShell(
        CommandLine({"render", "-q", "--max-pixels", "100", Good(ext).string(), output.string()}), scratch_);
    EXPECT_EQ(r.exitCode, 1) << ext << ": " << r.err;
    EXPECT_NE(r.err.find("above the limit of 100 pixels"), std::string::npos) << ext << ": " << r.err;
    EXPECT_FALSE(fs::exists(output)) << ext;
  }
  for (const fs::path& p : {absurd, largest, zeroWidth}) fs::remove(p);
}

// A TIFF of 62979 x 4 pixels whose header claims strips of 65311 rows: the
// reader would allocate the whole strip, about 49 GB, before decoding it.
TEST_F(BadFiles, AForgedStripSizeIsRefusedLikeAForgedPictureSize) {
  const fs::path forged = fs::path(__FILE__).parent_path() / "data" / "forged-strip.tif";
  ExpectRefused(forged, "out.png", "declared strip or tile");
}

TEST_F(BadFiles, OutputsThatCannotBeWrittenLeaveNothingBehind) {
  // A parent that is a regular file fails for root as for anyone.
  const fs::path notAFolder = out_ / "plain-file";
  WriteFile(notAFolder, "x");
  const Result r = RunShell(
      CommandLine({"render", "-q", Good("png").string(), (notAFolder / "out.png").string()}), scratch_);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("cannot write output"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(out_), std::vector<std::string>{"plain-file"});
  fs::remove(notAFolder);

  // /dev/full as the output name: refused with a clear reason, and /dev
  // gains no temporary file.
  const std::vector<std::string> devBefore = Listing("/dev");
  const Result full = RunShell(CommandLine({"render", "-q", Good("png").string(), "/dev/full"}), scratch_);
  EXPECT_EQ(full.exitCode, 1) << full.err;
  EXPECT_NE(full.err.find("cannot write output '/dev/full'"), std::string::npos) << full.err;
  EXPECT_EQ(Listing("/dev"), devBefore);
}

// A private mount namespace with a tmpfs at `folder`, then the command; the
// listing of the folder is printed after it, as the mount disappears with
// the namespace.
Result RunInPrivateMount(const fs::path& folder, const std::string& mountOptions, const std::string& prepare,
                         const std::vector<std::string>& args, const fs::path& scratch, std::string* listing) {
  const fs::path listFile = scratch / "listing.txt";
  const std::string script = "mount -t tmpfs -o " + mountOptions + " tmpfs " + Quote(folder.string()) +
                             " || exit 97; " + prepare + CommandLine(args) + "; status=$?; ls -A " +
                             Quote(folder.string()) + " > " + Quote(listFile.string()) + "; exit $status";
  Result r = RunShell("unshare -m sh -c " + Quote(script), scratch);
  *listing = ReadFile(listFile);
  fs::remove(listFile);
  return r;
}

bool PrivateMountsWork(const fs::path& scratch) {
  const fs::path probe = scratch / "mount-probe";
  fs::create_directories(probe);
  const int status = std::system(
      ("unshare -m sh -c " + Quote("mount -t tmpfs -o size=4k tmpfs " + Quote(probe.string())) + " 2>/dev/null")
          .c_str());
  fs::remove_all(probe);
  return status == 0;
}

TEST_F(BadFiles, FullAndReadOnlyFileSystemsGiveAClearErrorAndNoFile) {
  if (!PrivateMountsWork(scratch_))
    GTEST_SKIP() << "this machine does not allow a private tmpfs mount (unshare -m), needed to make a "
                    "full or read-only file system that refuses root";
  const fs::path target = out_ / "mounted";
  fs::create_directories(target);
  for (const char* ext : {"png", "jpg", "tif", "exr"}) {
    SCOPED_TRACE(ext);
    const std::string output = (target / (std::string("out.") + ext)).string();
    std::string listing;
    // Full: 64 KiB, of which a filler takes all but 4 KiB; every format's
    // output of the sample is far larger.
    const Result full = RunInPrivateMount(
        target, "size=64k", "head -c 61440 /dev/zero > " + Quote((target / "filler").string()) + "; ",
        {"render", "-q", Good("png").string(), output}, scratch_, &listing);
    ASSERT_NE(full.exitCode, 97) << "mounting failed: " << full.err;
    EXPECT_EQ(full.exitCode, 1) << full.err;
    EXPECT_NE(full.err.find("cannot write output"), std::string::npos) << full.err;
    EXPECT_EQ(listing, "filler\n") << "left on the full file system";

    const Result readOnly =
        RunInPrivateMount(target, "ro,size=64k", "", {"render", "-q", Good("png").string(), output}, scratch_,
                          &listing);
    ASSERT_NE(readOnly.exitCode, 97) << "mounting failed: " << readOnly.err;
    EXPECT_EQ(readOnly.exitCode, 1) << readOnly.err;
    EXPECT_NE(readOnly.err.find("cannot write output"), std::string::npos) << readOnly.err;
    EXPECT_EQ(listing, "");
  }
}

TEST_F(BadFiles, ASequenceWithOneBrokenFrameFailsAndKeepsOnlyWholeFrames) {
  // Several workers; frame 3 is truncated. The run fails naming that
  // frame, and every output that exists is a complete picture.
  const fs::path inputs = out_.parent_path() / "sequence";
  fs::create_directories(inputs);
  const std::string good = ReadFile(Good("png"));
  for (int frame = 1; frame <= 6; ++frame) {
    const std::string name = "in." + std::to_string(frame) + ".png";
    WriteFile(inputs / name, frame == 3 ? good.substr(0, good.size() / 2) : good);
  }
  const Result r = RunShell(CommandLine({"render", "-q", "-j", "3", "-f", "1-6", (inputs / "in.#.png").string(),
                                         (out_ / "out.#.png").string()}),
                            scratch_);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("in.3.png"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out_ / "out.3.png"));
  for (const std::string& name : Listing(out_)) {
    EXPECT_EQ(name.rfind("out.", 0), 0u) << "stray file " << name;
    const Result check = RunShell(CommandLine({"render", "-q", (out_ / name).string(), (out_ / "check.png").string()}),
                                  scratch_);
    EXPECT_EQ(check.exitCode, 0) << name << " is not a whole picture: " << check.err;
    fs::remove(out_ / "check.png");
  }
  fs::remove_all(inputs);
}

}  // namespace
